#include "ClipvaneApp.h"

#include "app/AppMessageBox.h"
#include "app/ClipvaneView.h"
#include "app/MainFrame.h"
#include "controls/AppFonts.h"
#include "controls/CQHyperLink.h"
#include "engine/StoredSettings.h"
#include "shell/AppInfo.h"
#include "shell/QuitSignals.h"
#include "shell/UpdateCheck.h"

#include <utility>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

CClipvaneApp::CClipvaneApp()
    : CClipvaneApp(Hooks{})
{
}

CClipvaneApp::CClipvaneApp(Hooks hooks)
    : m_hooks(std::move(hooks))
{
    if (!m_hooks.askUpdate)
        m_hooks.askUpdate = [](const QString& text, const QString&) {
            return AskAppYesNo(text, QMessageBox::NoIcon);
        };
    if (!m_hooks.openDownloadPage)
        m_hooks.openDownloadPage = [](const QString& url) {
            // A link without a window needs nothing but the address.
            CCQHyperLink link;
            return link.GotoURL(url);
        };
}

CClipvaneApp::~CClipvaneApp()
{
    // The signals go back to their default action before the window goes.
    m_pQuitSignals.reset();
}

bool CClipvaneApp::InitInstance()
{
    // Qt's names for the program. Its own per-user folders are named by
    // AppInfo::ProgramFolderIn, which needs neither (the tests and benchmarks
    // run without an application object of this kind).
    QCoreApplication::setOrganizationName(QLatin1String(AppInfo::MakerName));
    QCoreApplication::setApplicationName(QLatin1String(AppInfo::ProgramName));
    RegisterApplicationFonts();

    UpdateCheckHooks update;
    update.askYesNo = m_hooks.askUpdate;
    update.openUrl = m_hooks.openDownloadPage;
    if (!CheckForUpdate(update))
        return false;

    m_pMainFrame = std::make_unique<CMainFrame>();
    m_pView = new CClipvaneView;
    m_pMainFrame->SetClientWidget(m_pView);

    // Placed and titled before it is shown, so that it never appears elsewhere.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    m_pMainFrame->SetFixedGeometry(QRect((screen.width() - WindowWidth) / 2,
                                         (screen.height() - WindowHeight) / 2, WindowWidth,
                                         WindowHeight));
    m_pMainFrame->setWindowTitle(AppInfo::Caption);
    m_pMainFrame->show();
    StoredSettings::FirstRunSetup();
    m_pView->UpdateSettingsSummary();

    CClipvaneView* view = m_pView;
    m_pMainFrame->SetCloseQuery([view] { return view->QueryClose(); });
    m_pQuitSignals = std::make_unique<CQuitSignals>();
    QObject::connect(m_pQuitSignals.get(), &CQuitSignals::QuitRequested, view, [view] {
        view->StopForQuit();
        QCoreApplication::quit();
    });
    // The desktop session ends: its manager ends the application (Qt then
    // quits) or logind sends SIGTERM. Its earlier request to save our data is
    // not an end: it also comes when a session is only being saved.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, view, [view] { view->StopForQuit(); });
    OpenPaths(std::exchange(m_arrPendingPaths, {}));
    return true;
}

void CClipvaneApp::OpenPaths(const QStringList& paths)
{
    if (!m_pView) {
        m_arrPendingPaths << paths;
        return;
    }
    if (m_pMainFrame->isMinimized())
        m_pMainFrame->setWindowState(m_pMainFrame->windowState() & ~Qt::WindowMinimized);
    m_pMainFrame->raise();
    m_pMainFrame->activateWindow();
    if (!paths.isEmpty())
        m_pView->OpenPaths(paths);
}
