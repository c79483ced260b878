#pragma once

#include "tests/support/TestEnvironment.h"

#include <memory>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QTemporaryDir>

// A private D-Bus daemon in a temporary folder that stands in for both the
// system and the session bus (DBUS_SYSTEM_BUS_ADDRESS and
// DBUS_SESSION_BUS_ADDRESS point to it while the object lives), with mock
// services from python-dbusmock's templates on it. Tests must never reach the
// real buses: IsOurs says whether both addresses point into the folder. The
// processes it started end with it.
class MockBus
{
public:
    MockBus() = default;
    ~MockBus();
    MockBus(const MockBus&) = delete;
    MockBus& operator=(const MockBus&) = delete;

    // Starts the daemon, then a template ("logind", "notification_daemon") with
    // its JSON parameters, and waits until its service is on the bus; an empty
    // text when all is up, else what went wrong.
    QString Start();
    QString StartTemplate(const QString& name, const QString& service,
                          const QString& parameters = QString());

    bool IsOurs() const;
    // A connection of the test's own to the bus.
    QDBusConnection Observer() const;
    // A method call to a mock, by default on its org.freedesktop.DBus.Mock interface.
    QDBusMessage Call(const QString& service, const QString& path, const QString& method,
                      const QVariantList& args = {},
                      const QString& interface = "org.freedesktop.DBus.Mock") const;
    // The methods a mock was called with, in order, each with its arguments.
    QList<QPair<QString, QVariantList>> Calls(const QString& service, const QString& path) const;

private:
    QTemporaryDir m_dir;
    ScopedEnv m_env;
    QProcess m_bus;
    std::vector<std::unique_ptr<QProcess>> m_mocks;
    QString m_address;
};
