#include "engine/Redirect.h"
#include "test_runner_support.h"
#include "tests/support/TestEnvironment.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

class RunnerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_fake.IsValid());
        m_runner.SetEncoderImageName(m_fake.ImageName());
    }

    bool Start(const QString& script, bool normalPriority = true)
    {
        return m_runner.Open(m_fake.CommandLine(m_fake.Script("s.txt", script)), normalPriority);
    }

    static QString ReadText(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Waits until the child wrote something, so that it is really in its loop.
    void WaitForOutput()
    {
        for (int i = 0; i < 200 && m_runner.StdOut().empty(); ++i)
            std::this_thread::sleep_for(10ms);
    }

    // Starts script, waits for its output and closes the runner; returns how long
    // Close took.
    Clock::duration StartAndClose(const QString& script)
    {
        EXPECT_TRUE(Start(script));
        WaitForOutput();
        const auto start = Clock::now();
        m_runner.Close();
        return Clock::now() - start;
    }

    // The runner saw exactly one child end, this way.
    void ExpectOneExit(ChildExit::Kind kind, int code, bool stopped)
    {
        const auto exits = m_runner.Exits();
        ASSERT_EQ(exits.size(), 1u);
        EXPECT_EQ(exits[0].kind, kind);
        EXPECT_EQ(exits[0].code, code);
        EXPECT_EQ(exits[0].stopped, stopped);
    }

    FakeEncoder m_fake;
    RecordingRunner m_runner;
};

// --- Output and completion -------------------------------------------------

TEST_F(RunnerTest, SilentChildGivesOneTerminationAndNoOutput)
{
    ASSERT_TRUE(Start("exit 0\n"));
    ASSERT_TRUE(m_runner.WaitForTerminations(1));
    std::this_thread::sleep_for(100ms);
    m_runner.Close();
    EXPECT_EQ(m_runner.Started(), 1);
    EXPECT_TRUE(m_runner.StdOutChunks().empty());
    EXPECT_TRUE(m_runner.StdErr().empty());
    ExpectOneExit(ChildExit::Kind::Exited, 0, false);
    EXPECT_TRUE(m_runner.Exits().at(0).Succeeded());
    EXPECT_EQ(m_runner.Exits().at(0).serial, m_runner.StartSerial());
}

TEST_F(RunnerTest, ChunksAreAtMost256BytesWholeAndTerminated)
{
    // 600 bytes in one write are in the pipe before the first read: 256 + 256 + 88.
    ASSERT_TRUE(Start("fill 600 x\n"));
    ASSERT_TRUE(m_runner.WaitForTerminations(1));
    const auto chunks = m_runner.StdOutChunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0], std::string(256, 'x'));
    EXPECT_EQ(chunks[1], std::string(256, 'x'));
    EXPECT_EQ(chunks[2], std::string(88, 'x'));
}

TEST_F(RunnerTest, OutputOfEachPipeKeepsItsOrderAndAllOfItArrivesBeforeTheEnd)
{
    QString script;
    std::string expectedOut, expectedErr;
    for (int i = 0; i < 3000; ++i) {
        script += QStringLiteral("out line %1\\n\n").arg(i);
        expectedOut += "line " + std::to_string(i) + "\n";
        if (i % 10 == 0) {
            script += QStringLiteral("err e%1\\n\n").arg(i);
            expectedErr += "e" + std::to_string(i) + "\n";
        }
    }
    ASSERT_TRUE(Start(script));
    ASSERT_TRUE(m_runner.WaitForTerminations(1));
    // Read at the moment the end is reported: nothing may still be in flight.
    EXPECT_EQ(m_runner.StdOut(), expectedOut);
    EXPECT_EQ(m_runner.StdErr(), expectedErr);
}

TEST_F(RunnerTest, ExitStatusAndSignalAreReported)
{
    ASSERT_TRUE(Start("exit 3\n"));
    ASSERT_TRUE(m_runner.WaitForTerminations(1));
    ASSERT_TRUE(Start(QStringLiteral("raise %1\n").arg(SIGUSR1)));
    ASSERT_TRUE(m_runner.WaitForTerminations(2));
    const auto exits = m_runner.Exits();
    EXPECT_EQ(exits[0].kind, ChildExit::Kind::Exited);
    EXPECT_EQ(exits[0].code, 3);
    EXPECT_FALSE(exits[0].Succeeded());
    EXPECT_EQ(exits[1].kind, ChildExit::Kind::Signalled);
    EXPECT_EQ(exits[1].code, SIGUSR1);
    EXPECT_FALSE(exits[1].stopped);
    EXPECT_EQ(exits[1].serial, exits[0].serial + 1);
}

// --- Start ------------------------------------------------------------------

TEST_F(RunnerTest, StartFailureReportsTheWholeCommandLineAndNothingElse)
{
    const int fdsBefore = ProcessProbe::OpenFdCount();
    const int threadsBefore = ProcessProbe::ThreadCount();
    // Longer than any fixed buffer: the message must still hold all of it.
    const QString missing = m_fake.FilePath("no such encoder");
    const QString commandLine =
        QStringLiteral("\"%1\" %2 \"%\u00e9 '\"").arg(missing, QString(400, QLatin1Char('a')));
    EXPECT_FALSE(m_runner.Open(commandLine, false));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_runner.StdOut(),
              ("Unable to start " + commandLine + "\n").toLocal8Bit().toStdString());
    EXPECT_EQ(m_runner.Started(), 0);
    EXPECT_TRUE(m_runner.Exits().empty());
    EXPECT_EQ(ProcessProbe::OpenFdCount(), fdsBefore);
    EXPECT_EQ(ProcessProbe::ThreadCount(), threadsBefore);
    EXPECT_FALSE(ProcessProbe::HasChildren());
    EXPECT_FALSE(m_runner.Open(QString(), true));
}

TEST_F(RunnerTest, ChildRunsInItsOwnSessionAtTheRequestedPriorityWithOnlyItsPipes)
{
    const QString info = m_fake.FilePath("info");
    ASSERT_TRUE(Start("info " + info + '\n', false));
    ASSERT_TRUE(m_runner.WaitForTerminations(1));
    const QString low = ReadText(info);
    // A mark this process inherited (from an encoder of another Clipvane) is
    // replaced by its own.
    ScopedEnv env;
    env.Set(CRedirect::OwnerMarkName, "1:2");
    ASSERT_TRUE(Start("info " + info + '\n', true));
    ASSERT_TRUE(m_runner.WaitForTerminations(2));
    const QString normal = ReadText(info);

    const int own = ProcessProbe::OwnNice();
    EXPECT_TRUE(low.contains(QStringLiteral("nice %1\n").arg(std::min(own + 10, 19))))
        << low.toStdString();
    EXPECT_TRUE(normal.contains(QStringLiteral("nice %1\n").arg(own))) << normal.toStdString();
    // A session leader: its session id is its own pid.
    const QStringList lines = normal.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[1].mid(4), lines[2].mid(4));
    EXPECT_EQ(lines[3], "fds 0 1 2 ");
    EXPECT_EQ(lines[4], "mark " + CRedirect::OwnMark());
}

TEST_F(RunnerTest, ArgumentsArriveWholeWithSpacesQuotesAndPercent)
{
    const QString argsFile = m_fake.FilePath("args");
    const QString script = m_fake.Script("my script %d.txt", "args " + argsFile + '\n');
    const QString commandLine = QStringLiteral("\"%1\" \"%2\" \"say \\\"hi\\\"\" plain \u00fcml")
                                    .arg(m_fake.Path(), script);
    ASSERT_TRUE(m_runner.Open(commandLine, true));
    ASSERT_TRUE(m_runner.WaitForTerminations(1));
    EXPECT_EQ(ReadText(argsFile), m_fake.Path() + QLatin1Char('\n') + script +
                                      QStringLiteral("\nsay \"hi\"\nplain\n\u00fcml\n"));
}

// --- Close ------------------------------------------------------------------

TEST_F(RunnerTest, CloseOnAnIdleRunnerReturnsAtOnce)
{
    const auto start = Clock::now();
    m_runner.Close();
    m_runner.Close();
    EXPECT_LT(Clock::now() - start, 400ms);
    EXPECT_TRUE(m_runner.Exits().empty());
}

TEST_F(RunnerTest, CloseEndsAHangingChildWithSigtermAndReportsItStopped)
{
    EXPECT_LT(StartAndClose("out started\\n\nhang\n"), 450ms);
    ExpectOneExit(ChildExit::Kind::Signalled, SIGTERM, true);
    EXPECT_FALSE(ProcessProbe::HasChildren());
}

TEST_F(RunnerTest, CloseLetsTheChildFinishOnSigtermLikeTheEncoder)
{
    StartAndClose("onterm 2\nout ready\\n\nhang\n");
    ExpectOneExit(ChildExit::Kind::Exited, 2, true);
}

TEST_F(RunnerTest, CloseKillsAChildThatIgnoresSigtermAfterTheGrace)
{
    const auto took = StartAndClose("ignoreterm\nout ready\\n\nhang\n");
    EXPECT_GE(took, 450ms);
    EXPECT_LT(took, 2000ms);
    ExpectOneExit(ChildExit::Kind::Signalled, SIGKILL, true);
    EXPECT_FALSE(ProcessProbe::HasChildren());
}

TEST_F(RunnerTest, OpenEndsTheChildBeforeAndEachChildEndsOnce)
{
    ASSERT_TRUE(Start("out first\\n\nhang\n"));
    WaitForOutput();
    ASSERT_TRUE(Start("out second\\n\n"));
    ASSERT_TRUE(m_runner.WaitForTerminations(2));
    std::this_thread::sleep_for(100ms);
    const auto exits = m_runner.Exits();
    ASSERT_EQ(exits.size(), 2u);
    EXPECT_TRUE(exits[0].stopped);
    EXPECT_TRUE(exits[1].Succeeded());
    EXPECT_EQ(m_runner.StdOut(), "first\nsecond\n");
}

TEST_F(RunnerTest, ManyChildrenInARowLeaveNoFdsThreadsOrZombies)
{
    const QString script = m_fake.Script("s.txt", "out x\nerr y\n");
    // One child first: a sanitizer starts a helper thread of its own at the first
    // thread creation, which is no leak of the runner's.
    ASSERT_TRUE(m_runner.Open(m_fake.CommandLine(script), true));
    m_runner.Close();
    const int fdsBefore = ProcessProbe::OpenFdCount();
    const int threadsBefore = ProcessProbe::ThreadCount();
    for (int i = 0; i < 50; ++i) {
        // Alternate between letting the child end by itself and closing it early.
        ASSERT_TRUE(m_runner.Open(m_fake.CommandLine(script), i % 2 == 0));
        if (i % 3 == 0) {
            ASSERT_TRUE(m_runner.WaitForTerminations(static_cast<std::size_t>(i + 2)));
        }
    }
    m_runner.Close();
    EXPECT_EQ(m_runner.Exits().size(), 51u);
    EXPECT_EQ(ProcessProbe::OpenFdCount(), fdsBefore);
    EXPECT_EQ(ProcessProbe::ThreadCount(), threadsBefore);
    EXPECT_FALSE(ProcessProbe::HasChildren());
}

TEST_F(RunnerTest, AGrandchildHoldingThePipesDelaysTheEndOnlyBriefly)
{
    // sh starts a sleeper that inherits stdout and exits itself at once.
    ASSERT_TRUE(m_runner.Open("/bin/sh -c \"sleep 4 & echo started\"", true));
    const auto start = Clock::now();
    ASSERT_TRUE(m_runner.WaitForTerminations(1, 5s));
    EXPECT_LT(Clock::now() - start, 3500ms);
    EXPECT_EQ(m_runner.StdOut(), "started\n");
    m_runner.Close();
}

// A notification that calls back into its own runner must not hang it.
class ReentrantRunner : public RecordingRunner
{
public:
    bool m_reopened = true;

protected:
    void OnTerminated(const ChildExit& exit) override
    {
        m_reopened = Open("/bin/true", true);
        Close();
        RecordingRunner::OnTerminated(exit);
    }
};

TEST_F(RunnerTest, OpenAndCloseFromANotificationAreRefused)
{
    ReentrantRunner runner;
    runner.SetEncoderImageName(m_fake.ImageName());
    ASSERT_TRUE(runner.Open("/bin/true", true));
    ASSERT_TRUE(runner.WaitForTerminations(1));
    runner.Close();
    EXPECT_FALSE(runner.m_reopened);
    EXPECT_EQ(runner.Exits().size(), 1u);
}

// --- The encoder sweep --------------------------------------------------------

// True once path exists, within 10 s.
bool WaitForFile(const QString& path)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!QFileInfo(path).isFile()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The mark of a Clipvane that is gone: this process's pid with another start
// time, as a later process would carry it after the pid was reused.
QByteArray GoneMark()
{
    const QByteArray own = CRedirect::OwnMark();
    const qsizetype colon = own.indexOf(':');
    return QByteArray(CRedirect::OwnerMarkName) + '=' + own.left(colon + 1) +
           QByteArray::number(own.mid(colon + 1).toLongLong() + 1);
}

TEST_F(RunnerTest, SweepEndsOnlyMarkedEncodersWhoseClipvaneIsGone)
{
    const QString otherName = m_fake.FilePath(QStringLiteral("cvother%1").arg(::getpid()).left(15));
    ASSERT_TRUE(QFile::link(m_fake.Path(), otherName));
    const QByteArray ownMark = QByteArray(CRedirect::OwnerMarkName) + '=' + CRedirect::OwnMark();
    const struct
    {
        const char* name;
        QString program;
        QByteArrayList environment;
        bool ended;
    } cases[] = {
        {"stray", m_fake.Path(), {GoneMark()}, true},
        {"unmarked", m_fake.Path(), {}, false},
        {"this Clipvane's", m_fake.Path(), {ownMark}, false},
        {"another image", otherName, {GoneMark()}, false},
    };
    std::vector<pid_t> pids;
    for (const auto& c : cases) {
        // Each writes its pid file after exec, when it carries its name.
        const QString ready = m_fake.FilePath(QStringLiteral("%1.pid").arg(pids.size()));
        const QString script = m_fake.Script(QStringLiteral("%1.txt").arg(pids.size()),
                                             "pidfile " + ready + "\nhang\n");
        pids.push_back(ProcessProbe::Spawn(c.program, {script}, c.environment));
        ASSERT_GT(pids.back(), 0);
        ASSERT_TRUE(WaitForFile(ready)) << c.name;
    }

    // Close sweeps even when the runner itself has nothing running.
    m_runner.Close();
    for (std::size_t i = 0; i < pids.size(); ++i) {
        const int status = ProcessProbe::WaitExit(pids[i], cases[i].ended ? 2000ms : 100ms);
        if (cases[i].ended) {
            ASSERT_NE(status, -1) << cases[i].name;
            EXPECT_TRUE(WIFSIGNALED(status)) << cases[i].name;
            EXPECT_EQ(WTERMSIG(status), SIGTERM) << cases[i].name;
        } else {
            EXPECT_EQ(status, -1) << cases[i].name;
            ::kill(pids[i], SIGKILL);
            ProcessProbe::WaitExit(pids[i], 2s);
        }
    }
    EXPECT_TRUE(CRedirect::MarkOwnerAlive(CRedirect::OwnMark()));
    EXPECT_FALSE(CRedirect::MarkOwnerAlive(GoneMark().mid(GoneMark().indexOf('=') + 1)));
    EXPECT_FALSE(CRedirect::MarkOwnerAlive("garbage"));
}

TEST_F(RunnerTest, SweepKillsAStrayThatIgnoresSigterm)
{
    // The pid file is written after SIGTERM is ignored: once it exists, the sweep
    // meets a process that really needs SIGKILL.
    const QString ready = m_fake.FilePath("stubborn.pid");
    const QString script =
        m_fake.Script("stubborn.txt", "ignoreterm\npidfile " + ready + "\nhang\n");
    const pid_t target = ProcessProbe::Spawn(m_fake.Path(), {script}, {GoneMark()});
    ASSERT_GT(target, 0);
    ASSERT_TRUE(WaitForFile(ready));
    EXPECT_EQ(CRedirect::KillStrayEncoders(m_fake.ImageName()), 1);
    const int status = ProcessProbe::WaitExit(target, 2s);
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_EQ(CRedirect::KillStrayEncoders(QString()), 0);
}

} // namespace
