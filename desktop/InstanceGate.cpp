#include "desktop/InstanceGate.h"

#include "desktop/BusConnection.h"
#include "shell/AppInfo.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QVariantMap>

namespace {

const QString ApplicationId = QLatin1String(AppInfo::ApplicationId);
const QString ApplicationInterface = QStringLiteral("org.freedesktop.Application");

// "/example/tolva/clipvane" for "example.tolva.clipvane", as the desktop's
// application interface places it.
QString ObjectPath()
{
    return QLatin1Char('/') + QString(ApplicationId).replace(QLatin1Char('.'), QLatin1Char('/'));
}

// A socket message ends with a line break (compact JSON holds none) and is not
// longer than this.
constexpr qint64 MaxSocketMessageBytes = 64 * 1024 * 1024;
const QByteArray SocketAnswer = "ok\n";

QStringList LocalPaths(const QStringList& uris)
{
    QStringList paths;
    for (const QString& uri : uris) {
        const QUrl url(uri);
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

} // namespace

// org.freedesktop.Application on the bus, for the first start: each call of a
// later start (or of the desktop) becomes the gate's PathsOpened.
class CApplicationService final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit CApplicationService(CInstanceGate* gate)
        : QObject(gate)
        , m_gate(gate)
    {
    }

public slots:
    void Activate(const QVariantMap& /*platformData*/) { emit m_gate->PathsOpened({}); }
    void Open(const QStringList& uris, const QVariantMap& /*platformData*/)
    {
        emit m_gate->PathsOpened(LocalPaths(uris));
    }
    void ActivateAction(const QString& /*name*/, const QVariantList& /*parameter*/,
                        const QVariantMap& /*platformData*/)
    {
        emit m_gate->PathsOpened({});
    }

private:
    CInstanceGate* m_gate;
};

CInstanceGate::CInstanceGate(QObject* parent)
    : QObject(parent)
{
}

CInstanceGate::~CInstanceGate() = default;

QStringList CInstanceGate::PathsFromArguments(const QStringList& arguments)
{
    QStringList paths;
    for (const QString& argument : arguments) {
        if (argument.isEmpty())
            continue;
        const QUrl url(argument);
        const QString path = argument.startsWith(QLatin1String("file:")) && url.isLocalFile()
                                 ? url.toLocalFile()
                                 : argument;
        paths << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    }
    return paths;
}

QString CInstanceGate::SocketPath()
{
    // One socket per display: the name of the display, in characters a file
    // name may hold.
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/') +
           ApplicationId + (display.isEmpty() ? QString() : QLatin1Char('-') + display);
}

CInstanceGate::Role CInstanceGate::Claim(const QStringList& paths)
{
    if (const std::optional<Role> role = ClaimOnBus(paths))
        return *role;
    return ClaimOnSocket(paths);
}

std::optional<CInstanceGate::Role> CInstanceGate::ClaimOnBus(const QStringList& paths)
{
    m_pBus = std::make_unique<CBusConnection>(CBusConnection::Bus::Session);
    QDBusConnection& bus = m_pBus->Get();
    if (!bus.isConnected() || !bus.interface()) {
        m_pBus.reset();
        return std::nullopt;
    }
    // The object is there before the name: a later start may call at once.
    auto* service = new CApplicationService(this);
    bus.registerObject(ObjectPath(), service, QDBusConnection::ExportAllSlots);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(ApplicationId, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Role::First;
    bus.unregisterObject(ObjectPath());
    delete service;
    if (!reply.isValid()) {
        m_pBus.reset();
        return std::nullopt;
    }

    QDBusMessage call;
    if (paths.isEmpty()) {
        call = QDBusMessage::createMethodCall(ApplicationId, ObjectPath(), ApplicationInterface,
                                              QStringLiteral("Activate"));
        call << QVariantMap();
    } else {
        QStringList uris;
        for (const QString& path : paths)
            uris << QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
        call = QDBusMessage::createMethodCall(ApplicationId, ObjectPath(), ApplicationInterface,
                                              QStringLiteral("Open"));
        call << uris << QVariantMap();
    }
    const QDBusMessage answer = bus.call(call, QDBus::Block, AnswerTimeoutMs);
    m_pBus.reset();
    return answer.type() == QDBusMessage::ReplyMessage ? Role::HandedOver : Role::Unanswered;
}

CInstanceGate::Role CInstanceGate::ClaimOnSocket(const QStringList& paths)
{
    const QString path = SocketPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return Role::First;
    QLockFile lock(path + QStringLiteral(".lock"));
    lock.tryLock(AnswerTimeoutMs);

    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(1000)) {
        // Nobody listens: a socket left behind is taken over.
        QLocalServer::removeServer(path);
        m_pServer = new QLocalServer(this);
        m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
        if (m_pServer->listen(path))
            connect(m_pServer, &QLocalServer::newConnection, this,
                    &CInstanceGate::OnSocketConnection);
        return Role::First;
    }
    lock.unlock();

    QJsonArray list;
    for (const QString& file : paths)
        list.append(file);
    socket.write(QJsonDocument(QJsonObject{{"open", list}}).toJson(QJsonDocument::Compact) + '\n');
    QElapsedTimer timer;
    timer.start();
    QByteArray answer;
    while (!answer.endsWith('\n') && timer.elapsed() < AnswerTimeoutMs &&
           socket.state() == QLocalSocket::ConnectedState) {
        if (socket.bytesToWrite() > 0)
            socket.waitForBytesWritten(100);
        else if (socket.waitForReadyRead(100))
            answer += socket.readAll();
    }
    answer += socket.readAll();
    return answer == SocketAnswer ? Role::HandedOver : Role::Unanswered;
}

void CInstanceGate::OnSocketConnection()
{
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnSocketData(socket); });
    }
}

void CInstanceGate::OnSocketData(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > MaxSocketMessageBytes)
            socket->abort();
        return;
    }
    const QJsonValue list = QJsonDocument::fromJson(socket->readLine()).object().value("open");
    if (!list.isArray()) {
        socket->abort();
        return;
    }
    QStringList paths;
    for (const QJsonValue& value : list.toArray()) {
        if (value.isString() && QDir::isAbsolutePath(value.toString()))
            paths << value.toString();
    }
    socket->write(SocketAnswer);
    socket->disconnectFromServer();
    emit PathsOpened(paths);
}

#include "InstanceGate.moc"
