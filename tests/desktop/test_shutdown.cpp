#include "desktop/Shutdown.h"
#include "tests/support/MockBus.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");

// A private bus with a mock logind on it, standing in for the system bus. The
// test refuses to call anything unless DBUS_SYSTEM_BUS_ADDRESS points into its
// own temporary folder, so no test can ever reach the real logind.
class ShutdownTest : public ::testing::Test
{
protected:
    // Starts the bus and the mock; parameters is the mock's JSON (or empty).
    void StartMockLogind(const QString& parameters)
    {
        ASSERT_EQ(m_bus.Start(), QString());
        ASSERT_EQ(m_bus.StartTemplate("logind", kLogind, parameters), QString());
    }

    QStringList RunShutdown()
    {
        QStringList messages;
        if (!m_bus.IsOurs() && !qgetenv("DBUS_SYSTEM_BUS_ADDRESS")
                                    .startsWith("unix:path=" + m_dir.path().toUtf8() + '/')) {
            ADD_FAILURE() << "refusing to shut down through a bus outside the test's folder";
            return messages;
        }
        ShutdownWindows([&](const QString& text) { messages << text; });
        return messages;
    }

    QDBusMessage MockCall(const QString& method, const QVariantList& args)
    {
        return m_bus.Call(kLogind, kLogindPath, method, args);
    }

    // The methods the mock logind was called with, each with its arguments.
    QList<QPair<QString, QVariantList>> LogindCalls() { return m_bus.Calls(kLogind, kLogindPath); }

    QTemporaryDir m_dir;
    ScopedEnv m_env;
    MockBus m_bus;
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
