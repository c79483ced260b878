#include "Redirect.h"

#include "engine/CommandLine.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <QFile>
#include <QtDebug>

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace {

using namespace std::chrono_literals;

// Grace a stray encoder gets after SIGTERM before SIGKILL (a child's own is
// CRedirect::SetStopGrace's); mencoder uses it to finalise the output file.
constexpr auto TermGrace = 500ms;
// How long a SIGKILLed child may take to be reaped before Close gives up on it.
constexpr auto KillGrace = 2000ms;
// How long the waiter lets the readers drain the pipes after the child ended.
// Only a grandchild holding the pipes open makes it run out.
constexpr auto DrainGrace = 2000ms;
constexpr std::size_t ChunkSize = 256;
// After a read that emptied the pipe, the reader lets output gather this long
// before it looks again. The encoder writes one short record per frame, hundreds
// a second; waking for each would cost more CPU than everything else in the
// front end. Progress then arrives at most this late.
constexpr int CoalesceMs = 50;

int PidfdOpen(pid_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool PidfdSignal(int pidfd, int signal)
{
    return pidfd >= 0 && ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void RaiseEvent(int eventFd)
{
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// The child's end as waitid reports it.
void FillExit(const siginfo_t& info, ChildExit& exit)
{
    if (info.si_code == CLD_EXITED) {
        exit.kind = ChildExit::Kind::Exited;
        exit.code = info.si_status;
    } else {
        exit.kind = ChildExit::Kind::Signalled;
        exit.code = info.si_status;
    }
}

// A program name without a "/" is looked up on PATH, as the platform's process
// creation does for a bare name. Done before fork: the child may not allocate.
QByteArray ResolveProgram(const QByteArray& program)
{
    if (program.isEmpty() || program.contains('/'))
        return program;
    const QByteArray path = qgetenv("PATH");
    for (const QByteArray& dir : path.split(':')) {
        const QByteArray candidate = (dir.isEmpty() ? QByteArray(".") : dir) + '/' + program;
        struct stat st;
        if (::stat(candidate.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.constData(), X_OK) == 0)
            return candidate;
    }
    return program;
}

QByteArray ReadSmallFile(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[4096];
    QByteArray text;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    ::close(fd);
    return text;
}

// Real user id of a process from /proc/<pid>/status, or -1.
long ProcessUid(const QByteArray& procDir)
{
    const QByteArray status = ReadSmallFile(procDir + "/status");
    const int at = status.indexOf("\nUid:");
    if (at < 0)
        return -1;
    const QByteArray rest = status.mid(at + 5).trimmed();
    bool ok = false;
    const long uid = rest.left(rest.indexOf('\t')).trimmed().toLong(&ok);
    return ok ? uid : -1;
}

QByteArray ProcessComm(const QByteArray& procDir)
{
    QByteArray comm = ReadSmallFile(procDir + "/comm");
    if (comm.endsWith('\n'))
        comm.chop(1);
    return comm;
}

// Start time of a process (field 22 of /proc/<pid>/stat), empty when there is
// no such process. The fields after the name in parentheses count from 3.
QByteArray ProcessStartTime(const QByteArray& procDir)
{
    const QByteArray stat = ReadSmallFile(procDir + "/stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields[19] : QByteArray();
}

// The owner mark in a process's environment, empty when it carries none.
QByteArray ProcessMark(const QByteArray& procDir)
{
    const QByteArray prefix = QByteArray(CRedirect::OwnerMarkName) + '=';
    for (const QByteArray& entry : ReadSmallFile(procDir + "/environ").split('\0')) {
        if (entry.startsWith(prefix))
            return entry.mid(prefix.size());
    }
    return {};
}

// This process's environment with the owner mark set to ownMark.
QByteArrayList MarkedEnvironment(const QByteArray& ownMark)
{
    const QByteArray prefix = QByteArray(CRedirect::OwnerMarkName) + '=';
    QByteArrayList entries;
    for (char** entry = environ; *entry; ++entry) {
        if (!QByteArray(*entry).startsWith(prefix))
            entries << QByteArray(*entry);
    }
    entries << prefix + ownMark;
    return entries;
}

// A process the stray sweep may end.
bool IsStray(const QByteArray& procDir, const QByteArray& imageName, long uid)
{
    if (ProcessComm(procDir) != imageName || ProcessUid(procDir) != uid)
        return false;
    const QByteArray mark = ProcessMark(procDir);
    return !mark.isEmpty() && !CRedirect::MarkOwnerAlive(mark);
}

// What the child is started with: the arguments, the program found on PATH and
// the marked environment. Made before the fork, since only async-signal-safe
// calls may run between fork and exec.
struct ExecImage
{
    explicit ExecImage(const QStringList& args)
        : argv(args)
        , program(ResolveProgram(argv.Program()))
        , environment(MarkedEnvironment(CRedirect::OwnMark()))
    {
        for (QByteArray& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
    }
    ExecImage(const ExecImage&) = delete;
    ExecImage& operator=(const ExecImage&) = delete;

    NativeArgv argv;
    QByteArray program;
    QByteArrayList environment;
    std::vector<char*> envp;
};

// The pipes of one start: the child's standard input, output and error, and the
// exec pipe, which closes on a successful exec and carries errno otherwise. What
// is still open at the end is closed; the runner takes its three ends first.
struct StartPipes
{
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int exec[2] = {-1, -1};

    StartPipes() = default;
    StartPipes(const StartPipes&) = delete;
    StartPipes& operator=(const StartPipes&) = delete;
    ~StartPipes()
    {
        for (int* pair : {in, out, err, exec}) {
            CloseFd(pair[0]);
            CloseFd(pair[1]);
        }
    }

    // 0, or the errno of the pipe that could not be made.
    int Open()
    {
        for (int* pair : {in, out, err, exec}) {
            if (::pipe2(pair, O_CLOEXEC) != 0)
                return errno;
        }
        return 0;
    }

    // The descriptor, now the caller's to close.
    static int Take(int& fd) { return std::exchange(fd, -1); }
};

// The child's side of the fork: default signal handling, a session of its own
// (no terminal, like a hidden console), lower priority for the encoder, the
// pipes as fds 0/1/2 and no other descriptor of the parent; then the program.
// It starts with every signal blocked (Spawn): each signal the parent handles
// is set back to its default before any is let through, so that no handler of
// the parent runs in the child.
[[noreturn]] void ExecChild(ExecImage& image, const StartPipes& pipes, bool normalPriority)
{
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction action;
        if (::sigaction(sig, nullptr, &action) == 0 && action.sa_handler != SIG_DFL &&
            action.sa_handler != SIG_IGN)
            ::signal(sig, SIG_DFL);
    }
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD})
        ::signal(sig, SIG_DFL);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::setsid();
    if (!normalPriority) {
        errno = 0;
        (void)::nice(10);
    }
    const int targets[3] = {0, 1, 2};
    const int sources[3] = {pipes.in[0], pipes.out[1], pipes.err[1]};
    for (int i = 0; i < 3; ++i) {
        if (sources[i] == targets[i])
            ::fcntl(targets[i], F_SETFD, 0);
        else
            ::dup2(sources[i], targets[i]);
    }
    ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(image.program.constData(), image.argv.Data(), image.envp.data());
    const int error = errno;
    (void)!::write(pipes.exec[1], &error, sizeof error);
    ::_exit(127);
}

// Forks and starts the program. 0 once it runs, with its pid and a pidfd;
// otherwise the errno of what failed, and a child that was made is reaped.
// The child is made with vfork: it borrows the parent's memory until it execs,
// so the page tables of a process with Qt and libav mapped are not copied for
// every encoder (about a millisecond each, a third of the front end's own CPU
// per job). The sanitizers' runtimes do not survive a child on their memory:
// their builds fork.
int Spawn(ExecImage& image, StartPipes& pipes, bool normalPriority, pid_t& pid, int& pidfd)
{
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const pid_t child = ::fork();
#else
    const pid_t child = ::vfork();
#endif
    if (child == 0)
        ExecChild(image, pipes, normalPriority);
    const int forkError = child < 0 ? errno : 0;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (child < 0)
        return forkError;
    pid = child;

    CloseFd(pipes.in[0]);
    CloseFd(pipes.out[1]);
    CloseFd(pipes.err[1]);
    CloseFd(pipes.exec[1]);
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(pipes.exec[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    CloseFd(pipes.exec[0]);

    pidfd = got > 0 ? -1 : PidfdOpen(pid);
    if (got > 0 || pidfd < 0) {
        const int error = got > 0 ? execError : errno;
        if (got <= 0)
            ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return error;
    }
    return 0;
}

// The worker threads mark themselves so that Open and Close can refuse to be
// called from a notification of the same runner (they would join themselves).
thread_local const CRedirect* t_workerOf = nullptr;

} // namespace

// Everything one started child uses; released as a whole before the next start.
struct CRedirect::Child
{
    // Takes the runner's ends of the pipes.
    Child(pid_t childPid, int childPidfd, StartPipes& pipes)
        : pid(childPid)
        , pidfd(childPidfd)
        , stopFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
        , endedFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
        , stdinWrite(StartPipes::Take(pipes.in[1]))
        , stdoutRead(StartPipes::Take(pipes.out[0]))
        , stderrRead(StartPipes::Take(pipes.err[0]))
    {
        // The readers read until the pipe is empty without blocking in read.
        for (int fd : {stdoutRead, stderrRead})
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }

    void GiveUp()
    {
        giveUp = true;
        RaiseEvent(stopFd);
    }

    pid_t pid = -1;
    int pidfd = -1;
    int stopFd = -1; // eventfd: tells readers and waiter to give up
    // Set with stopFd: a reader reading full chunks back to back without a
    // poll looks at it between them.
    std::atomic<bool> giveUp{false};
    int endedFd = -1; // eventfd: the child has ended, readers drain without pausing
    int stdinWrite = -1;
    int stdoutRead = -1;
    int stderrRead = -1;
    std::uint64_t serial = 0;
    std::thread stdoutThread;
    std::thread stderrThread;
    std::thread waiterThread;
    std::atomic<bool> stopRequested{false};
    // When SIGTERM was sent (on the thread that owns the runner).
    bool termSent = false;
    std::chrono::steady_clock::time_point termSentAt;

    std::mutex mutex;
    std::condition_variable changed;
    bool childDone = false; // guarded: the waiter stopped watching the child
    bool reaped = false;    // guarded
    int readersLeft = 2;    // guarded
};

CRedirect::CRedirect() = default;

CRedirect::~CRedirect()
{
    Close();
}

void CRedirect::OnStarted(const QString&) {}
void CRedirect::OnStdOut(std::string_view) {}
void CRedirect::OnStdErr(std::string_view) {}
void CRedirect::OnTerminated(const ChildExit&) {}

void CRedirect::SetEncoderImageName(const QString& imageName)
{
    m_strImageName = imageName;
}

bool CRedirect::CalledFromWorker() const
{
    return t_workerOf == this;
}

bool CRedirect::Open(const QString& commandLine, bool normalPriority)
{
    if (CalledFromWorker()) {
        qWarning("CRedirect::Open called from the runner's own notification: refused");
        return false;
    }
    StopChild();
    m_strStartError.clear();

    const QStringList args = SplitCommandLine(commandLine);
    if (args.isEmpty() || args.front().isEmpty())
        return StartFailed(commandLine, ENOENT);
    ExecImage image(args);
    StartPipes pipes;
    if (const int error = pipes.Open())
        return StartFailed(commandLine, error);
    pid_t pid = -1;
    int pidfd = -1;
    if (const int error = Spawn(image, pipes, normalPriority, pid, pidfd))
        return StartFailed(commandLine, error);
    StartWorkers(std::make_unique<Child>(pid, pidfd, pipes));
    OnStarted(commandLine);
    return true;
}

bool CRedirect::StartFailed(const QString& commandLine, int error)
{
    m_strStartError = QString::fromLocal8Bit(std::strerror(error));
    // Built at full length: command lines of the encoder run to hundreds of
    // characters.
    const QByteArray text = QStringLiteral("Unable to start %1\n").arg(commandLine).toLocal8Bit();
    OnStdOut(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    return false;
}

void CRedirect::StartWorkers(std::unique_ptr<Child> child)
{
    child->serial = ++m_nStartSerial;
    Child* c = child.get();
    m_child = std::move(child);
    c->stdoutThread = std::thread([this, c] { ReaderThread(c, true); });
    c->stderrThread = std::thread([this, c] { ReaderThread(c, false); });
    c->waiterThread = std::thread([this, c] { WaiterThread(c); });
}

void CRedirect::ReaderThread(Child* child, bool standardOutput)
{
    t_workerOf = this;
    const int fd = standardOutput ? child->stdoutRead : child->stderrRead;
    pollfd fds[2] = {{fd, POLLIN, 0}, {child->stopFd, POLLIN, 0}};
    char buffer[ChunkSize + 1];
    // After a full chunk more is likely waiting: it is read without a poll
    // first, which halves the system calls while the encoder writes its
    // progress records.
    bool full = false;
    for (;;) {
        if (full) {
            if (child->giveUp.load())
                break;
        } else {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents != 0)
                break;
            if (fds[0].revents == 0)
                continue;
        }
        const ssize_t n = ::read(fd, buffer, ChunkSize);
        full = n == static_cast<ssize_t>(ChunkSize);
        if (n > 0) {
            buffer[n] = '\0';
            const std::string_view text(buffer, static_cast<std::size_t>(n));
            if (standardOutput)
                OnStdOut(text);
            else
                OnStdErr(text);
            if (static_cast<std::size_t>(n) < ChunkSize) {
                pollfd pause[2] = {{child->stopFd, POLLIN, 0}, {child->endedFd, POLLIN, 0}};
                if (::poll(pause, 2, CoalesceMs) > 0 && pause[0].revents != 0)
                    break;
            }
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        break; // end of file: the child and everything it started closed the pipe
    }
    std::lock_guard lock(child->mutex);
    --child->readersLeft;
    child->changed.notify_all();
}

void CRedirect::WaiterThread(Child* child)
{
    t_workerOf = this;
    pollfd fds[2] = {{child->pidfd, POLLIN, 0}, {child->stopFd, POLLIN, 0}};
    bool ended = false;
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0) {
            ended = true;
            break;
        }
        if (fds[1].revents != 0)
            break;
    }

    ChildExit exit;
    exit.serial = child->serial;
    siginfo_t info{};
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(child->pid), &info, WEXITED | (ended ? 0 : WNOHANG));
    } while (rc < 0 && errno == EINTR);
    const bool reaped = rc == 0 && info.si_pid == child->pid;
    if (reaped)
        FillExit(info, exit);
    exit.stopped = child->stopRequested.load();
    RaiseEvent(child->endedFd);

    std::unique_lock lock(child->mutex);
    child->childDone = true;
    child->reaped = reaped;
    child->changed.notify_all();
    // The output the child wrote before it ended is delivered before its end.
    if (!child->changed.wait_for(lock, DrainGrace, [child] { return child->readersLeft == 0; })) {
        child->GiveUp();
        child->changed.wait(lock, [child] { return child->readersLeft == 0; });
    }
    lock.unlock();
    OnTerminated(exit);
}

void CRedirect::SendTerm(Child& c)
{
    c.stopRequested = true;
    if (c.termSent)
        return;
    c.termSent = true;
    c.termSentAt = std::chrono::steady_clock::now();
    std::unique_lock lock(c.mutex);
    if (!c.childDone) {
        lock.unlock();
        PidfdSignal(c.pidfd, SIGTERM);
    }
}

void CRedirect::RequestStop()
{
    if (m_child && !CalledFromWorker())
        SendTerm(*m_child);
}

void CRedirect::StopChild()
{
    if (!m_child)
        return;
    Child& c = *m_child;
    SendTerm(c);
    {
        std::unique_lock lock(c.mutex);
        if (!c.childDone) {
            if (!c.changed.wait_until(lock, c.termSentAt + m_stopGrace,
                                      [&c] { return c.childDone; })) {
                lock.unlock();
                PidfdSignal(c.pidfd, SIGKILL);
                lock.lock();
                c.changed.wait_for(lock, KillGrace, [&c] { return c.childDone; });
            }
        }
    }
    c.GiveUp();
    c.waiterThread.join();
    c.stdoutThread.join();
    c.stderrThread.join();
    if (!c.reaped) {
        // The waiter gave up on the child (the kill grace ran out, or it could
        // not watch it): kill it and reap it if it ends within the grace. A
        // process stuck in the kernel is left behind rather than blocking the
        // caller.
        PidfdSignal(c.pidfd, SIGKILL);
        pollfd ended = {c.pidfd, POLLIN, 0};
        ::poll(&ended, 1, static_cast<int>(KillGrace.count()));
        if (::waitpid(c.pid, nullptr, WNOHANG) != c.pid)
            qWarning("CRedirect: child %d did not end after SIGKILL", int(c.pid));
    }
    CloseFd(c.pidfd);
    CloseFd(c.stopFd);
    CloseFd(c.endedFd);
    CloseFd(c.stdinWrite);
    CloseFd(c.stdoutRead);
    CloseFd(c.stderrRead);
    m_child.reset();
}

void CRedirect::Close()
{
    if (CalledFromWorker()) {
        qWarning("CRedirect::Close called from the runner's own notification: refused");
        return;
    }
    StopChild();
    KillStrayEncoders(m_strImageName);
}

QByteArray CRedirect::OwnMark()
{
    const QByteArray pid = QByteArray::number(::getpid());
    return pid + ':' + ProcessStartTime("/proc/" + pid);
}

bool CRedirect::MarkOwnerAlive(const QByteArray& mark)
{
    const qsizetype colon = mark.indexOf(':');
    bool ok = false;
    const long pid = mark.left(colon).toLong(&ok);
    if (colon < 0 || !ok || pid <= 0)
        return false;
    const QByteArray started = ProcessStartTime("/proc/" + QByteArray::number(pid));
    return !started.isEmpty() && started == mark.mid(colon + 1);
}

int CRedirect::KillStrayEncoders(const QString& imageName)
{
    // The kernel keeps at most 15 bytes of the name in comm.
    const QByteArray wanted = QFile::encodeName(imageName).left(15);
    if (wanted.isEmpty())
        return 0;
    const long uid = static_cast<long>(::getuid());
    const pid_t self = ::getpid();

    std::vector<int> pidfds;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end != '\0' || pid == self)
                continue;
            const QByteArray dir = QByteArray("/proc/") + entry->d_name;
            if (!IsStray(dir, wanted, uid))
                continue;
            const int pidfd = PidfdOpen(static_cast<pid_t>(pid));
            if (pidfd < 0)
                continue;
            // The pid may have been reused between the check and the open: check
            // the process the descriptor now stands for.
            if (!IsStray(dir, wanted, uid) || !PidfdSignal(pidfd, SIGTERM)) {
                ::close(pidfd);
                continue;
            }
            pidfds.push_back(pidfd);
        }
        ::closedir(proc);
    }
    const int signalled = static_cast<int>(pidfds.size());

    const auto deadline = std::chrono::steady_clock::now() + TermGrace;
    while (!pidfds.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        std::vector<pollfd> fds;
        for (int fd : pidfds)
            fds.push_back({fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        std::vector<int> alive;
        for (const pollfd& p : fds) {
            if (p.revents != 0)
                ::close(p.fd);
            else
                alive.push_back(p.fd);
        }
        pidfds.swap(alive);
    }
    for (int fd : pidfds) {
        PidfdSignal(fd, SIGKILL);
        ::close(fd);
    }
    return signalled;
}

CRedir::~CRedir()
{
    Close();
}

void CRedir::OnStdOut(std::string_view text)
{
    if (m_pOwner)
        m_pOwner->ParseEncoderOutput(text);
}

void CRedir::OnStdErr(std::string_view text)
{
    if (m_pOwner)
        m_pOwner->KeepEncoderErrorOutput(text);
}

void CRedir::OnTerminated(const ChildExit& exit)
{
    if (m_pOwner)
        m_pOwner->OnChildTerminated(exit);
}
