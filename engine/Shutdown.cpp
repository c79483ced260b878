#include "Shutdown.h"

#include <atomic>

#include <QDBusConnection>
#include <QDBusMessage>

namespace {

const QString Login1Service = QStringLiteral("org.freedesktop.login1");
const QString Login1Path = QStringLiteral("/org/freedesktop/login1");
const QString Login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
constexpr int CallTimeoutMs = 10000;

QString SystemBusAddress()
{
    const QByteArray address = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    return address.isEmpty() ? QStringLiteral("unix:path=/run/dbus/system_bus_socket")
                             : QString::fromLocal8Bit(address);
}

// QDBusConnection::systemBus() is opened once per process and keeps the address
// it saw first; a connection of its own reads the address at every call.
class ScopedBusConnection
{
public:
    ScopedBusConnection()
        : m_name(QStringLiteral("clipvane-shutdown-%1").arg(s_nextId.fetch_add(1)))
        , m_connection(QDBusConnection::connectToBus(SystemBusAddress(), m_name))
    {
    }
    ~ScopedBusConnection() { QDBusConnection::disconnectFromBus(m_name); }
    ScopedBusConnection(const ScopedBusConnection&) = delete;
    ScopedBusConnection& operator=(const ScopedBusConnection&) = delete;

    QDBusConnection& Get() { return m_connection; }

private:
    static inline std::atomic<int> s_nextId{0};
    QString m_name;
    QDBusConnection m_connection;
};

QDBusMessage CallManager(QDBusConnection& bus, const QString& method, const QVariantList& args)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(Login1Service, Login1Path, Login1Manager, method);
    call.setArguments(args);
    return bus.call(call, QDBus::Block, CallTimeoutMs);
}

} // namespace

void ShutdownWindows(const ShutdownMessageBox& showMessage)
{
    const auto show = [&](const char* text) {
        if (showMessage)
            showMessage(QString::fromLatin1(text));
    };

    ScopedBusConnection bus;
    // Without a bus the later steps fail too and report in their turn, as the
    // privilege steps did after a failed token open.
    if (!bus.Get().isConnected())
        show("OpenProcessToken failed.");

    const QDBusMessage can = CallManager(bus.Get(), QStringLiteral("CanPowerOff"), {});
    if (can.type() != QDBusMessage::ReplyMessage || can.arguments().isEmpty() ||
        can.arguments().front().toString() != QLatin1String("yes")) {
        show("AdjustTokenPrivileges enable failed.");
        return;
    }

    const QDBusMessage off = CallManager(bus.Get(), QStringLiteral("PowerOff"), {QVariant(false)});
    if (off.type() != QDBusMessage::ReplyMessage)
        show("InitiateSystemShutdown failed.");
    // Dropping the privilege again ("AdjustTokenPrivileges disable failed.") has
    // no counterpart: logind keeps no per-process privilege state.
}
