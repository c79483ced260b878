#include "engine/Shutdown.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

// A private bus with a mock logind on it, standing in for the system bus. The
// test refuses to call anything unless DBUS_SYSTEM_BUS_ADDRESS points into its
// own temporary folder, so no test can ever reach the real logind.
class ShutdownTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(ObserverName());
        for (QProcess* process : {&m_mock, &m_bus}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    // Starts the bus and the mock; parameters is the mock's JSON (or empty).
    void StartMockLogind(const QString& parameters)
    {
        ASSERT_TRUE(m_dir.isValid());
        m_bus.start("dbus-daemon",
                    {"--session", "--address=unix:path=" + m_dir.filePath("bus.sock"), "--nofork",
                     "--print-address=1"});
        ASSERT_TRUE(m_bus.waitForStarted(5000)) << "dbus-daemon is missing";
        QElapsedTimer timer;
        timer.start();
        while (!m_bus.canReadLine() && timer.elapsed() < 10000)
            m_bus.waitForReadyRead(100);
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        ASSERT_FALSE(m_address.isEmpty());
        m_env.Set("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
        ASSERT_TRUE(BusIsOurs());

        QStringList args{"-m", "dbusmock", "--system", "--template", "logind"};
        if (!parameters.isEmpty())
            args << "-p" << parameters;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", m_address);
        m_mock.setProcessEnvironment(environment);
        m_mock.start("/usr/bin/python3", args);
        ASSERT_TRUE(m_mock.waitForStarted(5000));

        QDBusConnection bus = QDBusConnection::connectToBus(m_address, ObserverName());
        ASSERT_TRUE(bus.isConnected());
        const auto logindUp = [&] { return bus.interface()->isServiceRegistered(kLogind); };
        timer.restart();
        while (!logindUp() && timer.elapsed() < 20000)
            QThread::msleep(50);
        ASSERT_TRUE(logindUp()) << "the mock logind did not come up";
    }

    // Named connections are cached per process: one name per mock bus.
    QString ObserverName() const { return "test-observer-" + m_dir.path(); }

    bool BusIsOurs() const
    {
        return qgetenv("DBUS_SYSTEM_BUS_ADDRESS")
            .startsWith("unix:path=" + m_dir.path().toUtf8() + '/');
    }

    QStringList RunShutdown()
    {
        QStringList messages;
        if (!BusIsOurs()) {
            ADD_FAILURE() << "refusing to shut down through a bus outside the test's folder";
            return messages;
        }
        ShutdownWindows([&](const QString& text) { messages << text; });
        return messages;
    }

    QDBusMessage MockCall(const QString& method, const QVariantList& args)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, ObserverName());
        QDBusMessage call = QDBusMessage::createMethodCall(kLogind, "/org/freedesktop/login1",
                                                           "org.freedesktop.DBus.Mock", method);
        call.setArguments(args);
        return bus.call(call);
    }

    // The methods the mock logind was called with, each with its arguments.
    QList<QPair<QString, QVariantList>> LogindCalls()
    {
        QList<QPair<QString, QVariantList>> calls;
        const QDBusMessage reply = MockCall("GetCalls", {});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return calls;
        const QDBusArgument list = reply.arguments().front().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            qulonglong stamp = 0;
            QString method;
            QVariantList args;
            list.beginStructure();
            list >> stamp >> method;
            list.beginArray();
            while (!list.atEnd()) {
                QDBusVariant value;
                list >> value;
                args << value.variant();
            }
            list.endArray();
            list.endStructure();
            calls.append({method, args});
        }
        list.endArray();
        return calls;
    }

    QTemporaryDir m_dir;
    ScopedEnv m_env;
    QProcess m_bus;
    QProcess m_mock;
    QString m_address;
};

TEST_F(ShutdownTest, PowersOffWithoutInteractionWhenLogindAllowsIt)
{
    StartMockLogind({});
    EXPECT_TRUE(RunShutdown().isEmpty());
    const auto calls = LogindCalls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].first, "CanPowerOff");
    EXPECT_EQ(calls[1].first, "PowerOff");
    EXPECT_EQ(calls[1].second, QVariantList{false});
}

TEST_F(ShutdownTest, AnythingButYesShowsTheEnableMessageAndDoesNotPowerOff)
{
    StartMockLogind(R"({"CanPowerOff": "challenge"})");
    EXPECT_EQ(RunShutdown(), QStringList{"AdjustTokenPrivileges enable failed."});
    const auto calls = LogindCalls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].first, "CanPowerOff");
}

TEST_F(ShutdownTest, ARefusedPowerOffShowsTheShutdownMessage)
{
    StartMockLogind({});
    const QDBusMessage replaced =
        MockCall("AddMethod", {"org.freedesktop.login1.Manager", "PowerOff", "b", QString(),
                               "raise dbus.exceptions.DBusException('denied', "
                               "name='org.freedesktop.DBus.Error.AccessDenied')"});
    ASSERT_EQ(replaced.type(), QDBusMessage::ReplyMessage) << replaced.errorMessage().toStdString();
    EXPECT_EQ(RunShutdown(), QStringList{"InitiateSystemShutdown failed."});
}

TEST_F(ShutdownTest, NoBusShowsTheTokenMessageAndTheFollowingFailure)
{
    ASSERT_TRUE(m_dir.isValid());
    // A socket path in the test's folder that nothing listens on.
    m_env.Set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + m_dir.filePath("none").toUtf8());
    EXPECT_EQ(RunShutdown(),
              (QStringList{"OpenProcessToken failed.", "AdjustTokenPrivileges enable failed."}));
}

} // namespace
