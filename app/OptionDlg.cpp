#include "OptionDlg.h"

#include "app/LightDialog.h"
#include "engine/Presets.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

using List = StoredSettings::List;

QString Caption(const char* text)
{
    return QString::fromLatin1(text);
}

// Selects the stored index in a list; a stored index outside the list leaves it
// without a selection.
void SelectStored(QComboBox* list, DWORD stored)
{
    list->setCurrentIndex(stored < DWORD(list->count()) ? int(stored) : -1);
}

// Takes a list's selected index; a list without a selection keeps the stored
// index, which lies outside the list and is therefore not stored again.
void TakeSelection(const QComboBox* list, DWORD& index)
{
    if (list->currentIndex() >= 0)
        index = DWORD(list->currentIndex());
}

} // namespace

COptionDlg::COptionDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Encoding Options"));
    ApplyLightDialogLook(*this);

    // The two group boxes have no captions of their own; the preset radio buttons
    // lie over their top edges and serve as their titles.
    Add(0, new QGroupBox(this), 7, 8, 306, 70);
    Add(0, new QGroupBox(this), 7, 88, 306, 84);
    m_radioModePreset =
        Add(IdModePreset, new QRadioButton(QStringLiteral(" Preset"), this), 14, 3, 100, 10);
    m_radioModeUserDefine = Add(
        IdModeUserDefine, new QRadioButton(QStringLiteral(" User Define "), this), 14, 83, 100, 10);
    for (QRadioButton* radio : {m_radioModePreset, m_radioModeUserDefine}) {
        radio->resize(radio->sizeHint().width(), radio->height());
        radio->setAutoFillBackground(true);
    }
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->addButton(m_radioModePreset, StoredSettings::ModePreset);
    m_modeGroup->addButton(m_radioModeUserDefine, StoredSettings::ModeUserDefine);

    // The presets' list on the first group's edge, beside its radio button.
    m_cbPreset = Add(IdPreset, new QComboBox(this), 60, 1, 100, 14);
    for (const EncodeProfile& preset : Presets::All())
        m_cbPreset->addItem(preset.strName);
    m_cbPreset->setMaxVisibleItems(int(Presets::All().size()));
    int y = 20;
    for (int line = 0; line < 5; ++line) {
        m_presetLines << Add(0, new QLabel(this), 20, y, 280, 9);
        y += 11;
    }

    Add(0, new QLabel(Caption(EncodeProfile::EncodingCaption), this), 20, 103, 72, 9);
    m_cbEncoder = AddList(IdEncoder, StoredSettings::ListTexts(List::Encoder), 95, 101, 80);
    Add(0, new QLabel(Caption(EncodeProfile::VideoRateCaption), this), 20, 120, 72, 9);
    m_cbBitRate = AddList(IdBitRate, StoredSettings::ListTexts(List::BitRate), 95, 118, 80);
    Add(0, new QLabel(Caption(EncodeProfile::FrameRateCaption), this), 20, 137, 72, 9);
    m_cbFrameRate = AddList(IdFrameRate, StoredSettings::ListTexts(List::FrameRate), 95, 135, 80);
    Add(0, new QLabel(Caption(EncodeProfile::PictureSizeCaption), this), 20, 154, 72, 9);
    m_editWidth = Add(IdWidth, new QLineEdit(this), 95, 152, 36, 13);
    Add(0, new QLabel(QStringLiteral("X"), this), 135, 154, 8, 9);
    m_editHeight = Add(IdHeight, new QLineEdit(this), 145, 152, 36, 13);
    // The aspect list keeps nRatio but is never shown; the line
    // below the size says which aspect User Define encodes at.
    Add(0, new QLabel(Caption(EncodeProfile::AspectCaption), this), 190, 103, 80, 9)->hide();
    m_cbRatio = AddList(IdRatio, StoredSettings::ListTexts(List::Ratio), 190, 115, 60);
    m_cbRatio->hide();
    m_labelRatio = Add(0, new QLabel(this), 190, 154, 110, 9);

    m_checkBurnSubtitle =
        Add(IdBurnSubtitle,
            new QCheckBox(QStringLiteral(" Mix subtitle to video file at encoding movie."), this),
            10, 177, 250, 10);
    m_checkShutdown =
        Add(IdShutdown,
            new QCheckBox(QStringLiteral(" Shutdown your windows after encoding finished."), this),
            10, 189, 250, 10);
    m_checkEvenLoudness =
        Add(IdEvenLoudness, new QCheckBox(QStringLiteral(" Even out loudness"), this), 10, 201, 250,
            10);

    // Beside the buttons, as it counts for both presets.
    Add(0, new QLabel(QStringLiteral("Encodes at once:"), this), 10, 219, 60, 9);
    m_cbParallel = Add(IdParallel, new QComboBox(this), 72, 216, 60, 14);

    auto* ok = Add(IdOk, new QPushButton(QStringLiteral("OK"), this), 200, 216, 54, 14);
    auto* cancel = Add(IdCancel, new QPushButton(QStringLiteral("Cancel"), this), 259, 216, 54, 14);
    ok->setDefault(true);
    ok->setAutoDefault(true);
    cancel->setAutoDefault(false);

    connect(m_radioModePreset, &QRadioButton::clicked, this, &COptionDlg::OnModeChanged);
    connect(m_radioModeUserDefine, &QRadioButton::clicked, this, &COptionDlg::OnModeChanged);
    connect(m_cbPreset, &QComboBox::currentIndexChanged, this, &COptionDlg::OnPresetSelected);
    connect(m_cbRatio, &QComboBox::currentIndexChanged, this, &COptionDlg::OnRatioSelected);
    connect(ok, &QPushButton::clicked, this, &COptionDlg::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(480, 380);
}

template <class Widget>
Widget* COptionDlg::Add(int id, Widget* widget, int x, int y, int width, int height)
{
    PlaceInDialogUnits(widget, x, y, width, height);
    if (id != 0)
        m_controls.insert(id, widget);
    return widget;
}

QComboBox* COptionDlg::AddList(int id, const QStringList& entries, int x, int y, int width)
{
    auto* list = Add(id, new QComboBox(this), x, y, width, 14);
    // A drop-down list with an edit field; only the selected entry is ever read.
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    list->addItems(entries);
    return list;
}

int COptionDlg::DoModal()
{
    OnInitDialog();
    return exec();
}

void COptionDlg::OnInitDialog()
{
    resize(480, 380);
    LoadOptions();
    if (m_modeGroup->checkedButton())
        m_modeGroup->checkedButton()->setFocus();
}

void COptionDlg::LoadOptions()
{
    m_settings = StoredSettings::Load();
    // An unknown stored name stands for the first preset.
    m_cbPreset->setCurrentIndex(std::max(0, m_cbPreset->findText(m_settings.strPreset)));
    OnPresetSelected();
    SelectStored(m_cbEncoder, m_settings.nEncoder);
    SelectStored(m_cbBitRate, m_settings.nBitRate);
    SelectStored(m_cbFrameRate, m_settings.nFrameRate);
    SelectStored(m_cbRatio, m_settings.nRatio);
    OnRatioSelected();
    LoadParallel(m_settings.nParallel);
    EnableModeControls();
}

void COptionDlg::LoadParallel(DWORD stored)
{
    const int last = std::max<int>(StoredSettings::CoreCount(),
                                   std::min<DWORD>(stored, StoredSettings::MaxParallel));
    m_cbParallel->clear();
    m_cbParallel->addItem(QStringLiteral("Automatic"));
    for (int n = 1; n <= std::min(last, StoredSettings::MaxParallel); ++n)
        m_cbParallel->addItem(QString::number(n));
    m_cbParallel->setCurrentIndex(int(std::min<DWORD>(stored, m_cbParallel->count() - 1)));
}

void COptionDlg::EnableModeControls()
{
    const bool userDefine = m_settings.UserDefine();
    m_cbPreset->setEnabled(!userDefine);
    for (QWidget* control : std::initializer_list<QWidget*>{m_cbEncoder, m_cbBitRate, m_cbFrameRate,
                                                            m_cbRatio, m_editWidth, m_editHeight})
        control->setEnabled(userDefine);
    UpdateData(false);
}

void COptionDlg::OnModeChanged()
{
    UpdateData(true);
    EnableModeControls();
}

void COptionDlg::OnPresetSelected()
{
    const EncodeProfile* preset = Presets::Find(m_cbPreset->currentText());
    const QStringList lines = preset ? preset->DescriptionLines() : QStringList();
    for (qsizetype i = 0; i < m_presetLines.size(); ++i)
        m_presetLines[i]->setText(i < lines.size() ? lines[i] : QString());
}

void COptionDlg::OnRatioSelected()
{
    const int index = m_cbRatio->currentIndex();
    m_labelRatio->setText(index < 0
                              ? QString()
                              : Caption(EncodeProfile::AspectCaption) +
                                    QLatin1String(StoredSettings::Ratios[std::size_t(index)].text));
}

void COptionDlg::UpdateData(bool saveAndValidate)
{
    if (saveAndValidate) {
        m_settings.bBurnSubtitle = m_checkBurnSubtitle->isChecked();
        m_settings.bShutdown = m_checkShutdown->isChecked();
        m_settings.bEvenLoudness = m_checkEvenLoudness->isChecked();
        m_settings.strPreset = m_cbPreset->currentText();
        m_settings.nMode = DWORD(m_modeGroup->checkedId());
        m_settings.strWidth = m_editWidth->text();
        m_settings.strHeight = m_editHeight->text();
        return;
    }
    m_checkBurnSubtitle->setChecked(m_settings.bBurnSubtitle);
    m_checkShutdown->setChecked(m_settings.bShutdown);
    m_checkEvenLoudness->setChecked(m_settings.bEvenLoudness);
    // A stored mode other than the two sets neither radio button.
    m_modeGroup->setExclusive(false);
    m_radioModePreset->setChecked(m_settings.nMode == StoredSettings::ModePreset);
    m_radioModeUserDefine->setChecked(m_settings.nMode == StoredSettings::ModeUserDefine);
    m_modeGroup->setExclusive(true);
    m_editWidth->setText(m_settings.strWidth);
    m_editHeight->setText(m_settings.strHeight);
}

void COptionDlg::OnOK()
{
    UpdateData(true);
    TakeSelection(m_cbEncoder, m_settings.nEncoder);
    TakeSelection(m_cbBitRate, m_settings.nBitRate);
    TakeSelection(m_cbFrameRate, m_settings.nFrameRate);
    TakeSelection(m_cbRatio, m_settings.nRatio);
    TakeSelection(m_cbParallel, m_settings.nParallel);
    m_settings.Store();
    accept();
}
