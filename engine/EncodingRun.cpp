#include "EncodingRun.h"

#include "engine/CommandLine.h"
#include "engine/EncodeSetting.h"
#include "engine/ExternalTools.h"
#include "engine/FailureReason.h"
#include "engine/OutputCheck.h"
#include "jobs/JobStatus.h"
#include "jobs/MediaProbe.h"
#include "shell/AppFolder.h"
#include "shell/Numbers.h"
#include "shell/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimerEvent>

namespace {

const QString& StatusEncoding = JobStatus::Encoding;
const QString& StatusFinished = JobStatus::Finished;
const QString& StatusFailed = JobStatus::Failed;
const QString& StatusStopped = JobStatus::Stopped;

// The longest file name the file systems take, in bytes.
constexpr qsizetype MaxFileNameBytes = 255;
// How many existing outputs the overwrite question names.
constexpr int NamedExistingOutputs = 5;

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

// Output paths compared as the file system sees them; without regard to case,
// as the FAT and NTFS disks that movies are often written to compare them.
QString PathKey(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toCaseFolded();
}

// prefix + stem + suffix + ".avi", the stem cut at its end (between two
// characters, never inside one) so that the file name proper, the part after
// the last "/", fits the file system.
QString FittedFileName(const QString& prefix, const QString& stem, const QString& suffix)
{
    const QString tail = suffix + QStringLiteral(".avi");
    const QString prefixName = prefix.mid(prefix.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype budget =
        MaxFileNameBytes - QFile::encodeName(prefixName).size() - QFile::encodeName(tail).size();
    qsizetype used = 0;
    qsizetype keep = 0;
    while (keep < stem.size()) {
        const qsizetype width = stem.at(keep).isHighSurrogate() && keep + 1 < stem.size() ? 2 : 1;
        const qsizetype bytes = QFile::encodeName(stem.mid(keep, width)).size();
        if (used + bytes > budget)
            break;
        used += bytes;
        keep += width;
    }
    return prefix + stem.left(keep) + tail;
}

QString ExistingOutputsQuestion(const QStringList& existing)
{
    if (existing.size() == 1)
        return QStringLiteral("The output file %1 already exists.\nWould you want to overwrite it?")
            .arg(existing.front());
    QStringList lines{QStringLiteral("%1 output files already exist in %2:")
                          .arg(existing.size())
                          .arg(QFileInfo(existing.front()).absolutePath())};
    for (qsizetype i = 0; i < std::min<qsizetype>(existing.size(), NamedExistingOutputs); ++i)
        lines << QStringLiteral("    ") + QFileInfo(existing[i]).fileName();
    if (existing.size() > NamedExistingOutputs)
        lines << QStringLiteral("    and %1 more").arg(existing.size() - NamedExistingOutputs);
    lines << QStringLiteral("Would you want to overwrite them?");
    return lines.join(QLatin1Char('\n'));
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

    std::vector<StreamFile> jobs;
    for (int i = 0; i < count; ++i)
        jobs.push_back(m_form.JobAt(i).value_or(StreamFile()));
    const QStringList outputs = OutputPathsFor(jobs);
    // Only what the run will write can be overwritten.
    QStringList written;
    for (int i = 0; i < count; ++i) {
        if (!m_form.SkipsJob(i))
            written << outputs[i];
    }
    if (!MayOverwrite(written))
        return;

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
    m_arrOutputs = outputs;
    m_log.Begin(LocalTime(m_tRunStart), sampling);
    KillRunTimer();
    m_nTimerId = startTimer(1000);
    emit RunStarted();
    EncodeNextJob();
}

bool CEncodingRun::MayOverwrite(const QStringList& outputs)
{
    QStringList existing;
    for (const QString& output : outputs) {
        if (QFileInfo(output).isFile())
            existing << output;
    }
    return existing.isEmpty() ||
           m_form.AskYesNo(ExistingOutputsQuestion(existing), RunForm::MessageIcon::None);
}

void CEncodingRun::EncodeNextJob()
{
    if (!m_bRunning)
        return;
    while (m_nCurrentJob < m_form.JobCount() && m_form.SkipsJob(m_nCurrentJob)) {
        if (const std::optional<StreamFile> skipped = m_form.JobAt(m_nCurrentJob))
            m_ullDoneBytes += skipped->CountedSize();
        ++m_nCurrentJob;
    }
    const std::optional<StreamFile> job = m_form.JobAt(m_nCurrentJob);
    if (!job) {
        // The jobs left were skipped (or the list lost them during the run).
        UpdateTimeLabels();
        FinishRun();
        return;
    }
    m_form.ShowRow(m_nCurrentJob);
    if (!m_bPlayerStarted)
        m_form.SetRowStatus(m_nCurrentJob, StatusEncoding, QString());

    const QString output = m_nCurrentJob < int(m_arrOutputs.size()) ? m_arrOutputs[m_nCurrentJob]
                                                                    : OutputPathFor(*job);
    m_form.SetValueLabel(RunForm::ValueLabel::Input, job->strFilePath);
    m_form.SetValueLabel(RunForm::ValueLabel::Output, output);
    m_nCurrentPercent = 0;
    m_form.SetProgress(RunForm::ProgressBar::Current, 0);
    m_strCurrentOutput = output;
    m_ullCurrentBytes = InputFileSize(job->strFilePath);

    m_subtitle = theEncodeSetting.PrepareSubtitle(SubtitlePathFor(*job), job->strFilePath);
    const QString arguments =
        theEncodeSetting.BuildCommandLine(m_subtitle, output, m_bSampleMode, *job);
    const QString commandLine = MakeProcessCommandLine(m_strEncoderPath, arguments);
    m_strCurrentInput = job->strFilePath;
    m_strCurrentCommandLine = commandLine;
    ClearTail();
    m_outputBefore = FileStamp::Of(output);
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
        LogJob(QStringLiteral("failed: ") + failure->Headline(), lines, RemoveEncodersOutput());
    else
        LogJob(QStringLiteral("finished"), {});
}

CEncodingRun::FileStamp CEncodingRun::FileStamp::Of(const QString& path)
{
    FileStamp stamp;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return stamp;
    stamp.bExists = true;
    stamp.nDevice = st.st_dev;
    stamp.nInode = st.st_ino;
    stamp.nModifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.nSize = st.st_size;
    return stamp;
}

bool CEncodingRun::RemoveEncodersOutput()
{
    // A file the encoder did not touch is not its output: a movie that lay there
    // before stays when the encoder failed before it opened the output.
    const FileStamp now = FileStamp::Of(m_strCurrentOutput);
    return now.bExists && !(now == m_outputBefore) && QFile::remove(m_strCurrentOutput);
}

std::optional<CFailureReason> CEncodingRun::CheckOutput(const StreamFile& job,
                                                        const QStringList& lines) const
{
    const std::optional<QString> problem =
        COutputCheck::Problem(ProbeMovieContent(m_strCurrentOutput),
                              COutputCheck::ExpectedSeconds(job, m_bSampleMode), m_bSampleMode);
    if (!problem)
        return std::nullopt;
    const bool diskFull = CFailureReason::SaysDiskFull(lines) ||
                          COutputCheck::DiskFull(QFileInfo(m_strCurrentOutput).absolutePath());
    return CFailureReason::ForIncompleteOutput(*problem, diskFull, lines);
}

void CEncodingRun::LogJob(const QString& end, const QStringList& lines, bool outputRemoved)
{
    RunLogJob entry = JobLogEntry(end, lines);
    entry.bOutputRemoved = outputRemoved;
    m_log.WriteJob(entry);
}

RunLogJob CEncodingRun::JobLogEntry(const QString& end, const QStringList& lines) const
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
    return entry;
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
        return 0;
    return LeadingNumber<int>(text.substr(open + 1, percent - open - 1));
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
    m_subtitle = {};

    const std::optional<StreamFile> job = m_form.JobAt(m_nCurrentJob);
    if (job)
        m_ullDoneBytes += job->CountedSize();
    // Its bytes are counted as done now.
    m_ullCurrentBytes = 0;
    bool lastSucceeded = false;
    if (m_bRunning && !m_bPlayerStarted) {
        // The encoder can exit 0 without having written a movie (an input it
        // could not demultiplex, for one), or with only part of one (a full
        // disk, an input that ends early): that job failed too.
        std::optional<CFailureReason> failure =
            CFailureReason::ForEnd(exit, OutputState(m_strCurrentOutput), lines);
        if (!failure && job)
            failure = CheckOutput(*job, lines);
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
    emit RunOver(true, m_nFailedJobs, m_nJobsEnded);
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
    m_subtitle = {};
    KillRunTimer();
    emit RunOver(false, m_nFailedJobs, m_nJobsEnded);
    m_log.End(QStringLiteral("Run ended %1: %2").arg(NowText(), message));
    m_form.MessageBox(message, RunForm::MessageIcon::Information);
    emit RunEnded();
}

void CEncodingRun::StopEncoding()
{
    Stop(false);
}

void CEncodingRun::StopForQuit()
{
    if (!m_strAskingAbout.isEmpty() && FileStamp::Of(m_strAskingAbout).bExists)
        QFile::remove(m_strAskingAbout);
    Stop(true);
}

void CEncodingRun::Stop(bool quitting)
{
    // Only a file that an encoder of this run was still writing is incomplete.
    const bool jobWasActive = m_bRunning && m_bJobActive;
    const bool wasRunning = m_bRunning;
    m_bRunning = false;
    m_bSampleMode = false;
    m_bStoppedByUser = true;
    // Ends the encoder (it finalises the file on SIGTERM) or the preview; its end
    // arrives as a completion that, with the run flags cleared, only advances.
    m_redir.Close();
    m_subtitle = {};
    KillRunTimer();
    if (!wasRunning)
        return;
    emit RunOver(false, m_nFailedJobs, m_nJobsEnded);
    m_bJobActive = false;
    if (jobWasActive && m_form.JobAt(m_nCurrentJob))
        m_form.SetRowStatus(m_nCurrentJob, StatusStopped, QString());
    ShowStoppedProgress();

    // Taken now: while the question below waits for the user, the stopped
    // encoder's end arrives and moves the index on.
    RunLogJob entry = JobLogEntry(quitting ? QStringLiteral("stopped: Clipvane was asked to quit")
                                           : QStringLiteral("stopped by the user"),
                                  {});
    if (jobWasActive && quitting) {
        entry.bOutputRemoved = RemoveEncodersOutput();
    } else if (jobWasActive && QFileInfo(m_strCurrentOutput).isFile()) {
        m_strAskingAbout = m_strCurrentOutput;
        const bool yes = m_form.AskYesNo(
            QStringLiteral("Below file is incomplete encoding. Delete this file?\n%1")
                .arg(m_strCurrentOutput),
            RunForm::MessageIcon::Question);
        m_strAskingAbout.clear();
        // A quit while the question was open deleted it already.
        entry.bOutputRemoved =
            (yes && QFile::remove(m_strCurrentOutput)) || !QFileInfo::exists(m_strCurrentOutput);
    }
    if (jobWasActive)
        m_log.WriteJob(entry);
    m_log.End(quitting
                  ? QStringLiteral("Run stopped %1: Clipvane was asked to quit.").arg(NowText())
                  : QStringLiteral("Run stopped by the user %1.").arg(NowText()));
    emit RunEnded();
}

void CEncodingRun::ShowStoppedProgress()
{
    const std::uint64_t totalBytes = m_form.TotalBytes();
    const int totalPercent =
        totalBytes == 0 ? 0
                        : static_cast<int>(std::min<std::uint64_t>(
                              100, m_ullDoneBytes * 100 / std::max<std::uint64_t>(totalBytes, 1)));
    m_nCurrentPercent = 0;
    m_form.SetValueLabel(RunForm::ValueLabel::Elapsed,
                         FormatDuration(std::max<std::int64_t>(0, Now() - m_tRunStart)));
    m_form.SetValueLabel(RunForm::ValueLabel::Remaining, FormatDuration(0));
    m_form.SetProgress(RunForm::ProgressBar::Current, 0);
    m_form.SetProgress(RunForm::ProgressBar::Total, totalPercent);
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
    const int shownPercent = static_cast<int>(std::clamp<std::int64_t>(totalPercent, 0, 100));
    m_form.SetProgress(RunForm::ProgressBar::Total, shownPercent);
    emit TotalProgressChanged(shownPercent);
}

QString CEncodingRun::OutputPathFor(const StreamFile& job, int copy)
{
    // The extension is the movie name's: a "." in the folder or the prefix of a
    // name without extension is not one.
    const QString& name = job.strFileName;
    const QString stem =
        name.contains(QLatin1Char('.')) ? name.left(name.lastIndexOf(QLatin1Char('.'))) : name;
    const QString suffix = copy > 1 ? QStringLiteral(" (%1)").arg(copy) : QString();
    return GetMovieDir() + QLatin1Char('/') + FittedFileName(GetPrefix(), stem, suffix);
}

QStringList CEncodingRun::OutputPathsFor(const std::vector<StreamFile>& jobs)
{
    QStringList paths;
    // A movie of the batch that lies in the output folder under an output's name
    // would be overwritten by its own encode: inputs are taken too.
    QSet<QString> taken;
    for (const StreamFile& job : jobs) {
        if (!job.strFilePath.isEmpty())
            taken.insert(PathKey(job.strFilePath));
    }
    for (const StreamFile& job : jobs) {
        QString path;
        for (int copy = 1;; ++copy) {
            path = OutputPathFor(job, copy);
            if (!taken.contains(PathKey(path)))
                break;
        }
        taken.insert(PathKey(path));
        paths << path;
    }
    return paths;
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
