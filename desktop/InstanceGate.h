#pragma once

#include <memory>
#include <optional>

#include <QObject>
#include <QString>
#include <QStringList>

class CBusConnection;
class QLocalServer;
class QLocalSocket;

// One Clipvane per person and display. The first start owns the application id
// (AppInfo::ApplicationId) as its name on the session bus and serves the
// desktop's org.freedesktop.Application interface at the id's object path
// ("/example/tolva/clipvane"): Open takes file addresses, Activate none. A
// later start finds the name taken, hands its files to the first over the bus
// and ends, so that only the first window keeps the job list and writes it.
// Without a session bus the same goes through a local socket in the runtime
// folder, named after the id and the display; a lock file there keeps two
// starts from both taking it, and a socket left by a first start that crashed
// is taken over. Lives on the UI thread.
class CInstanceGate final : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        // This start is the first: files of later starts come as PathsOpened.
        // Also when neither a bus nor the runtime folder could be used: it then
        // runs alone.
        First,
        // The files went to the first start, which took them.
        HandedOver,
        // A first start is there but did not take the files in time.
        Unanswered
    };

    // How long a later start waits for the first to take its files: the first
    // answers only once its window is up (after the update check).
    static constexpr int AnswerTimeoutMs = 60000;

    explicit CInstanceGate(QObject* parent = nullptr);
    ~CInstanceGate() override;

    // Becomes the first start, or hands paths (absolute) to the first.
    Role Claim(const QStringList& paths);

    // The program's arguments as absolute, cleaned paths ("file:" addresses
    // taken as their local paths), made against the current folder: a later
    // start's paths must mean the same in the first one's process.
    static QStringList PathsFromArguments(const QStringList& arguments);

    // The socket of the display in the runtime folder.
    static QString SocketPath();

signals:
    // In the first start: a later start's paths (none when it only asked for
    // the window).
    void PathsOpened(const QStringList& paths);

private:
    // Tries the bus: First or HandedOver/Unanswered; nothing when there is no bus.
    std::optional<Role> ClaimOnBus(const QStringList& paths);
    Role ClaimOnSocket(const QStringList& paths);
    void OnSocketConnection();
    void OnSocketData(QLocalSocket* socket);

    std::unique_ptr<CBusConnection> m_pBus;
    QLocalServer* m_pServer = nullptr;
};
