#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <QStringList>

class CClipvaneView;
class CMainFrame;
class CQuitSignals;
class QWidget;

// Brings the program up on the UI thread, after the QApplication exists: the
// settings area, the application fonts, the update check before any window, the
// main window with its form, the first-run setup, the stored settings in the
// encoding record, and the window centred at 700 x 550 with the title "Tolva
// Clipvane". Owns the main window. Closing the window during a run asks first;
// SIGTERM, SIGINT, SIGHUP and the end of the desktop session stop a run without
// questions (CClipvaneView::StopForQuit), and the signals then quit.
class CClipvaneApp final
{
public:
    // What the update check needs from the user and the desktop; the defaults
    // ask with a real message box and open the page in the browser.
    struct Hooks
    {
        std::function<bool(const QString& text, const QString& caption)> askUpdate;
        std::function<bool(const QString& url)> openDownloadPage;
    };

    static constexpr int WindowWidth = 700;
    static constexpr int WindowHeight = 550;

    CClipvaneApp();
    explicit CClipvaneApp(Hooks hooks);
    ~CClipvaneApp();
    CClipvaneApp(const CClipvaneApp&) = delete;
    CClipvaneApp& operator=(const CClipvaneApp&) = delete;

    // The start-up sequence. True when the main window is up; false when the
    // program is to end at once because the user chose to update (no window
    // has been created then).
    bool InitInstance();

    // Files and folders to add (the command line's, or a later start's): the
    // window comes to the front and the form adds them (CClipvaneView::OpenPaths);
    // before the window is up they wait for it.
    void OpenPaths(const QStringList& paths);

    // The main window and its form; null before InitInstance succeeded.
    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }
    CClipvaneView* View() const { return m_pView; }

private:
    Hooks m_hooks;
    std::unique_ptr<CQuitSignals> m_pQuitSignals;
    std::unique_ptr<CMainFrame> m_pMainFrame;
    CClipvaneView* m_pView = nullptr;
    QStringList m_arrPendingPaths;
};
