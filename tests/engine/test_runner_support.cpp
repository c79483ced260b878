#include "test_runner_support.h"

#include "engine/CommandLine.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <QFile>

FakeEncoder::FakeEncoder()
{
    // At most 15 bytes, the length the kernel keeps of a process name.
    m_imageName = QStringLiteral("cvfk%1").arg(::getpid());
    m_path = m_dir.filePath(m_imageName);
    m_valid =
        m_dir.isValid() &&
        QFile::link(TestEnvironment::BinDir() + QStringLiteral("/clipvane_fake_encoder"), m_path);
}

QString FakeEncoder::Script(const QString& name, const QString& text) const
{
    const QString path = m_dir.filePath(name);
    MediaFactory::WriteFile(path, text.toUtf8());
    return path;
}

QString FakeEncoder::CommandLine(const QString& scriptPath) const
{
    return QStringLiteral("\"%1\" \"%2\"").arg(m_path, scriptPath);
}

QString FakeEncoder::RealEncoderLink(const QString& suffix, const QString& tool) const
{
    const QString name =
        QStringLiteral("cv%1%2%3").arg(tool.left(2)).arg(::getpid()).arg(suffix).left(15);
    const QString link = m_dir.filePath(name);
    QFile::link(TestEnvironment::BinDir() + QStringLiteral("/tools/") + tool, link);
    return link;
}

QString FakeEncoder::WholeMovie()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString movie = dir.filePath(QStringLiteral("whole.avi"));
        MovieSpec spec;
        spec.seconds = WholeMovieSeconds;
        spec.outputArgs = {QStringLiteral("-c:v"), QStringLiteral("mpeg4")};
        MediaFactory::GenerateMovie(movie, spec);
        return movie;
    }();
    return path;
}

ForeignEncoder::ForeignEncoder(const QByteArrayList& environment)
{
    const QString fifo = m_dir.filePath(QStringLiteral("never written.mpg"));
    if (!m_dir.isValid() || ::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        return;
    m_pid =
        ProcessProbe::Spawn(QStringLiteral("mencoder"),
                            {fifo, QStringLiteral("-o"), m_dir.filePath(QStringLiteral("o.avi")),
                             QStringLiteral("-ovc"), QStringLiteral("copy"), QStringLiteral("-oac"),
                             QStringLiteral("copy")},
                            environment);
    // Its name is the encoder's once it runs the encoder, not the forked copy.
    const QString comm = QStringLiteral("/proc/%1/comm").arg(m_pid);
    for (int i = 0; i < 500 && m_pid > 0 && !m_valid; ++i) {
        m_valid = MediaFactory::ReadFile(comm).trimmed() == "mencoder";
        if (!m_valid)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ForeignEncoder::~ForeignEncoder()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ProcessProbe::WaitExit(m_pid, std::chrono::seconds(5));
    }
}

bool ForeignEncoder::IsAlive() const
{
    siginfo_t info{};
    // WNOWAIT: look without reaping.
    return m_pid > 0 && ::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

bool RecordingRunner::WaitForTerminations(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_exits.size() >= count; });
}

std::string RecordingRunner::StdOut() const
{
    std::lock_guard lock(m_mutex);
    std::string all;
    for (const std::string& chunk : m_stdout)
        all += chunk;
    return all;
}

void RecordingRunner::OnStarted(const QString&)
{
    std::lock_guard lock(m_mutex);
    ++m_started;
}

void RecordingRunner::OnStdOut(std::string_view text)
{
    std::lock_guard lock(m_mutex);
    // The runner promises a terminator right after the chunk.
    m_stdout.emplace_back(text.data(), text.size());
    if (text.data()[text.size()] != '\0')
        m_stdout.back() += "<unterminated>";
}

void RecordingRunner::OnStdErr(std::string_view text)
{
    std::lock_guard lock(m_mutex);
    m_stderr.append(text);
}

void RecordingRunner::OnTerminated(const ChildExit& exit)
{
    std::lock_guard lock(m_mutex);
    m_exits.push_back(exit);
    m_changed.notify_all();
}

namespace ProcessProbe {

namespace {
int CountEntries(const char* path)
{
    int count = 0;
    if (DIR* dir = ::opendir(path)) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                ++count;
        ::closedir(dir);
    }
    return count;
}
} // namespace

int OpenFdCount()
{
    return CountEntries("/proc/self/fd") - 1; // the listing's own descriptor
}

int ThreadCount()
{
    return CountEntries("/proc/self/task");
}

bool HasChildren()
{
    siginfo_t info{};
    // WNOWAIT: look without reaping.
    const int rc = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT);
    if (rc < 0)
        return errno != ECHILD;
    return true;
}

pid_t Spawn(const QString& program, const QStringList& args, const QByteArrayList& environment)
{
    NativeArgv argv(QStringList{program} + args);
    // Made before fork: the child of a threaded process may not allocate.
    QByteArrayList entries = environment;
    for (char** entry = environ; *entry; ++entry) {
        const QByteArray text(*entry);
        const QByteArray name = text.left(text.indexOf('=') + 1);
        if (std::none_of(environment.cbegin(), environment.cend(),
                         [&](const QByteArray& e) { return e.startsWith(name); }))
            entries << text;
    }
    std::vector<char*> envp;
    for (QByteArray& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvpe(argv.Data()[0], argv.Data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

int WaitExit(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t rc = ::waitpid(pid, &status, WNOHANG);
        if (rc == pid)
            return status;
        if (rc < 0 || std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool ProcessExists(pid_t pid)
{
    return ::kill(pid, 0) == 0;
}

int OwnNice()
{
    errno = 0;
    return ::getpriority(PRIO_PROCESS, 0);
}

} // namespace ProcessProbe
