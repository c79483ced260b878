// One Clipvane per person and display, with the real program on the offscreen
// platform: a second start hands its files to the first over a private session
// bus, or without a bus over the socket in the runtime folder (also when a
// crashed first start left its socket behind), and ends with 0 without
// touching any kept list; the first's kept list then holds every file.
#include "desktop/InstanceGate.h"
#include "jobs/JobListStore.h"
#include "shell/AppInfo.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/EventPump.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/MockBus.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <optional>

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QUrl>

namespace {

// The paths of the jobs a kept list holds, in order.
QStringList KeptPaths(const QString& file)
{
    QStringList paths;
    for (const MovieSource& job :
         CJobListStore::ReadListFile(file).value_or(QVector<MovieSource>()))
        paths << job.strPath;
    return paths;
}

class InstanceGate : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.IsValid());
        m_program = TestEnvironment::BinDir() + QStringLiteral("/clipvane");
        ASSERT_TRUE(QFileInfo(m_program).isExecutable());
        if (OnBus()) {
            m_bus.emplace();
            ASSERT_EQ(m_bus->Start(), QString());
        }
        m_movies = m_home.FilePath(QStringLiteral("Movies"));
        ASSERT_TRUE(QDir().mkpath(m_movies));
    }

    void TearDown() override
    {
        for (QProcess* process : {&m_first, &m_second}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    bool OnBus() const { return GetParam(); }

    QString Movie(const QString& name) const
    {
        const QString path = m_movies + QLatin1Char('/') + name;
        EXPECT_TRUE(MediaFactory::WriteFile(path, "movie"));
        return path;
    }

    // Starts the program with the test's environment (its home, runtime folder
    // and bus), the offscreen platform and the given state folder.
    void Start(QProcess& process, const QStringList& args, const QString& stateDir = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!stateDir.isEmpty())
            env.insert(QStringLiteral("XDG_STATE_HOME"), stateDir);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_movies);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(m_program, args);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // The first start is ready for others: its name on the bus, or its socket
    // taking connections (a stale socket file is there from the start).
    bool FirstIsServing() const
    {
        if (OnBus()) {
            const QDBusConnectionInterface* bus = m_bus->Observer().interface();
            return bus->isServiceRegistered(QLatin1String(AppInfo::ApplicationId)).value();
        }
        QLocalSocket socket;
        socket.connectToServer(CInstanceGate::SocketPath());
        return socket.waitForConnected(100);
    }

    ScopedTempHome m_home;
    std::optional<MockBus> m_bus;
    QString m_program;
    QString m_movies;
    QProcess m_first;
    QProcess m_second;
};

TEST_P(InstanceGate, ALaterStartsFilesJoinTheFirstsListAndItEndsWithoutTouchingAnyList)
{
    const QString keptList = CJobListStore::FilePath();
    const QString earlier = Movie(QStringLiteral("earlier.mpg"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(keptList).path()));
    ASSERT_TRUE(MediaFactory::WriteFile(keptList, "{\"jobs\": [{\"path\": \"" + earlier.toUtf8() +
                                                      "\", \"status\": \"Ready\"}]}"));
    if (!OnBus()) {
        // A socket that nobody listens on, as a first start that crashed leaves it.
        const QString socket = CInstanceGate::SocketPath();
        ASSERT_TRUE(QDir().mkpath(QFileInfo(socket).path()));
        ASSERT_TRUE(MediaFactory::Run("/usr/bin/python3",
                                      {"-c",
                                       "import socket, sys; socket.socket(socket.AF_UNIX)."
                                       "bind(sys.argv[1])",
                                       socket}));
    }

    const QString first = Movie(QStringLiteral("first.mpg"));
    Start(m_first, {first});
    ASSERT_TRUE(PumpUntil([&] { return FirstIsServing(); }, 30000));

    // The later start keeps its state elsewhere, with a list it must not read
    // (it would set it aside) nor write.
    const QString otherState = m_home.FilePath(QStringLiteral("other state"));
    const QString otherList = otherState + QStringLiteral("/Tolva/Clipvane/jobs.json");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(otherList).path()));
    ASSERT_TRUE(MediaFactory::WriteFile(otherList, "not a list"));
    const QString second = Movie(QStringLiteral("second 100% é.mpg"));
    const QString third = Movie(QStringLiteral("third.mkv"));
    // A name relative to the later start's folder, and a file address.
    Start(m_second,
          {QStringLiteral("second 100% é.mpg"), QUrl::fromLocalFile(third).toString(), first},
          otherState);
    ASSERT_TRUE(m_second.waitForFinished(30000));
    EXPECT_EQ(m_second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_second.exitCode(), 0);
    EXPECT_EQ(MediaFactory::ReadFile(otherList), "not a list");
    EXPECT_FALSE(QFileInfo::exists(otherList + QStringLiteral(".damaged")));

    // A start without files only brings the window forward.
    Start(m_second, {}, otherState);
    ASSERT_TRUE(m_second.waitForFinished(30000));
    EXPECT_EQ(m_second.exitCode(), 0);

    const QStringList all = {earlier, first, second, third};
    EXPECT_TRUE(PumpUntil([&] { return KeptPaths(keptList) == all; }, 20000))
        << KeptPaths(keptList).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_first.state(), QProcess::Running);
    m_first.terminate();
    ASSERT_TRUE(m_first.waitForFinished(20000));
    EXPECT_EQ(m_first.exitCode(), 0);
    EXPECT_EQ(KeptPaths(keptList), all);
    // The first start's socket goes with it.
    EXPECT_FALSE(QFileInfo::exists(CInstanceGate::SocketPath()));
}

INSTANTIATE_TEST_SUITE_P(SessionBusOrSocket, InstanceGate, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "OnThePrivateSessionBus"
                                                           : "OnTheSocketWithoutABus");
                         });

} // namespace
