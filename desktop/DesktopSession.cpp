#include "desktop/DesktopSession.h"

#include "desktop/BusConnection.h"
#include "engine/EncodingRun.h"
#include "shell/AppInfo.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString LauncherPath =
    QStringLiteral("/com/canonical/unity/launcherentry/") + QLatin1String(AppInfo::DesktopId);
const QString LauncherInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");

QString DesktopEntryUri()
{
    return QStringLiteral("application://%1.desktop").arg(QLatin1String(AppInfo::DesktopId));
}

} // namespace

CDesktopSession::CDesktopSession(QObject* parent)
    : QObject(parent)
{
}

CDesktopSession::~CDesktopSession()
{
    if (m_bRunActive)
        UpdateLauncher(0.0, false);
}

void CDesktopSession::Observe(const CEncodingRun& run)
{
    connect(&run, &CEncodingRun::RunStarted, this, &CDesktopSession::OnRunStarted);
    // A Stop's reading, after the encoders ended, is not the run's progress.
    connect(&run, &CEncodingRun::RunProgress, this,
            [this, &run](const CProgressTally::Reading& reading) {
                if (run.IsRunning())
                    OnTotalProgress(reading.totalPercent);
            });
    connect(&run, &CEncodingRun::RunEnded, this, &CDesktopSession::OnRunEnded);
}

CBusConnection* CDesktopSession::Connect(std::unique_ptr<CBusConnection>& bus,
                                         CBusConnection::Bus which)
{
    if (!bus || !bus->IsConnected())
        bus = std::make_unique<CBusConnection>(which);
    return Connected(bus);
}

CBusConnection* CDesktopSession::Connected(const std::unique_ptr<CBusConnection>& bus)
{
    return bus && bus->IsConnected() ? bus.get() : nullptr;
}

void CDesktopSession::OnRunStarted()
{
    m_bRunActive = true;
    const int run = ++m_nRun;
    m_nShownPercent = -1;
    Connect(m_pSessionBus, CBusConnection::Bus::Session);
    OnTotalProgress(0);

    CBusConnection* bus = Connect(m_pSystemBus, CBusConnection::Bus::System);
    if (!bus)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(Login1::Service, Login1::Path,
                                                       Login1::Manager, QStringLiteral("Inhibit"));
    call.setArguments({QStringLiteral("sleep:idle"), QLatin1String(AppInfo::ProgramName),
                       QStringLiteral("Encoding movies"), QStringLiteral("block")});
    auto* watcher = new QDBusPendingCallWatcher(bus->Get().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, run](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answer;
                // Without logind (or with a refusal) the run goes on unguarded;
                // a lock that comes after its run is over closes at once.
                if (reply.isValid() && run == m_nRun && m_bRunActive)
                    m_inhibitor = reply.value();
            });
}

void CDesktopSession::OnTotalProgress(int percent)
{
    if (!m_bRunActive || percent == m_nShownPercent)
        return;
    m_nShownPercent = percent;
    UpdateLauncher(percent / 100.0, true);
}

void CDesktopSession::OnRunEnded(const RunEnd& end)
{
    if (!m_bRunActive)
        return;
    m_bRunActive = false;
    m_inhibitor = QDBusUnixFileDescriptor();
    UpdateLauncher(0.0, false);
    if (end.way == RunEnd::Way::Finished && !(m_windowActive && m_windowActive()))
        Notify(RunEnd::FinishedText, end.nFailed > 0 ? end.FailedFilesText() : QString());
}

void CDesktopSession::UpdateLauncher(double progress, bool visible)
{
    CBusConnection* bus = Connected(m_pSessionBus);
    if (!bus)
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(LauncherPath, LauncherInterface, QStringLiteral("Update"));
    signal.setArguments(
        {DesktopEntryUri(), QVariantMap{{QStringLiteral("progress"), progress},
                                        {QStringLiteral("progress-visible"), visible}}});
    bus->Get().send(signal);
}

void CDesktopSession::Notify(const QString& summary, const QString& body)
{
    CBusConnection* bus = Connected(m_pSessionBus);
    if (!bus)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        NotificationsService, NotificationsPath, NotificationsService, QStringLiteral("Notify"));
    call.setArguments({QLatin1String(AppInfo::ProgramName), 0u, QLatin1String(AppInfo::DesktopId),
                       summary, body, QStringList(), QVariantMap(), -1});
    // Nobody waits for the answer (nor for an error when no daemon runs).
    bus->Get().asyncCall(call);
}
