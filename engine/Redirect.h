#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

#include <QString>

// How a child of the runner ended, as its waiter saw it.
struct ChildExit
{
    enum class Kind
    {
        Exited,    // the child called exit; code is its exit status
        Signalled, // a signal ended the child; code is the signal number
        Unknown    // the child could not be reaped (Close gave up on it)
    };

    Kind kind = Kind::Unknown;
    int code = 0;
    // Close asked the child to end (SIGTERM, then SIGKILL): its end is not a
    // failure of the child's own.
    bool stopped = false;
    // Which start of the runner this child was (see CRedirect::StartSerial).
    std::uint64_t serial = 0;

    bool Succeeded() const { return kind == Kind::Exited && code == 0; }
};

// Starts one console program as a child with its standard input, output and
// error on pipes, reads both output pipes on worker threads, watches for the
// child's end on a third, and reports through four notifications:
//   OnStarted     on the thread that called Open, after a successful start;
//   OnStdOut      on the stdout thread, one call per read of at most 256 bytes,
//                 in order (and on the caller's thread with the start-failure text);
//   OnStdErr      on the stderr thread, likewise;
//   OnTerminated  on the waiter thread, exactly once per started child, after
//                 the child has been reaped and both readers have finished.
// Every child carries the environment variable OwnerMarkName naming this
// process (OwnMark), and so do the processes it starts in turn: that is how a
// later Clipvane tells an encoder left behind by a Clipvane that crashed from
// anybody else's encoder, which it never touches.
// One child at a time: Open ends a previous child first. The notifications must
// not call Open or Close on the same runner (they would wait for themselves);
// such calls are refused. A derived class must call Close in its own destructor
// so that no notification reaches a half-destroyed object.
class CRedirect
{
public:
    CRedirect();
    virtual ~CRedirect();
    CRedirect(const CRedirect&) = delete;
    CRedirect& operator=(const CRedirect&) = delete;

    // commandLine: the program path in double quotes, then the arguments, split
    // with the Windows quoting rules (CommandLine.h) and executed directly.
    // normalPriority false starts the child at nice +10. Returns false when the
    // child could not be started; "Unable to start <commandLine>\n" then goes to
    // OnStdOut and nothing else follows.
    bool Open(const QString& commandLine, bool normalPriority);

    // Ends a live child (SIGTERM, SIGKILL after 500 ms), waits for the worker
    // threads, releases everything, then ends the encoders that a Clipvane now
    // gone left behind (KillStrayEncoders). Safe to call when nothing runs.
    void Close();

    // Sends a live child SIGTERM and returns at once; the Close that follows
    // waits for it, and its 500 ms before SIGKILL count from this signal. So
    // several runners can be stopped together: RequestStop on each, then Close.
    void RequestStop();

    // Serial number of the last successful Open (0 before the first); each
    // child's ChildExit carries the serial of its own start.
    std::uint64_t StartSerial() const { return m_nStartSerial; }

    // Why the last Open failed, in the system's words ("No such file or
    // directory"); empty after a successful Open.
    QString StartError() const { return m_strStartError; }

    // Image name (as /proc/<pid>/comm shows it) that Close sweeps for; none
    // (no sweep) until it is set.
    void SetEncoderImageName(const QString& imageName);

    // How long a child may take to end after SIGTERM before Close kills it
    // (default 500 ms): the time an encoder needs to finish its file.
    void SetStopGrace(std::chrono::milliseconds grace) { m_stopGrace = grace; }

    // The environment variable that marks the children, and its value for this
    // process: "<pid>:<start time>", the start time in clock ticks after boot
    // as /proc/<pid>/stat gives it, so that a later process with the same pid
    // does not pass for this one.
    static constexpr char OwnerMarkName[] = "CLIPVANE_OWNER";
    static QByteArray OwnMark();
    // Whether the process a mark names is still running.
    static bool MarkOwnerAlive(const QByteArray& mark);

    // Ends every process of the current user whose image name is imageName
    // (compared as the kernel keeps it: at most 15 bytes) and that carries a
    // mark whose Clipvane is gone: SIGTERM, and SIGKILL for those still alive
    // after 500 ms. Unmarked processes, and those of a Clipvane still running
    // (this one included), are never signalled. Returns how many processes
    // were signalled.
    static int KillStrayEncoders(const QString& imageName);

protected:
    virtual void OnStarted(const QString& commandLine);
    // text.data() is terminated by a NUL right after the last byte read.
    virtual void OnStdOut(std::string_view text);
    virtual void OnStdErr(std::string_view text);
    virtual void OnTerminated(const ChildExit& exit);

private:
    struct Child;

    // The steps of Open after the child runs, and after a failure: the failure
    // text goes to OnStdOut and false is returned.
    void StartWorkers(std::unique_ptr<Child> child);
    bool StartFailed(const QString& commandLine, int error);
    // SIGTERM to the child, once per child.
    void SendTerm(Child& child);
    void StopChild();
    void ReaderThread(Child* child, bool standardOutput);
    void WaiterThread(Child* child);
    bool CalledFromWorker() const;

    std::unique_ptr<Child> m_child;
    std::uint64_t m_nStartSerial = 0;
    QString m_strStartError;
    QString m_strImageName;
    std::chrono::milliseconds m_stopGrace{500};
};

// What the form's runner reports to its owner (the encoding run). The calls
// come on the runner's worker threads: the two output calls on the two reader
// threads (ParseEncoderOutput also on the caller of a failed Open), the end on
// the waiter.
class CRedirOwner
{
public:
    virtual ~CRedirOwner() = default;
    // A chunk of the child's standard output.
    virtual void ParseEncoderOutput(std::string_view text) = 0;
    // A chunk of the child's standard error.
    virtual void KeepEncoderErrorOutput(std::string_view text) = 0;
    virtual void OnChildTerminated(const ChildExit& exit) = 0;
};

class CRedir : public CRedirect
{
public:
    CRedir() = default;
    ~CRedir() override;

    CRedirOwner* m_pOwner = nullptr;

protected:
    void OnStdOut(std::string_view text) override;
    void OnStdErr(std::string_view text) override;
    void OnTerminated(const ChildExit& exit) override;
};
