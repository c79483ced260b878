#pragma once

#include "engine/Redirect.h"
#include "tests/support/MediaFactory.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include <QString>
#include <QTemporaryDir>

// The fake encoder (test_runner_fake_encoder.cpp) reached through a symlink with
// a name of this test process's own, so that the runner's kill sweep can only
// ever find processes this test started.
class FakeEncoder
{
public:
    FakeEncoder();

    bool IsValid() const { return m_valid; }
    QString Dir() const { return m_dir.path(); }
    QString Path() const { return m_path; }
    QString ImageName() const { return m_imageName; }
    QString FilePath(const QString& name) const { return m_dir.filePath(name); }

    // Writes a script file (see the fake encoder) and returns its path.
    QString Script(const QString& name, const QString& text) const;

    // "\"<fake>\" \"<script>\"": the fake runs the script given as its first argument.
    QString CommandLine(const QString& scriptPath) const;

    // A symlink to a real encoder of tools/ (mencoder, ffmpeg) with a name of
    // this process's own.
    QString RealEncoderLink(const QString& suffix = QStringLiteral("m"),
                            const QString& tool = QStringLiteral("mencoder")) const;

    // A small real movie (6 s, 160x120, MPEG-4 AVI with sound), made once per
    // test process, and the script line that makes it the output: the run's
    // check of the output then finds a whole movie.
    static constexpr int WholeMovieSeconds = 6;
    static QString WholeMovie();
    static QString WriteWholeMovie() { return QStringLiteral("copyout ") + WholeMovie() + '\n'; }

private:
    QTemporaryDir m_dir;
    QString m_imageName;
    QString m_path;
    bool m_valid = false;
};

// A real mencoder that this test process started itself, not through any
// runner: it reads a FIFO that nobody writes, so it waits, unmarked, for as long
// as the object lives, and is ended (SIGKILL) by the object's destruction.
// environment: "NAME=value" entries it gets besides this process's own.
class ForeignEncoder
{
public:
    explicit ForeignEncoder(const QByteArrayList& environment = {});
    ~ForeignEncoder();
    ForeignEncoder(const ForeignEncoder&) = delete;
    ForeignEncoder& operator=(const ForeignEncoder&) = delete;

    // Started and carrying the encoder's image name ("mencoder").
    bool IsValid() const { return m_pid > 0 && m_valid; }
    bool IsAlive() const;

private:
    QTemporaryDir m_dir;
    pid_t m_pid = -1;
    bool m_valid = false;
};

// A runner that records every notification.
class RecordingRunner : public CRedirect
{
public:
    ~RecordingRunner() override { Close(); }

    // Waits until count terminations were seen; false on time-out.
    bool WaitForTerminations(std::size_t count,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

    std::vector<std::string> StdOutChunks() const { return Locked(&RecordingRunner::m_stdout); }
    std::string StdOut() const;
    std::string StdErr() const { return Locked(&RecordingRunner::m_stderr); }
    std::vector<ChildExit> Exits() const { return Locked(&RecordingRunner::m_exits); }
    int Started() const { return Locked(&RecordingRunner::m_started); }

protected:
    void OnStarted(const QString& commandLine) override;
    void OnStdOut(std::string_view text) override;
    void OnStdErr(std::string_view text) override;
    void OnTerminated(const ChildExit& exit) override;

private:
    // A copy of a member, taken under the lock.
    template <class T>
    T Locked(T RecordingRunner::*member) const
    {
        std::lock_guard lock(m_mutex);
        return this->*member;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_stdout;
    std::string m_stderr;
    std::vector<ChildExit> m_exits;
    int m_started = 0;
};

namespace ProcessProbe {

int OpenFdCount();
int ThreadCount();
// True while this process has any child, running or ended but not reaped.
bool HasChildren();
// Starts program directly with fork and exec (a bare name is looked up on PATH),
// not through the runner. Not QProcess or posix_spawn: both start the child with
// a vfork-like clone, and under ThreadSanitizer the child's calls then leave the
// parent thread's sanitizer state behind, hiding its later synchronisation.
// environment: "NAME=value" entries added to (or replacing those of) this
// process's own.
pid_t Spawn(const QString& program, const QStringList& args,
            const QByteArrayList& environment = {});
// Waits for a spawned process; returns its wait status, or -1 on time-out.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout);
bool ProcessExists(pid_t pid);
// Niceness of this process.
int OwnNice();

} // namespace ProcessProbe
