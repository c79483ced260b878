#include "BatchFront.h"

#include "engine/OutputClaim.h"
#include "engine/OutputNamer.h"
#include "shell/AppFolder.h"

#include <iostream>
#include <string>

#include <QFileInfo>
#include <QJsonDocument>

namespace {

// How often a movie's progress is reported at most, in milliseconds.
constexpr qint64 ProgressIntervalMs = 1000;

void Write(FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Asks on the terminal: the question on standard error, the answer a line of
// standard input.
bool AskOnTerminal(const QString& question)
{
    Write(stderr, (question + QStringLiteral(" [y/N] ")).toLocal8Bit());
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    const QString text = QString::fromLocal8Bit(answer).trimmed().toLower();
    return text == QLatin1String("y") || text == QLatin1String("yes");
}

QString FirstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0);
}

} // namespace

int BatchSummary::ExitCode() const
{
    if (nSignal != 0)
        return 128 + nSignal;
    return nFinished + nSkipped == nMovies ? 0 : 1;
}

CBatchFront::CBatchFront(BatchOptions::Overwrite overwrite, Report report, QObject* parent)
    : QObject(parent)
    , m_overwrite(overwrite)
    , m_report(report)
    , m_ask(AskOnTerminal)
{
    connect(&m_run, &CEncodingRun::RunStarted, this, &CBatchFront::OnRunStarted);
    connect(&m_run, &CEncodingRun::JobStarted, this, &CBatchFront::OnJobStarted);
    connect(&m_run, &CEncodingRun::JobProgress, this, &CBatchFront::OnJobProgress);
    connect(&m_run, &CEncodingRun::JobEnded, this, &CBatchFront::OnJobEnded);
    connect(&m_run, &CEncodingRun::RunProgress, this, &CBatchFront::OnRunProgress);
    connect(&m_run, &CEncodingRun::RunEnded, this, &CBatchFront::OnRunEnded);
}

CBatchFront::~CBatchFront() = default;

void CBatchFront::Prepare(RunPlan plan, std::vector<StreamFile> jobs)
{
    m_plan = std::move(plan);
    m_jobs = std::move(jobs);
    const std::size_t count = m_jobs.size();
    m_skipReasons.assign(count, QString());
    m_results.assign(count, std::nullopt);
    m_percent.assign(count, -1);
    m_reportedPercent.assign(count, -1);
    m_started.assign(count, QElapsedTimer());
    m_reported.assign(count, QElapsedTimer());
    m_summary = BatchSummary();
    m_summary.nMovies = int(count);
    m_bStarted = false;

    // A watch folder's later batches take the answer of the first's question.
    m_plan.overwrite = m_overwrite;
    m_plan.SetJobs(m_jobs);
    if (m_overwrite == BatchOptions::Overwrite::Ask) {
        // One answer for all of the finished files, as the window asks. With
        // none to ask about, nothing is replaced: a name taken meanwhile gets
        // the next free one.
        const QStringList finished = m_plan.ExistingOutputs();
        WipeProgressLine();
        m_overwrite = finished.isEmpty() ? BatchOptions::Overwrite::Rename
                      : m_ask(OutputNamer::ExistingOutputsQuestion(finished))
                          ? BatchOptions::Overwrite::Replace
                          : BatchOptions::Overwrite::Skip;
    }
    m_plan.overwrite = m_overwrite;
    if (m_overwrite != BatchOptions::Overwrite::Skip)
        return;
    // Those in use now are reported at once; a name taken later is found when
    // its job starts (the run skips it then).
    for (std::size_t i = 0; i < count; ++i) {
        RunPlan::Job& job = m_plan.jobs[i];
        const COutputClaim::Found found = COutputClaim::Inspect(job.strOutput);
        job.bSkipped = found != COutputClaim::Found::Nothing;
        if (job.bSkipped)
            m_skipReasons[i] = COutputClaim::InUseReason(found);
    }
}

bool CBatchFront::Start()
{
    m_batchClock.start();
    if (m_jobs.empty()) {
        ReportSummary();
        emit Ended(m_summary);
        return true;
    }
    // Before anything starts: a folder that cannot be written would fail every
    // movie of the batch.
    if (const std::optional<QString> problem = m_plan.OutputFolderProblem()) {
        Complain(*problem);
        return false;
    }
    return m_run.Start(m_plan);
}

void CBatchFront::StopForQuit(int signal)
{
    m_summary.nSignal = signal;
    if (m_run.IsRunning())
        m_run.StopForQuit();
}

QString CBatchFront::Output(int index) const
{
    const QStringList& outputs = m_run.Outputs();
    return index < outputs.size() ? outputs[index] : QString();
}

void CBatchFront::OnRunStarted()
{
    m_bStarted = true;
    for (int i = 0; i < JobCount(); ++i) {
        if (m_plan.jobs[i].bSkipped)
            ReportSkipped(i, m_skipReasons[i]);
    }
}

void CBatchFront::ReportSkipped(int index, const QString& reason)
{
    const bool writing = reason == COutputClaim::InUseReason(COutputClaim::Found::Claim);
    ReportMovie(QStringLiteral("skipped"), index, {{QStringLiteral("reason"), reason}},
                QStringLiteral(": %1 %2").arg(
                    Output(index), writing ? QStringLiteral("is being written by another process")
                                           : QStringLiteral("exists already")));
    EndMovie(index, BatchResult::Skipped);
}

void CBatchFront::OnJobStarted(int index)
{
    m_percent[index] = -1;
    m_started[index].start();
    ReportMovie(QStringLiteral("started"), index, {}, QStringLiteral(" -> ") + Output(index));
}

void CBatchFront::OnJobEnded(int index, const JobEnd& end)
{
    m_percent[index] = -1;
    switch (end.state) {
    case JobState::Finished: {
        const double seconds = double(m_started[index].elapsed()) / 1000.0;
        ReportMovie(QStringLiteral("finished"), index, {{QStringLiteral("seconds"), seconds}},
                    QStringLiteral(" in ") + FormatDuration(qint64(seconds)));
        EndMovie(index, BatchResult::Finished);
        break;
    }
    case JobState::Failed: {
        const QString reason = end.Reason();
        ReportMovie(
            QStringLiteral("failed"), index,
            {{QStringLiteral("reason"), FirstLine(reason)}, {QStringLiteral("details"), reason}},
            QStringLiteral(": ") + FirstLine(reason));
        EndMovie(index, BatchResult::Failed);
        break;
    }
    case JobState::Skipped:
        ReportSkipped(index, end.strSkipReason);
        break;
    case JobState::Stopped:
        ReportMovie(QStringLiteral("stopped"), index, {}, QString());
        EndMovie(index, BatchResult::Stopped);
        break;
    default:
        break;
    }
}

void CBatchFront::EndMovie(int index, BatchResult result)
{
    m_results[index] = result;
    switch (result) {
    case BatchResult::Finished:
        ++m_summary.nFinished;
        break;
    case BatchResult::Failed:
        ++m_summary.nFailed;
        break;
    case BatchResult::Skipped:
        ++m_summary.nSkipped;
        break;
    case BatchResult::Stopped:
        ++m_summary.nStopped;
        break;
    }
    emit MovieEnded(index, result);
}

void CBatchFront::OnJobProgress(int index, int percent)
{
    if (!m_results[index])
        m_percent[index] = percent;
}

void CBatchFront::OnRunProgress(const CProgressTally::Reading& reading)
{
    m_strElapsed = FormatDuration(reading.elapsed);
    m_strRemaining = FormatDuration(reading.remaining);
    // The total comes last in each of the run's ticks: the movies' percentages
    // and the times are those of the same tick. A Stop's is not reported.
    if (!m_run.IsRunning())
        return;
    m_nTotalPercent = reading.totalPercent;
    if (m_report == Report::TextWithProgressLine) {
        PrintProgressLine();
        return;
    }
    if (m_report != Report::Json)
        return;
    for (int i = 0; i < JobCount(); ++i) {
        if (m_percent[i] < 0 || m_percent[i] == m_reportedPercent[i] ||
            (m_reported[i].isValid() && m_reported[i].elapsed() < ProgressIntervalMs))
            continue;
        m_reportedPercent[i] = m_percent[i];
        m_reported[i].start();
        ReportMovie(QStringLiteral("progress"), i,
                    {{QStringLiteral("percent"), m_percent[i]},
                     {QStringLiteral("totalPercent"), reading.totalPercent},
                     {QStringLiteral("elapsed"), m_strElapsed},
                     {QStringLiteral("remaining"), m_strRemaining}},
                    QString());
    }
}

void CBatchFront::Complain(const QString& text)
{
    WipeProgressLine();
    Write(stderr, BatchOptions::Complaint(text).toLocal8Bit());
}

void CBatchFront::OnRunEnded(const RunEnd& end)
{
    if (end.way == RunEnd::Way::EncoderNotStarted)
        Complain(end.strWhy);
    WipeProgressLine();
    ReportSummary();
    emit Ended(m_summary);
}

void CBatchFront::ReportMovie(const QString& kind, int index, const QJsonObject& fields,
                              const QString& tail)
{
    const QString& input = m_jobs[index].strFilePath;
    if (m_report == Report::Json) {
        QJsonObject event{{QStringLiteral("event"), kind},
                          {QStringLiteral("index"), index},
                          {QStringLiteral("count"), JobCount()},
                          {QStringLiteral("input"), input},
                          {QStringLiteral("output"), Output(index)}};
        for (auto it = fields.begin(); it != fields.end(); ++it)
            event.insert(it.key(), it.value());
        PrintLine(QJsonDocument(event).toJson(QJsonDocument::Compact));
        return;
    }
    if (kind == QLatin1String("progress"))
        return;
    PrintLine(QStringLiteral("%1 [%2/%3] %4%5")
                  .arg(kind, -8)
                  .arg(index + 1)
                  .arg(JobCount())
                  .arg(input, tail)
                  .toLocal8Bit());
}

void CBatchFront::ReportSummary()
{
    const BatchSummary& s = m_summary;
    if (m_report == Report::Json) {
        PrintLine(QJsonDocument(QJsonObject{{QStringLiteral("event"), QStringLiteral("summary")},
                                            {QStringLiteral("movies"), s.nMovies},
                                            {QStringLiteral("finished"), s.nFinished},
                                            {QStringLiteral("failed"), s.nFailed},
                                            {QStringLiteral("skipped"), s.nSkipped},
                                            {QStringLiteral("stopped"), s.nStopped},
                                            {QStringLiteral("notStarted"), s.NotStarted()},
                                            {QStringLiteral("exitCode"), s.ExitCode()}})
                      .toJson(QJsonDocument::Compact));
        return;
    }
    QStringList parts;
    const std::pair<int, const char*> counts[] = {{s.nFinished, "finished"},
                                                  {s.nFailed, "failed"},
                                                  {s.nSkipped, "skipped"},
                                                  {s.nStopped, "stopped"},
                                                  {s.NotStarted(), "not started"}};
    for (const auto& [count, what] : counts) {
        if (count > 0)
            parts << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(what));
    }
    const QString movies =
        s.nMovies == 1 ? QStringLiteral("1 movie") : QStringLiteral("%1 movies").arg(s.nMovies);
    PrintLine(QStringLiteral("%1%2 in %3")
                  .arg(movies,
                       parts.isEmpty() ? QString() : QStringLiteral(": ") + parts.join(", "),
                       FormatDuration(m_batchClock.elapsed() / 1000))
                  .toLocal8Bit());
}

void CBatchFront::PrintLine(const QByteArray& line)
{
    WipeProgressLine();
    Write(stdout, line + '\n');
}

void CBatchFront::PrintProgressLine()
{
    int ended = 0;
    for (const auto& result : m_results)
        ended += result ? 1 : 0;
    const QString line = QStringLiteral("%1% done, %2 of %3 movies ended, %4 elapsed, %5 remaining")
                             .arg(m_nTotalPercent, 3)
                             .arg(ended)
                             .arg(JobCount())
                             .arg(m_strElapsed, m_strRemaining);
    // Spaces cover what is left of a longer line before.
    const QString padding(std::max<qsizetype>(0, m_nProgressLineLength - line.size()), ' ');
    Write(stdout, ('\r' + line + padding).toLocal8Bit());
    m_nProgressLineLength = line.size();
}

void CBatchFront::WipeProgressLine()
{
    if (m_nProgressLineLength == 0)
        return;
    Write(stdout, ('\r' + QString(m_nProgressLineLength, ' ') + '\r').toLocal8Bit());
    m_nProgressLineLength = 0;
}
