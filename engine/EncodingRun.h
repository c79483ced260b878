#pragma once

#include "engine/EncodeSlot.h"
#include "engine/FailureReason.h"
#include "engine/OutputClaim.h"
#include "engine/ProgressTally.h"
#include "engine/RunForm.h"
#include "engine/RunLog.h"
#include "engine/RunPlan.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

// A run over the job list, made from a plan taken when it starts (RunPlan):
// every job into the output folder, up to the plan's encodes at once (with 1,
// one job after another in list order), with each running row's percentage,
// the Current File panel, total progress, elapsed and remaining time, and at
// the very end the finish message, the optional shut-down and the output
// folder. Lives on the UI thread; the runners' worker threads only hand the
// encoder's output to the job's encoder (CEncoderJob) and each child's end over
// to the UI thread, where the job's end, the next start, the messages and the
// shut-down run. The form reaches the user through RunForm. The first slot's
// runner also serves the preview player (StartPreview).
// Which encoder makes a job is the business of its CEncoderJob alone: the
// slots, the queue, the naming (OutputNamer), the progress (CProgressTally),
// the log (CRunLog) and the whole-movie check are the same for every one.
// The output folder is made and checked before a run starts anything, and a
// job's movie and output folder again before its encoder starts (StartChecks):
// a job that cannot start fails without an encoder, and the batch goes on.
// Then the job claims its output's name (COutputClaim), as the plan's
// Overwrite says when the name is in use, and its encoder writes a temporary
// file that takes the name only once it is a whole movie. At its start a run
// removes what ended runs of this host left in its output folders.
// For each job the run keeps the encoder's last lines, so that a failed row can
// say why (its status cell's reason, CFailureReason), and each run writes a
// plain-text log (CRunLog) in which each job's entry is written whole when the
// job ends.
class CEncodingRun : public QObject
{
    Q_OBJECT

public:
    explicit CEncodingRun(RunForm& form, QObject* parent = nullptr);
    ~CEncodingRun() override;

    // Starts a run of the plan over the form's jobs (which the plan then holds).
    void Start(RunPlan plan);
    // The Sampling button: the plan of the stored settings, taken now, in which
    // each movie is encoded for its first SampleSeconds.
    void StartSampling();
    // The Make button: the plan of the stored settings, taken now.
    void StartEncoding();
    // The Stop button: ends a run or a preview. Every running encoder is asked
    // to end at once, then waited for. Each stopped job's row says "Stopped",
    // the bars and times show what was done, and one question asks whether to
    // delete the incomplete outputs.
    void StopEncoding();
    // The same without a question, when Clipvane is to quit (a signal, the end
    // of the desktop session): the incomplete outputs are deleted. Also deletes
    // incomplete outputs that a Stop question still asks about.
    void StopForQuit();
    // The one-second timer's work: elapsed and remaining time, both bars and the
    // running rows' bars.
    void UpdateTimeLabels();
    // The list's selection changed. The Current File panel and the current-file
    // bar show the selected row while its job is being encoded, else the
    // running job that started first.
    void FollowSelection();

    // Starts the preview player with a complete command line at normal priority.
    // Refused while a run is active (the player takes the first slot's runner);
    // false also when the player could not be started.
    bool StartPreview(const QString& commandLine);

    // The finish message's first line, which the desktop's notification says too,
    // and the line under it when jobs failed: "1 of 3 files failed.".
    static inline const QString FinishedText = QStringLiteral("Encoding Finished !!");
    static QString FailedFilesText(int failed, int ended);

    // The output path of a job with the stored folder, prefix and profile
    // (OutputNamer::PathFor), and those of a batch (OutputNamer::PathsFor).
    static QString OutputPathFor(const StreamFile& job, int copy = 1);
    static QStringList OutputPathsFor(const std::vector<StreamFile>& jobs);

    // The encoder program of a back end and the image name Stop sweeps for
    // (defaults: tools/mencoder and tools/ffmpeg in the application folder).
    void SetEncoder(EncodeProfile::Backend backend, const QString& path, const QString& imageName);
    // The mencoder back end's, as SetEncoder.
    void SetEncoderPath(const QString& path);
    void SetEncoderImageName(const QString& name);
    // Seconds since the epoch; replaceable so that the time labels can be tested.
    void SetClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

    // What the run tells of its state: the form asks whether a run is active;
    // the rest is for tests and benchmarks.
    bool IsRunning() const { return m_bRunning; }
    bool IsSampling() const { return m_bRunning && m_plan.bSampling; }
    // The plan of the current (or last) run, and its jobs' output paths in job
    // order.
    const RunPlan& Plan() const { return m_plan; }
    const QStringList& Outputs() const { return m_arrOutputs; }
    // The preview player was started and its end has not come yet.
    bool IsPreviewing() const { return m_bPlayerStarted; }
    bool WasStoppedByUser() const { return m_bStoppedByUser; }
    bool HasRunTimer() const { return m_nTimerId != 0; }
    // The first job of the list that has not ended in this run (with one
    // encoder at a time, the job being encoded); 0 after a finished run. A
    // preview's end moves it on, as a job's end does.
    int CurrentJob() const { return m_nCurrentJob; }
    // The percentage and output of the job the Current File panel shows (or
    // showed last).
    int CurrentPercent() const { return m_pShownSlot ? m_pShownSlot->Percent() : 0; }
    const QString& CurrentOutput() const { return m_strCurrentOutput; }
    std::uint64_t DoneBytes() const { return m_tally.DoneBytes(); }
    // Encoders the current (or last) run keeps going at once, and how many
    // jobs are being encoded now.
    int SlotCount() const { return m_plan.nEncodesAtOnce; }
    int RunningJobs() const;

signals:
    // A run started with jobs jobs on SlotCount() slots.
    void RunStarted(int jobs);
    // The total bar's value changed (0 to 100).
    void TotalProgressChanged(int percent);
    // The encoding is over, before the finish message or Stop's question waits
    // for the user: finished when the run went through the list (the finish
    // message follows); failedJobs of endedJobs failed.
    void RunOver(bool finished, int failedJobs, int endedJobs);
    // A run ended: finished, stopped (Stop or a quit), or its encoder could not
    // be started. finished and failed count the run's jobs that ended so.
    void RunEnded(int finished, int failed, bool stopped);

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void ProcessCompletions();

private:
    enum class JobState : unsigned char
    {
        Waiting,
        Running,
        Ended
    };
    // A job of the run as the scheduler sees it, taken when the run starts.
    struct RunJob
    {
        JobState state = JobState::Waiting;
        int nDuration = 0;
        std::uint64_t ullSize = 0;
    };

    // Finished files that exist already under outputs would be replaced: one
    // question for all of them, which existing lists. True to go on.
    bool MayOverwrite(const QStringList& outputs, QStringList& existing);
    // Starts waiting jobs on the free slots; ends the run when no job runs and
    // none can start.
    void ScheduleJobs();
    // The waiting job to start next; -1 when none waits.
    int NextJob() const;
    // Why a job cannot start: its movie is gone or unreadable, or its output
    // folder cannot be written (now); nothing when it can.
    std::optional<CFailureReason> StartProblem(const QString& input, const QString& output) const;
    // Claims the output's name of a job as the plan's Overwrite says; with
    // free, the first free name of its copies.
    COutputClaim::Attempt ClaimOutput(int index, bool free);
    // A job is left out: its output's name is in use.
    void SkipJob(int index, const QString& reason);
    // Starts the encoder for a job on a free slot; a job that cannot start
    // fails there and then.
    void StartJob(CEncodeSlot& slot, int index);
    // Starts the slot job's current step; false (the job ended) when the
    // encoder could not be started.
    bool StartStep(CEncodeSlot& slot);
    // Handles the end of a slot's child (an encoder or the preview player);
    // lines: the last lines it printed.
    void OnSlotEnded(int slotIndex, const ChildExit& exit, const QStringList& lines);
    // Points the Current File panel at the job it is to follow, if that changed.
    void ShowCurrentFile();
    // The busy slots of the run, the one that took its job first first.
    std::vector<CEncodeSlot*> BusySlots() const;
    CEncodeSlot* FreeSlot() const;
    // Makes the slots the run needs; slot 0 always exists (the preview uses it).
    void EnsureSlots(int count);
    // Ends the active run's encoders; quitting: without the delete question.
    void Stop(bool quitting);
    // The bars and times after a stop: the current file's bar empty, the total
    // what the finished jobs made of the run.
    void ShowStoppedProgress();
    void SetTotalProgress(int percent);
    // Why a job's output, written with exit code 0, is not a whole movie (or
    // is over its size budget); nothing when it is one.
    std::optional<CFailureReason> CheckOutput(const CEncodeSlot& slot,
                                              const QStringList& lines) const;
    // Gives a whole movie its output's name; why it could not.
    std::optional<CFailureReason> PublishOutput(CEncodeSlot& slot);
    // The run works from its plan's jobs; the form's list shows them, and a
    // row that has gone from it is not written.
    bool RowExists(int index) const;
    void SetRowStatus(int index, const QString& status, const QString& reason);
    void FinishRun();
    void AbortRun(const QString& message);
    void KillRunTimer();
    std::int64_t Now() const;
    // Now as the log shows times.
    QString NowText() const;
    // Moves m_nCurrentJob to the first job that has not ended.
    void MoveCursor();
    // A slot's job ended, failed when failure is set: counts it, writes its
    // row's status and reason, deletes a failed job's output and logs it with
    // lines; the slot is then free.
    void EndJob(CEncodeSlot& slot, const std::optional<CFailureReason>& failure,
                const QStringList& lines);
    // A slot's job's log entry, as it stands now.
    RunLogJob JobLogEntry(const CEncodeSlot& slot, const QString& end,
                          const QStringList& lines) const;

    // Run state, on the UI thread only.
    RunPlan m_plan;
    bool m_bRunning = false;
    bool m_bStoppedByUser = false;
    bool m_bPlayerStarted = false;
    int m_nCurrentJob = 0;
    CProgressTally m_tally;
    QString m_strCurrentOutput;
    int m_nTimerId = 0;
    // The run's jobs, in list order, and their output paths (OutputNamer; a
    // job's changes when its name is taken as it starts).
    std::vector<RunJob> m_arrJobs;
    QStringList m_arrOutputs;
    // The names of the run's outputs and movies (OutputNamer::PathKey), and
    // those of finished files the user agreed to replace.
    QSet<QString> m_runNames;
    QSet<QString> m_replaceable;
    // Counts the starts of jobs, so that slots know which started first.
    std::uint64_t m_nStarts = 0;
    // The slot the Current File panel shows, and its job then.
    CEncodeSlot* m_pShownSlot = nullptr;
    int m_nShownJob = -1;
    int m_nTotalPercent = -1;
    // The last job that ended finished.
    bool m_bLastSucceeded = false;
    // An encoder could not be started: no further job starts, and the run ends
    // with this message once the running jobs have ended.
    QString m_strStartFailure;
    // Jobs of the current (or last) run that ended and how many of them failed.
    int m_nJobsEnded = 0;
    int m_nFailedJobs = 0;
    // "<file> failed: <why>." for the last job that failed.
    QString m_strLastFailure;
    // The claims of the incomplete outputs the Stop question asks about, while
    // it asks.
    std::vector<std::unique_ptr<COutputClaim>> m_askingAbout;

    RunForm& m_form;
    // The encoder program and image name of each back end.
    struct EncoderTool
    {
        QString strPath;
        QString strImageName;
    };
    std::map<EncodeProfile::Backend, EncoderTool> m_tools;
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

    // Last: their runners' threads call into the members above, so they end
    // first.
    std::vector<std::unique_ptr<CEncodeSlot>> m_slots;
};
