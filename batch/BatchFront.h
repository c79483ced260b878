#pragma once

#include "batch/BatchOptions.h"
#include "engine/EncodingRun.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>

// How a movie of a batch ended.
enum class BatchResult
{
    Finished,
    Failed,
    // Left out on purpose: its output exists already (--overwrite skip), or
    // another process is writing it (skip, replace).
    Skipped,
    Stopped
};

// What a batch came to.
struct BatchSummary
{
    int nMovies = 0;
    int nFinished = 0;
    int nFailed = 0;
    int nSkipped = 0;
    int nStopped = 0;
    // The signal that ended the batch; 0 for none.
    int nSignal = 0;

    // Movies that never ended: no encoder could be started for them.
    int NotStarted() const { return nMovies - nFinished - nFailed - nSkipped - nStopped; }
    // 128 + the signal after one; else 0 when every movie finished or was
    // skipped on purpose, 1 when any failed, was stopped or never started.
    int ExitCode() const;
};

// clipvane-batch's front end: it makes the batch's jobs into the plan, runs
// them through the same encoding run as the window, listens to the run's
// events and tells of each movie as it starts and ends, as text lines with a
// progress line rewritten in place on a terminal, or as one JSON object per
// line for other programs (Report). Complaints go to standard error. It never
// shuts the machine down, opens no folder and keeps no list.
class CBatchFront final : public QObject
{
    Q_OBJECT

public:
    enum class Report
    {
        Text,
        // Text, and a line of the total progress, elapsed and remaining time,
        // rewritten with "\r" every second: for a terminal.
        TextWithProgressLine,
        Json
    };

    CBatchFront(BatchOptions::Overwrite overwrite, Report report, QObject* parent = nullptr);
    ~CBatchFront() override;

    // Takes a batch into the plan (RunPlan::SetJobs: what ended runs of this
    // host left in the output folders is removed, and each output is named
    // once), and deals with the outputs that exist already as the overwrite
    // choice says: kept (the plan names the jobs' outputs around them), left
    // out, replaced, or the finished ones asked about in one question (replace
    // them all, or leave those movies out). Asks before the run starts, so
    // that the question can be answered at leisure. A name taken later is
    // dealt with when its job starts.
    void Prepare(RunPlan plan, std::vector<StreamFile> jobs);
    // Starts the prepared batch; false when no run started (standard error
    // says why: the output folder cannot be written). The run's end emits
    // Ended; a batch without movies ends at once.
    bool Start();
    // A quit signal came: a running batch stops as the window's quit does
    // (the unfinished outputs are removed) and ends with 128 + signal.
    void StopForQuit(int signal);
    bool IsRunning() const { return m_run.IsRunning(); }
    const BatchSummary& Summary() const { return m_summary; }
    // The output path of a job of the batch that started last.
    QString Output(int index) const;

    // Answers the question of --overwrite ask; by default, a line read from
    // standard input after the question on standard error ("y" or "yes").
    void SetAsker(std::function<bool(const QString& question)> ask) { m_ask = std::move(ask); }

signals:
    // A movie of the batch ended: finished, failed, skipped or stopped.
    void MovieEnded(int index, BatchResult result);
    // The batch ended; its summary has been reported.
    void Ended(const BatchSummary& summary);

private:
    int JobCount() const { return int(m_jobs.size()); }
    // The run's events.
    void OnRunStarted();
    void OnJobStarted(int index);
    void OnJobProgress(int index, int percent);
    void OnJobEnded(int index, const JobEnd& end);
    void OnRunProgress(const CProgressTally::Reading& reading);
    void OnRunEnded(const RunEnd& end);
    // A line on standard error, after the progress line is wiped.
    void Complain(const QString& text);
    // Reports an event of a movie: as a JSON object with the index, count,
    // input and output and fields, or as "<kind> [i/n] <input><tail>".
    void ReportMovie(const QString& kind, int index, const QJsonObject& fields,
                     const QString& tail);
    void EndMovie(int index, BatchResult result);
    void ReportSkipped(int index, const QString& reason);
    void ReportSummary();
    // A line on standard output: the progress line is wiped first.
    void PrintLine(const QByteArray& line);
    void PrintProgressLine();
    void WipeProgressLine();

    BatchOptions::Overwrite m_overwrite;
    const Report m_report;
    std::function<bool(const QString&)> m_ask;
    RunPlan m_plan;
    std::vector<StreamFile> m_jobs;
    // Why each movie that Prepare left out was (its output is in use).
    std::vector<QString> m_skipReasons;
    std::vector<std::optional<BatchResult>> m_results;
    // Each running movie's percentage, its percentage when last reported,
    // when it started and when its progress was last reported.
    std::vector<int> m_percent;
    std::vector<int> m_reportedPercent;
    std::vector<QElapsedTimer> m_started;
    std::vector<QElapsedTimer> m_reported;
    QString m_strElapsed;
    QString m_strRemaining;
    int m_nTotalPercent = 0;
    qsizetype m_nProgressLineLength = 0;
    bool m_bStarted = false;
    BatchSummary m_summary;
    QElapsedTimer m_batchClock;
    CEncodingRun m_run;
};
