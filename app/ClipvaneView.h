#pragma once

#include "app/MovieAdder.h"
#include "app/OptionDlg.h"
#include "app/RunPanel.h"
#include "app/ViewHooks.h"
#include "desktop/DesktopSession.h"
#include "engine/Backends.h"
#include "engine/EncodingRun.h"
#include "engine/PreviewPlayer.h"
#include "jobs/JobListStore.h"
#include "jobs/MovieJobList.h"

#include <map>
#include <memory>

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

// The main form, the program's only working window: the job list with the
// buttons that fill and empty it and preview a movie, the settings summary, the
// current file and the progress panels, and the buttons for the options, the
// about box, the maker's web site, sampling, encoding and stopping. It owns the
// job list, the encoding run, the preview player and the options dialog; Make
// and Sampling make the run's plan, and the run's display is its CRunPanel.
// Lives on the UI thread.
// Keys of the window: Ctrl+O Add Movies, Ctrl+Shift+O Add Folder, Ctrl+Return
// Make, Escape Stop during a run, F1 the about box, Ctrl+Q quit (closing the
// window), Delete Remove; Tab goes through the list and the buttons, Space and
// Return press a button. The list's context menu saves the list to a file and
// opens one.
class CClipvaneView final : public QWidget
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

    // How the form reaches the user and the desktop.
    using Hooks = ViewHooks;

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
    // Sampling and Make: a run of the plan the stored settings make now, over
    // the list's movies (RunPlan::SetJobs). A row restored as "Missing" whose
    // movie is still gone is left out; one whose movie is back is "Ready"
    // again and encoded. An empty list, an output folder that cannot be
    // written, or No to the question about the finished files that the run
    // would replace, start nothing.
    void StartSampling() { StartRun(true); }
    void StartEncoding() { StartRun(false); }
    // Stop: ends a run (the run panel asks about the incomplete outputs) or a
    // preview.
    void StopEncoding();
    void OnOptions();
    void OnAbout();
    void OnWebSite();
    // Escape: Stop, only while a run is active.
    void OnEscape();
    // Ctrl+Q: closes the window as its close button does.
    void OnQuit();

    // Adds movie files and folders in the given order, as Add Movies does for
    // the files chosen in its dialog (CMovieAdder).
    void AddMovieFiles(const QStringList& paths) { m_adder.AddFiles(paths); }
    bool IsAddingMovies() const { return m_adder.IsAdding(); }

    // Files and folders from the command line or from a later start of Clipvane
    // (absolute paths). During a run, or while other files are being added,
    // they wait and are added when that ends; the list's heading says how many
    // wait during a run. They are added before Clipvane quits, so none is lost.
    void OpenPaths(const QStringList& paths) { m_adder.OpenPaths(paths); }
    int WaitingCount() const { return m_adder.WaitingCount(); }

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

    int JobCount() const { return m_jobList.GetJobCount(); }

    // The rows whose movies a run would continue from finished
    // segments with the stored settings say "Resumes at N %" (looked for off
    // the UI thread); done as the kept list comes back and when the options
    // change.
    void FindKeptResumes();

    CMovieListView* m_listMovies = nullptr;
    CTextProgressCtrl* m_progressCurrent = nullptr;
    CTextProgressCtrl* m_progressTotal = nullptr;
    COptionDlg m_dlgOptions;
    CMovieJobList m_jobList;
    // Restores the list at start and saves it as it changes.
    CJobListStore m_jobStore{m_jobList};
    // The encoder programs the plans of Make and Sampling take (the installed
    // ones by default).
    EncoderTools m_tools = Backends::InstalledTools();
    // How the plans cut long movies into segments (the real lengths by default).
    SegmentLimits m_segmentLimits;
    CEncodingRun m_run;
    CPreviewPlayer m_preview;
    // Keeps the machine awake during a run, shows its progress on the launcher
    // and notifies its end when the window is not active.
    CDesktopSession m_desktop;
    Hooks m_hooks;
    // Brings movies into the list.
    CMovieAdder m_adder;
    // The list's context menu and its two actions.
    QMenu* m_pListMenu = nullptr;
    QAction* m_pSaveListAction = nullptr;
    QAction* m_pOpenListAction = nullptr;

private:
    void StartRun(bool sampling);
    void MessageBox(const QString& text, MessageIcon icon);
    bool AskYesNo(const QString& text, MessageIcon icon);
    void CreateControls();
    void OnInitialUpdate();
    CStaticCQ* Label(int id) const;
    // Add Folder, Add Movies, Remove, Remove All and Play, and drops on the
    // list, are refused while a run is active: the run walks the list, and the
    // player would take the encoder's runner.
    void UpdateListButtons();
    // The list's heading: how many files wait for the run to end.
    void UpdateWaitingNote();
    void ShowListMenu(const QPoint& point);
    // Where a list file is saved or opened first: the documents folder.
    static QString ListFolder();
    // Where the open dialog starts: the folder of the last movie added, at first
    // the videos folder (the home folder when there is none).
    static QString MovieFolder();

    std::map<int, QWidget*> m_controls;
    // Made once the controls it writes are.
    std::unique_ptr<CRunPanel> m_pRunPanel;
    QString m_strPlayerPath;
};
