#pragma once

#include "engine/StoredSettings.h"

#include <QDialog>
#include <QHash>
#include <QString>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

// The modal "Encoding Options" dialog: a preset ("Pocket PC Normal" and the
// presets after it, each described below the list) or "User Define" settings
// (encoder, video bit rate, frame rate, picture size), subtitle burn-in,
// shut-down after the batch, even loudness and how many encodes run at once.
// Every opening reloads the stored settings into m_settings, which the controls
// edit; OK stores them (the next run's plan is taken from what is stored),
// Cancel changes nothing. The main form owns one for its whole life.
class COptionDlg final : public QDialog
{
    Q_OBJECT

public:
    // Control ids of the layout, named as the settings they show
    // (StoredSettings): IdModePreset and IdModeUserDefine are nMode's radio
    // buttons.
    enum ControlId
    {
        IdOk = 1,
        IdCancel = 2,
        IdModePreset = 1003,
        IdModeUserDefine = 1004,
        IdBurnSubtitle = 1005,
        IdShutdown = 1006,
        IdEncoder = 1007,
        IdFrameRate = 1009,
        IdBitRate = 1010,
        IdWidth = 1011,
        IdHeight = 1012,
        IdRatio = 1013,
        IdParallel = 1014,
        IdPreset = 1015,
        IdEvenLoudness = 1016
    };

    explicit COptionDlg(QWidget* parent = nullptr);

    // OnInitDialog, then the modal loop. QDialog::Accepted after OK.
    int DoModal();

    // Size 480 x 380 and LoadOptions; DoModal runs it before every opening.
    void OnInitDialog();
    // Loads m_settings from the store and every control from m_settings.
    void LoadOptions();
    // Lists and size edits usable exactly in User Define; pushes m_settings into
    // the check boxes, radio buttons and edits.
    void EnableModeControls();
    // A mode radio button was clicked.
    void OnModeChanged();
    // A preset was chosen in the list: its description.
    void OnPresetSelected();
    // Stores the settings and closes with Accepted. A list without a selected
    // entry stores nothing.
    void OnOK();

    // The control with a layout id, or null.
    QWidget* Control(int id) const { return m_controls.value(id); }

    // The settings the controls show; pulled from the controls, nMode is -1
    // when neither radio button is set.
    StoredSettings m_settings;
    // The presets, by name (Presets::All).
    QComboBox* m_cbPreset = nullptr;
    QComboBox* m_cbEncoder = nullptr;
    QComboBox* m_cbBitRate = nullptr;
    QComboBox* m_cbFrameRate = nullptr;
    QComboBox* m_cbRatio = nullptr;
    // "Encodes at once:": "Automatic" (stored 0), then 1 to the number of cores
    // (or to a larger stored number), entry n standing for n.
    QComboBox* m_cbParallel = nullptr;

private:
    // Pulls the control values into m_settings (true) or pushes them (false).
    void UpdateData(bool saveAndValidate);
    template <class Widget>
    Widget* Add(int id, Widget* widget, int x, int y, int width, int height);
    QComboBox* AddList(int id, const QStringList& entries, int x, int y, int width);
    // Fills "Encodes at once:" for a stored "Parallel" and selects it.
    void LoadParallel(DWORD stored);

    // Shows the selected aspect.
    void OnRatioSelected();

    QHash<int, QWidget*> m_controls;
    QRadioButton* m_radioModePreset = nullptr;
    QRadioButton* m_radioModeUserDefine = nullptr;
    QButtonGroup* m_modeGroup = nullptr;
    QCheckBox* m_checkBurnSubtitle = nullptr;
    QCheckBox* m_checkShutdown = nullptr;
    QCheckBox* m_checkEvenLoudness = nullptr;
    // The lines that describe the chosen preset.
    QList<QLabel*> m_presetLines;
    // "Screen Aspect Ratio: " and the aspect User Define encodes at.
    QLabel* m_labelRatio = nullptr;
    QLineEdit* m_editWidth = nullptr;
    QLineEdit* m_editHeight = nullptr;
};
