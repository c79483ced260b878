#pragma once

#include <QDBusConnection>
#include <QString>

// systemd-logind's manager on the system bus.
namespace Login1 {
inline const QString Service = QStringLiteral("org.freedesktop.login1");
inline const QString Path = QStringLiteral("/org/freedesktop/login1");
inline const QString Manager = QStringLiteral("org.freedesktop.login1.Manager");
} // namespace Login1

// A D-Bus connection of its own to the system or the session bus, at the
// address the environment names when it is made: DBUS_SYSTEM_BUS_ADDRESS (the
// standard system socket when unset), DBUS_SESSION_BUS_ADDRESS (<the runtime folder>/bus
// when unset). QDBusConnection::systemBus() and sessionBus() are opened once per
// process and keep the address they saw first. Closed with the object; a bus
// that is not there gives a connection that is not connected.
class CBusConnection final
{
public:
    enum class Bus
    {
        System,
        Session
    };

    explicit CBusConnection(Bus bus);
    ~CBusConnection();
    CBusConnection(const CBusConnection&) = delete;
    CBusConnection& operator=(const CBusConnection&) = delete;

    QDBusConnection& Get() { return m_connection; }
    bool IsConnected() const { return m_connection.isConnected(); }

private:
    QString m_name;
    QDBusConnection m_connection;
};
