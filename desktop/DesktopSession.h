#pragma once

#include "desktop/BusConnection.h"

#include <functional>
#include <memory>

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class CEncodingRun;
struct RunEnd;

// What the desktop learns of the encoding runs, over D-Bus:
// - while a run is active, the machine does not suspend on its own: a logind
//   inhibitor lock, Inhibit("sleep:idle", "Clipvane", "Encoding movies",
//   "block") on the system bus, held until the run is over however it ends;
// - while a run is active, the launcher entry shows its total progress: the
//   com.canonical.Unity.LauncherEntry signal Update on the session bus (read by
//   KDE, Dash to Dock, Plank and others), with "progress" and
//   "progress-visible", cleared when the run is over;
// - when a run finishes while the program's window is not the active one, a
//   desktop notification (org.freedesktop.Notifications Notify, app name
//   "Clipvane", the program's icon) says "Encoding Finished !!", with
//   "<n> of <m> files failed." when some did.
// No call waits for an answer, and a bus or service that is not there is no
// error: the run goes on without it. The buses are connected at the first run
// (and tried again at the next one when they were not there). Lives on the UI
// thread.
class CDesktopSession final : public QObject
{
    Q_OBJECT

public:
    explicit CDesktopSession(QObject* parent = nullptr);
    // Releases a lock still held and clears the launcher entry.
    ~CDesktopSession() override;

    // Follows the run's start, progress and end.
    void Observe(const CEncodingRun& run);

    // Whether the program's window is the active window; without it the window
    // counts as inactive.
    void SetWindowActive(std::function<bool()> isActive) { m_windowActive = std::move(isActive); }

    // A lock is held: logind answered and the run is not over yet.
    bool HoldsInhibitor() const { return m_inhibitor.isValid(); }

    void OnRunStarted();
    void OnTotalProgress(int percent);
    // The run is over: before the window's finish message or Stop question.
    void OnRunEnded(const RunEnd& end);

private:
    // Connects a bus that is not connected (yet); null when it is not there.
    static CBusConnection* Connect(std::unique_ptr<CBusConnection>& bus, CBusConnection::Bus which);
    static CBusConnection* Connected(const std::unique_ptr<CBusConnection>& bus);
    void UpdateLauncher(double progress, bool visible);
    void Notify(const QString& summary, const QString& body);

    std::function<bool()> m_windowActive;
    std::unique_ptr<CBusConnection> m_pSystemBus;
    std::unique_ptr<CBusConnection> m_pSessionBus;
    // The lock: closing the last copy of the descriptor releases it.
    QDBusUnixFileDescriptor m_inhibitor;
    // Counts the runs, so that a lock granted after its run is over is dropped.
    int m_nRun = 0;
    bool m_bRunActive = false;
    int m_nShownPercent = -1;
};
