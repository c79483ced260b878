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
#include <QVector>
#include <QWidget>

class CGradientStaticCQ;
class CMovieListView;
class CSkinButtonCQ;
class CStaticCQ;
class CTextProgressCtrl;
class QAction;
class QMenu;
class QProgressDialog;

// The main form, the program's only working window: the job list with the
// buttons that fill and empty it and preview a movie, the settings summary, the
// current file and the progress panels, and the buttons for the options, the
// about box, the maker's web site, sampling, encoding and stopping. It owns the
// job list, the encoding run (with its process runner) and the options dialog,
// and is the run's RunForm. Lives on the UI thread.
// Keys of the window: Ctrl+O Add Movies, Ctrl+Shift+O Add Folder, Ctrl+Return
// Make, Escape Stop during a run, F1 the about box, Ctrl+Q quit (closing the
// window), Delete Remove; Tab goes through the list and the buttons, Space and
// Return press a button. The list's context menu saves the list to a file and
// opens one.
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
        IdOptions = 1040,
        IdAddFolder = 1041
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
        // The dialogs that choose one file to open or a file to save (in folder,
        // or at a suggested path): the path, empty when cancelled.
        std::function<QString(QWidget* parent, const QString& title, const QString& path,
                              const QString& filter)>
            openFileName;
        std::function<QString(QWidget* parent, const QString& title, const QString& path,
                              const QString& filter)>
            saveFileName;
        // The dialog that chooses a folder, opened in folder: the folder, empty
        // when cancelled.
        std::function<QString(QWidget* parent, const QString& title, const QString& folder)>
            chooseFolder;
        std::function<void(const QString& folder)> openFolder;
        std::function<void(const ShutdownMessageBox& showMessage)> shutdown;
    };

    explicit CClipvaneView(QWidget* parent = nullptr);
    ~CClipvaneView() override;

    // The control with a layout id, or null.
    QWidget* Control(int id) const;

    // --- Button handlers ---
    void OnAddMovies();
    // Chooses a folder and adds every movie under it (AddMovieFiles).
    void OnAddFolder();
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
    // while; a folder adds the movies under it (MovieFolder::CollectMovies).
    // Files that cannot be read are not added: one message names them at the
    // end. Ignored during a run or while another batch is being added.
    void AddMovieFiles(const QStringList& paths);
    // The same for files and folders with their relative output folders.
    void AddMovieSources(const QVector<MovieSource>& sources);
    bool IsAddingMovies() const { return m_probeBatch.IsRunning(); }

    // Files and folders from the command line or from a later start of Clipvane
    // (absolute paths), added as AddMovieFiles adds them. During a run, or while
    // other files are being added, they wait and are added when that ends; the
    // list's heading says how many wait during a run. They are added before
    // Clipvane quits, so none is lost.
    void OpenPaths(const QStringList& paths);
    int WaitingCount() const { return int(m_arrWaitingPaths.size()); }

    // The list's context menu: the list into a file the user picks (the kept
    // list's format), and a list file's movies added as Add Movies adds them.
    void OnSaveList();
    void OnOpenList();

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
    // The list's context menu and its two actions.
    QMenu* m_pListMenu = nullptr;
    QAction* m_pSaveListAction = nullptr;
    QAction* m_pOpenListAction = nullptr;

private:
    void CreateControls();
    void OnInitialUpdate();
    CStaticCQ* Label(int id) const;
    // Add Folder, Add Movies, Remove, Remove All and Play, and drops on the
    // list, are refused while a run is active: the run walks the list, and the
    // player would take the encoder's runner.
    void UpdateListButtons();
    void OnJobProbed(const StreamFile& job);
    void OnAddProgress(int done, int total);
    void OnAddFinished();
    // Starts adding the files that wait, once neither a run nor another batch is
    // going on.
    void AddWaitingMovies();
    // Adds the waiting files at once, on this thread, when Clipvane is to quit.
    void KeepWaitingMovies();
    // The list's heading: how many files wait for the run to end.
    void UpdateWaitingNote();
    void ShowListMenu(const QPoint& point);
    // Where a list file is saved or opened first: the documents folder.
    static QString ListFolder();
    // Where the open dialog starts: the folder of the last movie added, at first
    // the videos folder (the home folder when there is none).
    static QString MovieFolder();

    std::map<int, QWidget*> m_controls;
    QPointer<QProgressDialog> m_pAddProgress;
    QString m_strPlayerPath;
    // Paths handed over while the list could not change, oldest first.
    QStringList m_arrWaitingPaths;
    // Files of the batch being added that could not be read.
    QStringList m_arrUnreadable;
    // Set once Clipvane is to quit: waiting files are then added at once.
    bool m_bQuitting = false;
};
