#include "engine/BusConnection.h"

#include <atomic>

namespace {

std::atomic<int> s_nextId{0};

QString BusAddress(CBusConnection::Bus bus)
{
    if (bus == CBusConnection::Bus::System) {
        const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
        return address.isEmpty() ? QStringLiteral("unix:path=/run/dbus/system_bus_socket")
                                 : address;
    }
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    return address.isEmpty() ? QStringLiteral("unix:path=") +
                                   qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus")
                             : address;
}

} // namespace

CBusConnection::CBusConnection(Bus bus)
    : m_name(QStringLiteral("clipvane-bus-%1").arg(s_nextId.fetch_add(1)))
    , m_connection(QDBusConnection::connectToBus(BusAddress(bus), m_name))
{
}

CBusConnection::~CBusConnection()
{
    QDBusConnection::disconnectFromBus(m_name);
}
