#include "desktop/BusConnection.h"

#include "shell/AppInfo.h"

#include <atomic>

#include <QStandardPaths>

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
    return address.isEmpty()
               ? QStringLiteral("unix:path=") +
                     QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                     QStringLiteral("/bus")
               : address;
}

} // namespace

CBusConnection::CBusConnection(Bus bus)
    : m_name(QStringLiteral("%1-bus-%2")
                 .arg(QLatin1String(AppInfo::DesktopId))
                 .arg(s_nextId.fetch_add(1)))
    , m_connection(QDBusConnection::connectToBus(BusAddress(bus), m_name))
{
}

CBusConnection::~CBusConnection()
{
    QDBusConnection::disconnectFromBus(m_name);
}
