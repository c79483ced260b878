#pragma once

#include "engine/EncodeSlot.h"
#include "engine/FailureReason.h"
#include "engine/OutputClaim.h"
#include "engine/ProgressTally.h"
#include "engine/RunEvents.h"
#include "engine/RunLog.h"
#include "engine/RunOutputs.h"
#include "engine/RunPlan.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QObject>
#include <QString>
#include <QStringList>

// A run of a plan (RunPlan), which is all it reads: every job into its output,
// up to the plan's encodes at once (with 1, one job after another in list
// order). It tells what happens by its events: a job started, its progress, its
// end (a JobEnd), the run's progress every second (elapsed, remaining and total
// percentage) and the run's end (a RunEnd). The window and clipvane-batch each
// listen and show them their own way; questions are theirs too (the plan's
// ExistingOutputs before a run, IncompleteOutputs after a Stop).
// Lives on the UI thread; the runners' worker threads only hand the encoder's
// output to the job's encoder (CEncode) and each child's end over to the UI
// thread, where the job's end, the next start and the events come.
// Which encoder makes a job is the business of its CEncode and its back
// end's row (Backends.h) alone: the slots, the scheduling, the naming, the
// progress (CProgressTally), the log (CRunLog) and the whole-movie check are
// the same for every one.
// A job's movie and output folder are checked before its encoder starts: a job
// that cannot start fails without an encoder, and the batch goes on. Then the
// job claims its output's name, as the plan's Overwrite says when the name is
// in use, and its encoder writes a temporary file that takes the name only once
// it is a whole movie (CRunOutputs).
// For each job the run keeps the encoder's last lines, so that a failed job can
// say why (CFailureReason), and each run writes a plain-text log (CRunLog) in
// which each job's entry is written whole when the job ends.
// A long movie that its encoder may cut (CEncode::SegmentRequest) is planned
// off the UI thread from its key frames (up to a second on a long transport
// stream) and comes back by a queued call; a segmented job is then made of
// pieces kept in its work folder in the state folder (CSegmentWork::FolderFor
// of its movie and planned output), so that a later run continues from its
// first unfinished segment. While no job waits, free slots run the pieces of
// the running segmented jobs beside them; the job's own slot holds its output,
// its progress and its log entry, and a piece that fails fails the job and
// stops its other pieces.
class CEncodingRun : public QObject
{
    Q_OBJECT

public:
    explicit CEncodingRun(QObject* parent = nullptr);
    ~CEncodingRun() override;

    // Starts a run of the plan, whose jobs are named (RunPlan::SetJobs). False
    // when no run starts: one is active, or the plan has no jobs.
    bool Start(RunPlan plan);
    // The Stop button: every running encoder is asked to end at once, then
    // waited for. Each stopped job ends Stopped, and the run's progress shows
    // what the finished jobs made of it. The outputs the stopped encoders had
    // begun wait for SettleIncompleteOutputs; the run has ended (RunEnded)
    // before they are settled.
    void Stop();
    // The same without waiting, when Clipvane is to quit (a signal, the end of
    // the desktop session): the incomplete outputs are deleted, also those a
    // Stop left waiting.
    void StopForQuit();
    // The outputs of the last Stop's jobs that their encoders had written
    // something into, by their output names; empty once settled.
    const QStringList& IncompleteOutputs() const { return m_arrIncomplete; }
    // Deletes the incomplete outputs (remove), or keeps each under its
    // output's name, and writes the stopped jobs' log entries and the log's
    // end.
    void SettleIncompleteOutputs(bool remove);

    // The one-second timer's work: each running job's percentage where it
    // changed (JobProgress), then the run's progress (RunProgress).
    void ReportProgress();
    // The image name the slots' sweep looks for at Stop and at the run's end
    // (CRedirect::Close) until a plan names its encoder: the first back end's
    // by default.
    void SetEncoderImageName(const QString& imageName);
    // Seconds since the epoch; replaceable so that the times can be tested.
    void SetClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

    bool IsRunning() const { return m_bRunning; }
    bool IsSampling() const { return m_bRunning && m_plan.bSampling; }
    // The plan of the current (or last) run, and its jobs' output paths in job
    // order: the plan's, or the name a job took when its own was in use.
    const RunPlan& Plan() const { return m_plan; }
    const QStringList& Outputs() const { return m_outputs.Paths(); }
    // What the run tells of its state, for tests and benchmarks.
    bool WasStoppedByUser() const { return m_bStoppedByUser; }
    bool HasRunTimer() const { return m_nTimerId != 0; }
    // A job's percentage: its encoder's while it runs, else the one it ended
    // with (0 for a stopped job, and before it starts).
    int Percent(int job) const;
    std::uint64_t DoneBytes() const { return m_tally.DoneBytes(); }
    // Encoders the current (or last) run keeps going at once, and how many
    // jobs are being encoded now.
    int SlotCount() const { return m_plan.nEncodesAtOnce; }
    int RunningJobs() const;
    // The slots that run a piece of another slot's segmented job now.
    int PieceRuns() const { return int(BusySlots().size()) - RunningJobs(); }

    // Looks (off the UI thread) for finished segments that the plan's jobs
    // would continue from (their work folders with this plan's settings), and
    // tells each such job by JobResumes. Start does it for the run's jobs.
    void FindResumes(const RunPlan& plan);

signals:
    // A run started with jobs jobs on SlotCount() slots; the plan's jobs that
    // are left out have ended already.
    void RunStarted(int jobs);
    // A job's encoder is about to start on output (its output's name).
    void JobStarted(int index, const QString& output);
    // A running job's percentage changed (0 to 100); at the timer's ticks.
    void JobProgress(int index, int percent);
    // A job that waits continues a segmented encode of which percent (a
    // whole percentage of its movie, above 0) is done: its row says so.
    void JobResumes(int index, const QString& movie, int percent);
    // A job ended: finished, failed (also one that could not start), stopped
    // or left out.
    void JobEnded(int index, const JobEnd& end);
    // The run's elapsed and remaining time and total percentage: after each
    // tick's JobProgress, at the end, and after a Stop.
    void RunProgress(const CProgressTally::Reading& reading);
    // The run has ended; its log is complete, but for a Stop's jobs whose
    // outputs are to be settled (IncompleteOutputs).
    void RunEnded(const RunEnd& end);

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void ProcessCompletions();
    void ProcessPlans();
    void ProcessChecks();
    void ProcessResumes();

private:
    // What the run hands a job's encode; what an encoder left at a path, and
    // its size (0 when there is no file).
    static CEncode::Setup SetupFor(const RunPlan& plan, int job, const QString& output);
    static CFailureReason::Output OutputState(const QString& path);
    static std::uint64_t FileBytes(const QString& path);
    // The share of a job's movie that the finished segments in its work folder
    // hold with the plan's settings (EncodingRunSegments.cpp, with the rest of
    // the segmented jobs' work).
    static int StoredResumePercent(const RunPlan& plan, int job, const QString& stateDir);

    enum class JobStep : unsigned char
    {
        Waiting,
        Running,
        Ended
    };
    // A job of the run as the scheduler sees it.
    struct RunJob
    {
        JobStep step = JobStep::Waiting;
        // The percentage it ended with, and the one last reported.
        int nPercent = 0;
        int nReportedPercent = 0;
    };

    // Starts waiting jobs on the free slots; ends the run when no job runs and
    // none can start.
    void ScheduleJobs();
    // The waiting job to start next; -1 when none waits.
    int NextJob() const;
    // A job is left out: its output's name is in use.
    void SkipJob(int index, const QString& reason);
    // Starts the encoder for a job on a free slot; a job that cannot start
    // fails there and then.
    void StartJob(CEncodeSlot& slot, int index);
    // Starts the slot job's current step; false (the job ended) when the
    // encoder could not be started.
    bool StartStep(CEncodeSlot& slot);
    // Handles the end of a slot's encoder; lines: the last lines it printed.
    void OnSlotEnded(int slotIndex, const ChildExit& exit, const QStringList& lines);
    // The same for a slot that ran a piece of another slot's job.
    void OnPieceEnded(CEncodeSlot& slot, const ChildExit& exit, const QStringList& lines);
    // Plans a slot's job's segments off the UI thread (ProcessPlans goes on).
    void PlanSegments(CEncodeSlot& slot, const FfmpegCommand::Request& request);
    // What a job's slot does after a step or a piece: its next step, a failure,
    // background work (CheckLater), or nothing while it waits.
    void Advance(CEncodeSlot& slot, CEncode::StepEnd next, const QStringList& lines);
    // Does the encode's BackgroundWork on the worker; ProcessChecks goes on.
    void CheckLater(CEncodeSlot& slot);
    // While no job waits, the free slots take pieces of the running jobs.
    void StartPieces();
    // A job's slot: its job failed; the pieces other slots run for it are
    // stopped, and its own encoder too.
    void FailJob(CEncodeSlot& slot, const CFailureReason& failure, const QStringList& lines);
    void StopPieces(const CEncodeSlot& slot);
    // The busy slots that hold a job (not its pieces), the first started first.
    std::vector<CEncodeSlot*> JobSlots() const;
    // The busy slots of the run, the one that took its job first first.
    std::vector<CEncodeSlot*> BusySlots() const;
    CEncodeSlot* FreeSlot() const;
    // Makes the slots the run needs.
    void EnsureSlots(int count);
    // Ends the active run's encoders; quitting: their outputs are deleted.
    void Stop(bool quitting);
    // Ends the run: the log's last line, then RunEnded.
    void EndRun(RunEnd::Way way, const QString& logEnd);
    void KillRunTimer();
    std::int64_t Now() const;
    // Now as the log shows times.
    QString NowText() const;
    // A slot's job ended, failed when failure is set: counts it, deletes a
    // failed job's output, logs it with lines and tells it; the slot is then
    // free.
    void EndJob(CEncodeSlot& slot, const std::optional<CFailureReason>& failure,
                const QStringList& lines);
    // A slot's job's log entry, as it stands now.
    RunLogJob JobLogEntry(const CEncodeSlot& slot, const QString& end,
                          const QStringList& lines) const;

    // Run state, on the UI thread only.
    RunPlan m_plan;
    bool m_bRunning = false;
    bool m_bStoppedByUser = false;
    CProgressTally m_tally;
    int m_nTimerId = 0;
    // The run's jobs, in list order, and their outputs.
    std::vector<RunJob> m_arrJobs;
    CRunOutputs m_outputs;
    // Counts the starts of jobs, so that slots know which started first.
    std::uint64_t m_nStarts = 0;
    // An encoder could not be started: no further job starts, and the run ends
    // with this text once the running jobs have ended.
    QString m_strStartFailure;
    // Jobs of the current (or last) run that finished and that failed.
    int m_nFinishedJobs = 0;
    int m_nFailedJobs = 0;
    // "<file> failed: <why>" for the last job that failed.
    QString m_strLastFailure;
    // What the last Stop left to settle: the stopped jobs' log entries, the
    // claims of their incomplete outputs and those outputs' names, and whether
    // Clipvane was quitting.
    std::vector<RunLogJob> m_stoppedEntries;
    std::vector<std::unique_ptr<COutputClaim>> m_incompleteClaims;
    QStringList m_arrIncomplete;
    bool m_bStoppedForQuit = false;

    std::function<std::int64_t()> m_clock;
    CRunLog m_log;

    // Child ends and their last lines, handed from the waiter threads to the UI
    // thread.
    struct Completion
    {
        int nSlot = 0;
        ChildExit exit;
        QStringList lines;
    };
    std::mutex m_completionMutex;
    std::deque<Completion> m_completions;

    // Segment plans and resume findings, handed from the pool's threads to the
    // UI thread in the same way. A plan is for the job a slot took at its
    // order; findings are for the FindResumes of that serial.
    struct Planned
    {
        int nSlot = 0;
        std::uint64_t nOrder = 0;
        SegmentPlan plan;
    };
    struct Resume
    {
        std::uint64_t nSerial = 0;
        int nJob = 0;
        QString strMovie;
        int nPercent = 0;
    };
    std::deque<Planned> m_planned;
    // The slots (and their orders) whose background work is done.
    std::deque<std::pair<int, std::uint64_t>> m_checked;
    std::deque<Resume> m_resumes;
    std::uint64_t m_nResumeSerial = 0;
    // Where the work folders of segmented jobs lie (the state folder), taken
    // when the run starts.
    QString m_strStateDir;
    // One worker thread, started with the first task, does the probes in
    // order (a job's plan before the rows' resume findings): each task reads
    // only what it was given and hands its result over as above. Ended and
    // joined before anything else goes.
    void RunLater(std::function<void()> task, bool first);
    void WorkerLoop();
    std::mutex m_taskMutex;
    std::condition_variable m_taskReady;
    std::deque<std::function<void()>> m_tasks;
    bool m_bEndWorker = false;
    std::thread m_worker;

    // Last: their runners' threads call into the members above, so they end
    // first.
    std::vector<std::unique_ptr<CEncodeSlot>> m_slots;
};
