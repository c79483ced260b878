#pragma once

#include "engine/EncodeSetting.h"
#include "engine/FailureReason.h"
#include "engine/OutputTail.h"
#include "engine/Redirect.h"
#include "engine/RunForm.h"
#include "engine/RunLog.h"
#include "jobs/StreamFile.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

// A run over the job list: every job in list order, one encoder process at a
// time, into the output folder, with per-file and total progress, elapsed and
// remaining time, and at the end the finish message, the optional shut-down and
// the output folder. Lives on the UI thread; the runner's worker threads only
// store the parsed percentage and hand each child's end over to the UI thread,
// where OnJobFinished, EncodeNextJob, the messages and the shut-down run.
// The form reaches the user through RunForm. The same runner also serves the
// preview player (StartPreview).
// For each job the run keeps the encoder's last lines (COutputTail), so that a
// failed row can say why (its status cell's reason, CFailureReason), and each
// run writes a plain-text log (CRunLog).
class CEncodingRun : public QObject, private CRedirOwner
{
    Q_OBJECT

public:
    explicit CEncodingRun(RunForm& form, QObject* parent = nullptr);
    ~CEncodingRun() override;

    // The Sampling button: a run in which each movie is encoded for 60 seconds.
    void StartSampling();
    // The Make button.
    void StartEncoding();
    // The Stop button: ends a run or a preview. The stopped job's row says
    // "Stopped", the bars and times show what was done, and the user is asked
    // whether to delete the incomplete output.
    void StopEncoding();
    // The same without a question, when Clipvane is to quit (a signal, the end
    // of the desktop session): the incomplete output is deleted. Also deletes an
    // incomplete output that a Stop question still asks about.
    void StopForQuit();
    // The one-second timer's work: elapsed and remaining time, both bars.
    void UpdateTimeLabels();

    // Starts the preview player with a complete command line at normal priority.
    // Refused while a run is active (the runner serves one child at a time); false
    // also when the player could not be started.
    bool StartPreview(const QString& commandLine);

    // Called by the runner's stdout thread with each chunk: takes the current
    // file's percentage from chunks that begin with "Pos:", and keeps the lines.
    void ParseEncoderOutput(std::string_view text) override;
    // Called by the runner's stderr thread with each chunk: keeps the lines.
    void KeepEncoderErrorOutput(std::string_view text) override;

    // The percentage of a "Pos:" chunk: the decimal integer between its first "("
    // and the next "%" (0 when there is no "%"); nothing for any other chunk.
    static std::optional<int> ParseProgressPercent(std::string_view text);

    // Output folder, "/", prefix, the movie's name with ".avi" for its extension;
    // for copy 2 and on " (<copy>)" before ".avi". A file name longer than the
    // file system allows (255 bytes) loses the end of the movie's name, cut
    // between two characters; the prefix, the copy number and ".avi" stay.
    static QString OutputPathFor(const StreamFile& job, int copy = 1);
    // The output paths of a batch, in job order: a job whose output an earlier
    // job of the batch writes already (the same name with another extension or
    // folder, or a name that differs only in case) gets the first free copy
    // number, so that no two jobs write the same file; so does a job whose output
    // would be one of the batch's movies.
    static QStringList OutputPathsFor(const std::vector<StreamFile>& jobs);
    // The subtitle beside the movie as the job list finds it (FindSubtitleFile);
    // empty when the job has no subtitle or it has gone since.
    static QString SubtitlePathFor(const StreamFile& job);

    // The encoder to run (default: tools/mencoder in the application folder) and
    // the image name Stop sweeps for (default "mencoder").
    void SetEncoderPath(const QString& path) { m_strEncoderPath = path; }
    void SetEncoderImageName(const QString& name) { m_redir.SetEncoderImageName(name); }
    // Seconds since the epoch; replaceable so that the time labels can be tested.
    void SetClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

    // What the run tells of its state: the form asks whether a run is active;
    // the rest is for tests and benchmarks.
    bool IsRunning() const { return m_bRunning; }
    bool IsSampling() const { return m_bSampleMode; }
    // The preview player was started and its end has not come yet.
    bool IsPreviewing() const { return m_bPlayerStarted; }
    bool WasStoppedByUser() const { return m_bStoppedByUser; }
    bool HasRunTimer() const { return m_nTimerId != 0; }
    int CurrentJob() const { return m_nCurrentJob; }
    int CurrentPercent() const { return m_nCurrentPercent.load(std::memory_order_relaxed); }
    std::uint64_t DoneBytes() const { return m_ullDoneBytes; }
    const QString& CurrentOutput() const { return m_strCurrentOutput; }

signals:
    // A run started (Make or Sampling).
    void RunStarted();
    // The whole run's progress in percent, at each update of the bars.
    void TotalProgressChanged(int percent);
    // The run is over, before its finish message or Stop's question: finished
    // when it went through the list (the finish message follows); failedJobs of
    // endedJobs failed.
    void RunOver(bool finished, int failedJobs, int endedJobs);
    // A run ended: finished, stopped, or its encoder could not be started.
    void RunEnded();

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void ProcessCompletions();

private:
    // What identifies a file's content on disk: whether the encoder wrote the
    // file at the output path or it is still the one that lay there before.
    struct FileStamp
    {
        bool bExists = false;
        std::uint64_t nDevice = 0;
        std::uint64_t nInode = 0;
        std::int64_t nModifiedNs = 0;
        std::int64_t nSize = 0;

        static FileStamp Of(const QString& path);
        bool operator==(const FileStamp&) const = default;
    };

    void StartRun(bool sampling);
    // Outputs that exist already would be overwritten: one question for all of
    // them. True to go on.
    bool MayOverwrite(const QStringList& outputs);
    // Starts the encoder for m_nCurrentJob (does nothing unless a run is active).
    void EncodeNextJob();
    // Handles the end of the runner's child (the encoder or the preview player);
    // lines: the last lines it printed.
    void OnJobFinished(const ChildExit& exit, const QStringList& lines);
    // Ends the active run's encoder; quitting: without the delete question.
    void Stop(bool quitting);
    // The bars and times after a stop: the current file's bar empty, the total
    // what the finished jobs made of the run.
    void ShowStoppedProgress();
    // Deletes the current output if the encoder wrote it; true when deleted.
    bool RemoveEncodersOutput();
    // Why the current job's output, written with exit code 0, is not a whole
    // movie; nothing when it is one.
    std::optional<CFailureReason> CheckOutput(const StreamFile& job,
                                              const QStringList& lines) const;
    void FinishRun();
    void AbortRun(const QString& message);
    void KillRunTimer();
    std::int64_t Now() const;
    // Now as the log shows times.
    QString NowText() const;
    // Forgets the last child's lines before the next child starts.
    void ClearTail();
    void OnChildTerminated(const ChildExit& exit) override;
    // The current job ended, failed when failure is set: counts it, writes its
    // row's status and reason (job: the list's record, if still there), deletes
    // a failed job's output and logs it with lines.
    void EndJob(const std::optional<StreamFile>& job, const std::optional<CFailureReason>& failure,
                const QStringList& lines);
    // Writes the current job's log entry with its end.
    void LogJob(const QString& end, const QStringList& lines, bool outputRemoved = false);
    // The current job's log entry, as it stands now.
    RunLogJob JobLogEntry(const QString& end, const QStringList& lines) const;

    // Run state, written on the UI thread only (m_nCurrentPercent excepted).
    bool m_bRunning = false;
    bool m_bSampleMode = false;
    bool m_bStoppedByUser = false;
    bool m_bPlayerStarted = false;
    int m_nCurrentJob = 0;
    std::uint64_t m_ullDoneBytes = 0;
    std::uint64_t m_ullCurrentBytes = 0;
    std::int64_t m_tRunStart = 0;
    std::atomic<int> m_nCurrentPercent{0};
    QString m_strCurrentOutput;
    int m_nTimerId = 0;
    // Jobs of the current (or last) run that ended and how many of them failed.
    int m_nJobsEnded = 0;
    int m_nFailedJobs = 0;
    // "<file> failed: <why>." for the last job that failed.
    QString m_strLastFailure;

    CRedir m_redir;
    RunForm& m_form;
    QString m_strEncoderPath;
    std::function<std::int64_t()> m_clock;
    // The runner start whose end the run is waiting for; ends of other starts
    // (a preview ended for a run, a child replaced) are dropped.
    std::uint64_t m_nChildSerial = 0;
    // An encoder of this run is working on m_nCurrentJob.
    bool m_bJobActive = false;
    // The subtitle of the job whose encoder runs; its UTF-8 copy lasts as long.
    EncoderSubtitle m_subtitle;

    // The output paths of the run's jobs (OutputPathsFor).
    QStringList m_arrOutputs;
    // The current output path as it was before its encoder started.
    FileStamp m_outputBefore;
    // An incomplete output the Stop question asks about, while it asks.
    QString m_strAskingAbout;
    // The current job's input and process command line, and its clock.
    QString m_strCurrentInput;
    QString m_strCurrentCommandLine;
    QElapsedTimer m_jobTimer;
    CRunLog m_log;

    // The current child's last lines: filled by both reader threads, taken by
    // the waiter thread at the child's end, emptied before each job.
    std::mutex m_tailMutex;
    COutputTail m_tail;

    // Child ends and their last lines, handed from the waiter thread to the UI
    // thread.
    struct Completion
    {
        ChildExit exit;
        QStringList lines;
    };
    std::mutex m_completionMutex;
    std::deque<Completion> m_completions;
};
