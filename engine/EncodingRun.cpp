#include "EncodingRun.h"

#include "engine/CommandLine.h"
#include "engine/EncodeSetting.h"
#include "engine/ExternalTools.h"
#include "engine/FailureReason.h"
#include "jobs/MediaProbe.h"
#include "shell/AppFolder.h"
#include "shell/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimerEvent>

namespace {

const QString StatusEncoding = QStringLiteral("Encoding...");
const QString StatusFinished = QStringLiteral("Finished");
const QString StatusFailed = QStringLiteral("Failed");

// Size of the input as the run counts it: 0 when it cannot be opened.
std::uint64_t InputFileSize(const QString& path)
{
    // Only regular files are opened: opening a FIFO would block the UI thread.
    if (!QFileInfo(path).isFile())
        return 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<std::uint64_t>(file.size());
}

// What the encoder left at the output path.
CFailureReason::Output OutputState(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return CFailureReason::Output::Missing;
    return info.size() > 0 ? CFailureReason::Output::Written : CFailureReason::Output::Empty;
}

QDateTime LocalTime(std::int64_t secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
}

// The platform's text-to-integer conversion: leading white space, an optional
// sign, digits up to the first non-digit, 0 when there are none. Saturates
// instead of overflowing.
int TextToInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value =
            std::min<long long>(value * 10 + (text[i] - '0'), static_cast<long long>(INT_MAX) + 1);
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// Output paths compared as the file system sees them.
QString PathKey(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

CEncodingRun::CEncodingRun(RunForm& form, QObject* parent)
    : QObject(parent)
    , m_form(form)
    , m_strEncoderPath(ExternalTools::EncoderPath())
{
    m_redir.m_pOwner = this;
}

CEncodingRun::~CEncodingRun()
{
    // The runner's threads call back into this object: end them first.
    m_redir.Close();
    m_redir.m_pOwner = nullptr;
}

std::int64_t CEncodingRun::Now() const
{
    return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
}

QString CEncodingRun::NowText() const
{
    return LocalTime(Now()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void CEncodingRun::ClearTail()
{
    std::lock_guard lock(m_tailMutex);
    m_tail.Clear();
}

void CEncodingRun::StartSampling()
{
    StartRun(true);
}

void CEncodingRun::StartEncoding()
{
    StartRun(false);
}

void CEncodingRun::StartRun(bool sampling)
{
    if (m_bRunning)
        return;
    const int count = m_form.JobCount();
    if (count <= 0) {
        m_form.MessageBox(QStringLiteral("Import movie file to the list !!"),
                          RunForm::MessageIcon::Information);
        return;
    }

    // An existing output file, or an output path that an earlier job of this
    // batch writes too (same name, other extension or folder), would be
    // overwritten: the user decides for each.
    QSet<QString> outputs;
    for (int i = 0; i < count; ++i) {
        const std::optional<StreamFile> job = m_form.JobAt(i);
        if (!job)
            continue;
        const QString output = OutputPathFor(*job);
        const QString key = PathKey(output);
        const bool collides = outputs.contains(key);
        outputs.insert(key);
        if (!collides && !QFileInfo(output).isFile())
            continue;
        if (!m_form.AskYesNo(
                QStringLiteral("%1 is duplicated file name.\nWould you want to continue?")
                    .arg(job->strFilePath),
                RunForm::MessageIcon::None))
            return;
    }

    const QString movieDir = GetMovieDir();
    if (!QDir().mkpath(movieDir)) {
        m_form.MessageBox(QStringLiteral("Unable to create the output folder %1").arg(movieDir),
                          RunForm::MessageIcon::Information);
        return;
    }

    // The runner serves one child at a time: a preview still playing ends here,
    // and its end is not taken for the first job's.
    if (m_bPlayerStarted) {
        m_nChildSerial = 0;
        m_redir.Close();
        m_bPlayerStarted = false;
    }

    m_tRunStart = Now();
    m_ullDoneBytes = 0;
    m_bRunning = true;
    m_bSampleMode = sampling;
    m_nCurrentJob = 0;
    m_bStoppedByUser = false;
    m_nJobsEnded = 0;
    m_nFailedJobs = 0;
    m_strLastFailure.clear();
    m_log.Begin(LocalTime(m_tRunStart), sampling);
    KillRunTimer();
    m_nTimerId = startTimer(1000);
    EncodeNextJob();
}

void CEncodingRun::EncodeNextJob()
{
    if (!m_bRunning)
        return;
    const std::optional<StreamFile> job = m_form.JobAt(m_nCurrentJob);
    if (!job) {
        // The list lost its remaining jobs during the run.
        FinishRun();
        return;
    }
    m_form.ShowRow(m_nCurrentJob);
    if (!m_bPlayerStarted)
        m_form.SetRowStatus(m_nCurrentJob, StatusEncoding, QString());

    const QString output = OutputPathFor(*job);
    m_form.SetValueLabel(RunForm::ValueLabel::Input, job->strFilePath);
    m_form.SetValueLabel(RunForm::ValueLabel::Output, output);
    m_nCurrentPercent = 0;
    m_form.SetProgress(RunForm::ProgressBar::Current, 0);
    m_strCurrentOutput = output;
    m_ullCurrentBytes = InputFileSize(job->strFilePath);

    const QString subtitle = SubtitlePathFor(*job);
    const QString arguments =
        theEncodeSetting.BuildCommandLine(subtitle, output, m_bSampleMode, *job);
    const QString commandLine = MakeProcessCommandLine(m_strEncoderPath, arguments);
    m_strCurrentInput = job->strFilePath;
    m_strCurrentCommandLine = commandLine;
    ClearTail();
    m_jobTimer.start();
    if (m_redir.Open(commandLine, theEncodeSetting.m_bNormalPriority)) {
        m_nChildSerial = m_redir.StartSerial();
        m_bJobActive = true;
        return;
    }
    // Without an encoder no job can be done: end the run now rather than wait
    // for a completion that never comes.
    const CFailureReason failure =
        CFailureReason::NotStarted(m_strEncoderPath, m_redir.StartError());
    EndJob(job, failure, failure.EncoderLines());
    AbortRun(QStringLiteral("Unable to start %1").arg(m_strEncoderPath));
}

void CEncodingRun::EndJob(const std::optional<StreamFile>& job,
                          const std::optional<CFailureReason>& failure, const QStringList& lines)
{
    ++m_nJobsEnded;
    if (failure) {
        ++m_nFailedJobs;
        m_strLastFailure = QStringLiteral("%1 failed: %2")
                               .arg(PathFileName(m_strCurrentInput), failure->Summary());
    }
    if (job)
        m_form.SetRowStatus(m_nCurrentJob, failure ? StatusFailed : StatusFinished,
                            failure ? failure->Details() : QString());
    if (failure)
        LogJob(QStringLiteral("failed: ") + failure->Headline(), lines);
    else
        LogJob(QStringLiteral("finished"), {});
}

void CEncodingRun::LogJob(const QString& end, const QStringList& lines)
{
    RunLogJob entry;
    entry.nIndex = m_nCurrentJob;
    entry.nCount = m_form.JobCount();
    entry.strInput = m_strCurrentInput;
    entry.strOutput = m_strCurrentOutput;
    entry.strCommandLine = m_strCurrentCommandLine;
    entry.strEnd = end;
    const qint64 ms = m_jobTimer.isValid() ? m_jobTimer.elapsed() : 0;
    entry.strTime = FormatDuration(ms / 1000) + QStringLiteral(".%1").arg(ms % 1000 / 100);
    entry.arrLines = lines;
    m_log.WriteJob(entry);
}

void CEncodingRun::ParseEncoderOutput(std::string_view text)
{
    if (const std::optional<int> percent = ParseProgressPercent(text))
        m_nCurrentPercent.store(*percent, std::memory_order_relaxed);
    std::lock_guard lock(m_tailMutex);
    m_tail.Append(COutputTail::Stream::Out, text);
}

void CEncodingRun::KeepEncoderErrorOutput(std::string_view text)
{
    std::lock_guard lock(m_tailMutex);
    m_tail.Append(COutputTail::Stream::Err, text);
}

std::optional<int> CEncodingRun::ParseProgressPercent(std::string_view text)
{
    if (text.substr(0, 4) != "Pos:")
        return std::nullopt;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::size_t percent = text.find('%', open);
    if (percent == std::string_view::npos)
        return TextToInt({});
    return TextToInt(text.substr(open + 1, percent - open - 1));
}

void CEncodingRun::OnChildTerminated(const ChildExit& exit)
{
    // On the waiter thread, after both readers have finished with this child:
    // its lines go with its end. The queue is guarded by a std::mutex (which the
    // thread sanitizer sees); the queued call only wakes the UI thread. It is
    // made by name: the member-pointer form allocates its call object in this
    // code, and Qt frees it behind a lock the thread sanitizer cannot see.
    Completion completion{exit, {}};
    {
        std::lock_guard lock(m_tailMutex);
        completion.lines = m_tail.TakeLines();
    }
    {
        std::lock_guard lock(m_completionMutex);
        m_completions.push_back(std::move(completion));
    }
    QMetaObject::invokeMethod(this, "ProcessCompletions", Qt::QueuedConnection);
}

void CEncodingRun::ProcessCompletions()
{
    for (;;) {
        Completion completion;
        {
            std::lock_guard lock(m_completionMutex);
            if (m_completions.empty())
                return;
            completion = std::move(m_completions.front());
            m_completions.pop_front();
        }
        OnJobFinished(completion.exit, completion.lines);
    }
}

void CEncodingRun::OnJobFinished(const ChildExit& exit, const QStringList& lines)
{
    if (exit.serial == 0 || exit.serial != m_nChildSerial)
        return;
    m_nChildSerial = 0;
    m_bJobActive = false;

    const std::optional<StreamFile> job = m_form.JobAt(m_nCurrentJob);
    if (job)
        m_ullDoneBytes += job->CountedSize();
    // Its bytes are counted as done now.
    m_ullCurrentBytes = 0;
    bool lastSucceeded = false;
    if (m_bRunning && !m_bPlayerStarted) {
        // The encoder can exit 0 without having written a movie (an input it
        // could not demultiplex, for one): that job failed too.
        const std::optional<CFailureReason> failure =
            CFailureReason::ForEnd(exit, OutputState(m_strCurrentOutput), lines);
        lastSucceeded = !failure;
        EndJob(job, failure, lines);
    }
    ++m_nCurrentJob;

    if (m_nCurrentJob < m_form.JobCount() || !(m_bRunning || m_bSampleMode)) {
        m_bPlayerStarted = false;
        EncodeNextJob();
        return;
    }
    // The bars show the state at the end, not the last tick's.
    if (lastSucceeded)
        m_nCurrentPercent = 100;
    UpdateTimeLabels();
    FinishRun();
}

void CEncodingRun::FinishRun()
{
    m_bRunning = false;
    m_bSampleMode = false;
    m_nCurrentJob = 0;
    if (m_form.ShutdownAfterRun())
        m_form.ShutdownComputer();
    QString message = QStringLiteral("Encoding Finished !!");
    if (m_nFailedJobs > 0)
        message += QStringLiteral("\n%1 of %2 files failed.").arg(m_nFailedJobs).arg(m_nJobsEnded);
    if (m_nFailedJobs == 1)
        message += QLatin1Char('\n') + m_strLastFailure;
    m_log.End(QStringLiteral("Run ended %1: %2 of %3 files failed.")
                  .arg(NowText())
                  .arg(m_nFailedJobs)
                  .arg(m_nJobsEnded));
    m_form.MessageBox(message, RunForm::MessageIcon::Information);
    KillRunTimer();
    if (!m_bStoppedByUser)
        m_form.OpenFolder(GetMovieDir());
    emit RunEnded();
}

void CEncodingRun::AbortRun(const QString& message)
{
    m_bRunning = false;
    m_bSampleMode = false;
    m_nCurrentJob = 0;
    m_bJobActive = false;
    KillRunTimer();
    m_log.End(QStringLiteral("Run ended %1: %2").arg(NowText(), message));
    m_form.MessageBox(message, RunForm::MessageIcon::Information);
    emit RunEnded();
}

void CEncodingRun::StopEncoding()
{
    // Only a file that an encoder of this run was still writing is incomplete.
    const bool jobWasActive = m_bRunning && m_bJobActive;
    if (m_bRunning) {
        if (jobWasActive)
            LogJob(QStringLiteral("stopped by the user"), {});
        m_log.End(QStringLiteral("Run stopped by the user %1.").arg(NowText()));
    }
    m_bRunning = false;
    m_bSampleMode = false;
    m_bStoppedByUser = true;
    // Ends the encoder (it finalises the file on SIGTERM) or the preview; its end
    // arrives as a completion that, with the run flags cleared, only advances.
    m_redir.Close();
    KillRunTimer();
    if (jobWasActive && !m_strCurrentOutput.isEmpty() && QFileInfo(m_strCurrentOutput).isFile()) {
        if (m_form.AskYesNo(
                QStringLiteral("Below file is incomplete encoding. Delete this file?\n%1")
                    .arg(m_strCurrentOutput),
                RunForm::MessageIcon::Question))
            QFile::remove(m_strCurrentOutput);
    }
    if (jobWasActive)
        emit RunEnded();
}

bool CEncodingRun::StartPreview(const QString& commandLine)
{
    if (m_bRunning)
        return false;
    m_bPlayerStarted = true;
    ClearTail();
    if (m_redir.Open(commandLine, true)) {
        m_nChildSerial = m_redir.StartSerial();
        return true;
    }
    m_bPlayerStarted = false;
    return false;
}

void CEncodingRun::UpdateTimeLabels()
{
    const std::uint64_t totalBytes = m_form.TotalBytes();
    if (!m_bRunning || totalBytes == 0)
        return;
    const std::int64_t elapsed = std::max<std::int64_t>(0, Now() - m_tRunStart);
    const int percent = std::clamp(m_nCurrentPercent.load(std::memory_order_relaxed), 0, 100);
    const std::int64_t currentBytes = static_cast<std::int64_t>(m_ullCurrentBytes) * percent / 100;
    const std::int64_t totalPercent = (currentBytes + static_cast<std::int64_t>(m_ullDoneBytes)) *
                                      100 / static_cast<std::int64_t>(totalBytes);
    const std::int64_t remaining =
        totalPercent == 0 ? 0 : elapsed * 100 / static_cast<std::int32_t>(totalPercent) - elapsed;
    m_form.SetValueLabel(RunForm::ValueLabel::Elapsed, FormatDuration(elapsed));
    m_form.SetValueLabel(RunForm::ValueLabel::Remaining, FormatDuration(remaining));
    m_form.SetProgress(RunForm::ProgressBar::Current, percent);
    m_form.SetProgress(RunForm::ProgressBar::Total,
                       static_cast<int>(std::clamp<std::int64_t>(totalPercent, 0, 100)));
}

QString CEncodingRun::FormatDuration(std::int64_t seconds)
{
    const auto s = static_cast<std::int32_t>(seconds);
    return QString::asprintf("%02d:%02d:%02d", s / 3600, (s % 3600) / 60, s % 60);
}

QString CEncodingRun::OutputPathFor(const StreamFile& job)
{
    QString path = GetMovieDir() + QLatin1Char('/') + GetPrefix() + job.strFileName;
    // The extension is the movie name's: a "." in the folder or the prefix of a
    // name without extension is not one.
    if (job.strFileName.contains(QLatin1Char('.')))
        path.truncate(path.lastIndexOf(QLatin1Char('.')));
    return path + QStringLiteral(".avi");
}

QString CEncodingRun::SubtitlePathFor(const StreamFile& job)
{
    return job.bHasSubtitle ? FindSubtitleFile(job.strFilePath) : QString();
}

void CEncodingRun::KillRunTimer()
{
    if (m_nTimerId != 0)
        killTimer(m_nTimerId);
    m_nTimerId = 0;
}

void CEncodingRun::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_nTimerId)
        UpdateTimeLabels();
    else
        QObject::timerEvent(event);
}
