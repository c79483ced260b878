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
        const QString socket = m_dir.filePath(QStringLiteral("bus.sock"));
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--address=unix:path=") + socket,
                     QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        ASSERT_TRUE(m_bus.waitForStarted(5000)) << "dbus-daemon is missing";
        QElapsedTimer timer;
        timer.start();
        while (!m_bus.canReadLine() && timer.elapsed() < 10000)
            m_bus.waitForReadyRead(100);
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        ASSERT_FALSE(m_address.isEmpty());
        m_env.Set("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
        ASSERT_TRUE(BusIsOurs());

        QStringList args{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                         QStringLiteral("--system"), QStringLiteral("--template"),
                         QStringLiteral("logind")};
        if (!parameters.isEmpty())
            args << QStringLiteral("-p") << parameters;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_address);
        m_mock.setProcessEnvironment(environment);
        m_mock.start(QStringLiteral("/usr/bin/python3"), args);
        ASSERT_TRUE(m_mock.waitForStarted(5000));

        QDBusConnection bus = QDBusConnection::connectToBus(m_address, ObserverName());
        ASSERT_TRUE(bus.isConnected());
        timer.restart();
        while (!bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")) &&
               timer.elapsed() < 20000)
            QThread::msleep(50);
        ASSERT_TRUE(bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")))
            << "the mock logind did not come up";
    }

    // Named connections are cached per process: one name per mock bus.
    QString ObserverName() const { return QStringLiteral("test-observer-") + m_dir.path(); }

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
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.DBus.Mock"), method);
        call.setArguments(args);
        return bus.call(call);
    }

    // The methods the mock logind was called with, each with its arguments.
    QList<QPair<QString, QVariantList>> LogindCalls()
    {
        QList<QPair<QString, QVariantList>> calls;
        const QDBusMessage reply = MockCall(QStringLiteral("GetCalls"), {});
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
    EXPECT_EQ(calls[0].first, QStringLiteral("CanPowerOff"));
    EXPECT_EQ(calls[1].first, QStringLiteral("PowerOff"));
    ASSERT_EQ(calls[1].second.size(), 1);
    EXPECT_EQ(calls[1].second[0], QVariant(false));
}

TEST_F(ShutdownTest, AnythingButYesShowsTheEnableMessageAndDoesNotPowerOff)
{
    StartMockLogind(QStringLiteral(R"({"CanPowerOff": "challenge"})"));
    EXPECT_EQ(RunShutdown(), QStringList{QStringLiteral("AdjustTokenPrivileges enable failed.")});
    const auto calls = LogindCalls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].first, QStringLiteral("CanPowerOff"));
}

TEST_F(ShutdownTest, ARefusedPowerOffShowsTheShutdownMessage)
{
    StartMockLogind({});
    const QDBusMessage replaced =
        MockCall(QStringLiteral("AddMethod"),
                 {QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"),
                  QStringLiteral("b"), QString(),
                  QStringLiteral("raise dbus.exceptions.DBusException('denied', "
                                 "name='org.freedesktop.DBus.Error.AccessDenied')")});
    ASSERT_EQ(replaced.type(), QDBusMessage::ReplyMessage) << replaced.errorMessage().toStdString();
    EXPECT_EQ(RunShutdown(), QStringList{QStringLiteral("InitiateSystemShutdown failed.")});
}

TEST_F(ShutdownTest, NoBusShowsTheTokenMessageAndTheFollowingFailure)
{
    ASSERT_TRUE(m_dir.isValid());
    // A socket path in the test's folder that nothing listens on.
    m_env.Set("DBUS_SYSTEM_BUS_ADDRESS",
              "unix:path=" + m_dir.filePath(QStringLiteral("none")).toUtf8());
    EXPECT_EQ(RunShutdown(), (QStringList{QStringLiteral("OpenProcessToken failed."),
                                          QStringLiteral("AdjustTokenPrivileges enable failed.")}));
}

} // namespace
