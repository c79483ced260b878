#pragma once

#include "app/OptionDlg.h"
#include "engine/DesktopSession.h"
#include "engine/EncodingRun.h"
#include "engine/RunForm.h"
#include "engine/Shutdown.h"
#include "jobs/JobListStore.h"
#include "jobs/MovieJobList.h"
#include "jobs/MovieProbeBatch.h"

#include <functional>
#include <map>

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class CGradientStaticCQ;
class CMovieListView;
class CSkinButtonCQ;
class CStaticCQ;
class CTextProgressCtrl;
class QProgressDialog;

// The main form, the program's only working window: the job list with the
// buttons that fill and empty it and preview a movie, the settings summary, the
// current file and the progress panels, and the buttons for the options, the
// about box, the maker's web site, sampling, encoding and stopping. It owns the
// job list, the encoding run (with its process runner) and the options dialog,
// and is the run's RunForm. Lives on the UI thread.
// Keys of the window: Ctrl+O Add Movies, Ctrl+Return Make, Escape Stop during a
// run, F1 the about box, Ctrl+Q quit (closing the window), Delete Remove; Tab
// goes through the list and the buttons, Space and Return press a button.
class CClipvaneView final : public QWidget, public RunForm
{
    Q_OBJECT

public:
    // Control ids of the layout, every control's (IdCaption...: the captions
    // before the value labels).
    enum ControlId
    {
        IdListMovies = 1000,
        IdAddMovies = 1001,
        IdRemove = 1002,
        IdRemoveAll = 1003,
        IdHeaderMovies = 1004,
        IdHeaderSettings = 1005,
        IdHeaderCurrentFile = 1006,
        IdCaptionSettings = 1007,
        IdCaptionEncoder = 1008,
        IdSampling = 1009,
        IdStop = 1010,
        IdMake = 1011,
        IdCaptionVideoBitRate = 1012,
        IdCaptionFrameRate = 1013,
        IdCaptionPictureSize = 1014,
        IdCaptionAudioMode = 1015,
        IdCaptionAudioBitRate = 1016,
        IdSettingsName = 1017,
        IdEncoder = 1018,
        IdVideoBitRate = 1019,
        IdFrameRate = 1020,
        IdPictureSize = 1021,
        IdAudioMode = 1022,
        IdAudioBitRate = 1023,
        IdHeaderProgress = 1024,
        IdCaptionInput = 1025,
        IdCaptionOutput = 1026,
        IdInput = 1027,
        IdOutput = 1028,
        IdCaptionElapsed = 1029,
        IdCaptionRemaining = 1030,
        IdCaptionProgressCurrent = 1031,
        IdCaptionProgressTotal = 1032,
        IdElapsed = 1033,
        IdRemaining = 1034,
        IdProgressCurrent = 1035,
        IdProgressTotal = 1036,
        IdPlay = 1037,
        IdAbout = 1038,
        IdWebSite = 1039,
        IdOptions = 1040
    };

    // How the form reaches the user and the desktop. The defaults show real
    // dialogs, shut the computer down and open folders; tests replace them.
    struct Hooks
    {
        // A notice or question: caption "Tolva Clipvane", no owner window.
        std::function<void(const QString& text, MessageIcon icon)> messageBox;
        std::function<bool(const QString& text, MessageIcon icon)> askYesNo;
        // The open-file dialog, opened in folder: the chosen paths, empty when
        // cancelled.
        std::function<QStringList(QWidget* parent, const QString& title, const QString& folder,
                                  const QString& filter)>
            openFileNames;
        std::function<void(const QString& folder)> openFolder;
        std::function<void(const ShutdownMessageBox& showMessage)> shutdown;
    };

    explicit CClipvaneView(QWidget* parent = nullptr);
    ~CClipvaneView() override;

    // The control with a layout id, or null.
    QWidget* Control(int id) const;

    // --- Button handlers ---
    void OnAddMovies();
    void OnRemove();
    void OnRemoveAll();
    void OnPlay();
    void StartSampling();
    void StartEncoding();
    void StopEncoding();
    void OnOptions();
    void OnAbout();
    void OnWebSite();
    // Escape: Stop, only while a run is active.
    void OnEscape();
    // Ctrl+Q: closes the window as its close button does.
    void OnQuit();

    // Adds movie files in the given order, as Add Movies does for the files
    // chosen in its dialog: paths already listed are skipped, the rest are probed
    // off the UI thread, with a progress dialog (and Cancel) when that takes a
    // while. Ignored during a run or while another batch is being added.
    void AddMovieFiles(const QStringList& paths);
    bool IsAddingMovies() const { return m_probeBatch.IsRunning(); }

    // Fills the settings summary's value labels from the stored settings.
    void UpdateSettingsSummary();

    // Whether the window may close: during a run the user is asked first, and
    // Yes stops the run as Stop does (with the question about the incomplete
    // file). True when the window may close.
    bool QueryClose();
    // Ends a run without questions when Clipvane is to quit: the incomplete
    // output is deleted and the log ended.
    void StopForQuit();

    // The preview player (tools/mplayer in the application folder by default).
    void SetPlayerPath(const QString& path) { m_strPlayerPath = path; }

    // --- RunForm ---
    int JobCount() const override;
    std::optional<StreamFile> JobAt(int index) const override;
    std::uint64_t TotalBytes() const override;
    // A row restored as "Missing" whose movie is still gone; one whose movie is
    // back is "Ready" again and encoded.
    bool SkipsJob(int index) override;
    void ShowRow(int index) override;
    int SelectedRow() const override;
    void SetRowStatus(int index, const QString& status, const QString& reason) override;
    void SetRowProgress(int index, int percent) override;
    void SetValueLabel(ValueLabel label, const QString& text) override;
    void SetProgress(ProgressBar bar, int percent) override;
    void MessageBox(const QString& text, MessageIcon icon) override;
    bool AskYesNo(const QString& text, MessageIcon icon) override;
    void ShutdownComputer() override;
    void OpenFolder(const QString& path) override;

    CMovieListView* m_listMovies = nullptr;
    CTextProgressCtrl* m_progressCurrent = nullptr;
    CTextProgressCtrl* m_progressTotal = nullptr;
    COptionDlg m_dlgOptions;
    CMovieJobList m_jobList;
    // Restores the list at start and saves it as it changes.
    CJobListStore m_jobStore{m_jobList};
    CEncodingRun m_run;
    // Keeps the machine awake during a run, shows its progress on the launcher
    // and notifies its end when the window is not active.
    CDesktopSession m_desktop;
    CMovieProbeBatch m_probeBatch;
    Hooks m_hooks;

private:
    void CreateControls();
    void OnInitialUpdate();
    CStaticCQ* Label(int id) const;
    // Add Movies, Remove, Remove All and Play, and drops on the list, are refused
    // while a run is active: the run walks the list, and the player would take
    // the encoder's runner.
    void UpdateListButtons();
    void OnJobProbed(const StreamFile& job);
    void OnAddProgress(int done, int total);
    void OnAddFinished();
    // Where the open dialog starts: the folder of the last movie added, at first
    // the videos folder (the home folder when there is none).
    static QString MovieFolder();

    std::map<int, QWidget*> m_controls;
    QPointer<QProgressDialog> m_pAddProgress;
    QString m_strPlayerPath;
};
