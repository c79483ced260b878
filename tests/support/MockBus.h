#pragma once

#include "tests/support/TestEnvironment.h"

#include <memory>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

// A private D-Bus daemon in a temporary folder that stands in for both the
// system and the session bus (DBUS_SYSTEM_BUS_ADDRESS and
// DBUS_SESSION_BUS_ADDRESS point to it while the object lives), with mock
// services from python-dbusmock's templates on it. Tests must never reach the
// real buses: IsOurs says whether both addresses point into the folder. The
// processes it started are ended with it.
class MockBus
{
public:
    MockBus() = default;
    ~MockBus();
    MockBus(const MockBus&) = delete;
    MockBus& operator=(const MockBus&) = delete;

    // Starts the daemon; an empty text when it is up, else what went wrong.
    QString Start();
    // Starts a template ("logind", "notification_daemon") with its JSON
    // parameters (or none) and waits until its service is on the bus.
    QString StartTemplate(const QString& name, const QString& service,
                          const QString& parameters = QString());

    bool IsOurs() const;
    QString Address() const { return m_address; }
    QString Folder() const { return m_dir.path(); }

    // A connection of the test's own to the bus.
    QDBusConnection Observer() const;
    // A method of a mock's org.freedesktop.DBus.Mock interface.
    QDBusMessage MockCall(const QString& service, const QString& path, const QString& method,
                          const QVariantList& args = {}) const;
    // The methods a mock was called with, in order, each with its arguments.
    QList<QPair<QString, QVariantList>> Calls(const QString& service, const QString& path) const;

private:
    QString ObserverName() const { return "test-observer-" + m_dir.path(); }

    QTemporaryDir m_dir;
    ScopedEnv m_env;
    QProcess m_bus;
    std::vector<std::unique_ptr<QProcess>> m_mocks;
    QString m_address;
};
