#include "EncodingRun.h"

#include "engine/CommandLine.h"
#include "engine/EncodeSetting.h"
#include "engine/ExternalTools.h"
#include "engine/FailureReason.h"
#include "engine/OutputCheck.h"
#include "engine/StartChecks.h"
#include "engine/StoredSettings.h"
#include "jobs/JobStatus.h"
#include "jobs/MediaProbe.h"
#include "jobs/MovieFolder.h"
#include "shell/AppFolder.h"
#include "shell/Numbers.h"
#include "shell/SettingsStore.h"

#include <algorithm>

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

QString IncompleteOutputsQuestion(const QStringList& incomplete)
{
    if (incomplete.size() == 1)
        return QStringLiteral("Below file is incomplete encoding. Delete this file?\n%1")
            .arg(incomplete.front());
    return QStringLiteral("Below files are incomplete encoding. Delete these files?\n") +
           incomplete.join(QLatin1Char('\n'));
}

} // namespace

CEncodingRun::CEncodingRun(RunForm& form, QObject* parent)
    : QObject(parent)
    , m_form(form)
    , m_strEncoderPath(ExternalTools::EncoderPath())
    , m_strImageName(QString::fromLatin1(ExternalTools::EncoderImageName))
{
    EnsureSlots(1);
}

CEncodingRun::~CEncodingRun()
{
    // The runners' threads call back into this object: end them first.
    for (const auto& slot : m_slots)
        slot->RequestStop();
    m_slots.clear();
}

void CEncodingRun::EnsureSlots(int count)
{
    while (int(m_slots.size()) < count) {
        // On a waiter thread. The queue is guarded by a std::mutex (which the
        // thread sanitizer sees); the queued call only wakes the UI thread. It
        // is made by name: the member-pointer form allocates its call object in
        // this code, and Qt frees it behind a lock the thread sanitizer cannot
        // see.
        auto onEnd = [this](int slot, const ChildExit& exit, const QStringList& lines) {
            {
                std::lock_guard lock(m_completionMutex);
                m_completions.push_back({slot, exit, lines});
            }
            QMetaObject::invokeMethod(this, "ProcessCompletions", Qt::QueuedConnection);
        };
        auto slot = std::make_unique<CEncodeSlot>(int(m_slots.size()), onEnd);
        slot->SetEncoderImageName(m_strImageName);
        m_slots.push_back(std::move(slot));
    }
}

void CEncodingRun::SetEncoderImageName(const QString& name)
{
    m_strImageName = name;
    for (const auto& slot : m_slots)
        slot->SetEncoderImageName(name);
}

std::int64_t CEncodingRun::Now() const
{
    return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
}

QString CEncodingRun::NowText() const
{
    return CRunLog::TimeText(LocalTime(Now()));
}

QString CEncodingRun::FailedFilesText(int failed, int ended)
{
    return QStringLiteral("%1 of %2 files failed.").arg(failed).arg(ended);
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

    // Before anything starts or is asked: a folder that cannot be written
    // would fail every job of the batch.
    const QString movieDir = GetMovieDir();
    if (const std::optional<QString> error = StartChecks::FolderWriteError(movieDir, true)) {
        m_form.MessageBox(StartChecks::FolderNotWritable(movieDir) + QLatin1Char('\n') + *error,
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

    // The preview takes the first slot's runner: a preview still playing ends
    // here, and its end is not taken for a job's.
    if (m_bPlayerStarted) {
        m_slots.front()->Release();
        m_slots.front()->Close();
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
    m_strStartFailure.clear();
    m_bLastSucceeded = false;
    m_nTotalPercent = -1;
    m_pShownSlot = nullptr;
    m_nShownJob = -1;
    m_arrOutputs = outputs;
    m_arrJobs.assign(jobs.size(), RunJob());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        m_arrJobs[i].nDuration = jobs[i].nDuration;
        m_arrJobs[i].ullSize = jobs[i].CountedSize();
        // A row whose movie has gone is passed over; its bytes count as done
        // so that the total bar still reaches its end.
        if (m_form.SkipsJob(int(i))) {
            m_arrJobs[i].state = JobState::Ended;
            m_ullDoneBytes += m_arrJobs[i].ullSize;
        }
    }
    MoveCursor();
    m_nSlots = StoredSettings::Load().EncodesAtOnce();
    EnsureSlots(m_nSlots);
    m_log.Begin(LocalTime(m_tRunStart), sampling);
    KillRunTimer();
    m_nTimerId = startTimer(1000);
    emit RunStarted(count);
    ScheduleJobs();
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

std::vector<CEncodeSlot*> CEncodingRun::BusySlots() const
{
    std::vector<CEncodeSlot*> busy;
    for (int i = 0; i < m_nSlots; ++i) {
        if (m_slots[i]->IsBusy())
            busy.push_back(m_slots[i].get());
    }
    std::sort(busy.begin(), busy.end(),
              [](const CEncodeSlot* a, const CEncodeSlot* b) { return a->Order() < b->Order(); });
    return busy;
}

CEncodeSlot* CEncodingRun::FreeSlot() const
{
    for (int i = 0; i < m_nSlots; ++i) {
        if (!m_slots[i]->IsBusy())
            return m_slots[i].get();
    }
    return nullptr;
}

int CEncodingRun::RunningJobs() const
{
    return int(BusySlots().size());
}

int CEncodingRun::NextJob() const
{
    int first = -1;
    int longest = -1;
    int waiting = 0;
    for (int i = 0; i < int(m_arrJobs.size()); ++i) {
        const RunJob& job = m_arrJobs[i];
        if (job.state != JobState::Waiting)
            continue;
        ++waiting;
        if (first < 0)
            first = i;
        const RunJob* best = longest < 0 ? nullptr : &m_arrJobs[longest];
        if (!best || job.nDuration > best->nDuration ||
            (job.nDuration == best->nDuration && job.ullSize > best->ullSize))
            longest = i;
    }
    // Jobs start in list order. With two or more slots, while more jobs wait
    // than slots are free, the longest waiting movie (by its duration, then its
    // size; the earlier of equals) starts first instead: a long movie started
    // late would run alone at the end of the batch while the other cores idle.
    const int freeSlots = m_nSlots - int(BusySlots().size());
    return m_nSlots >= 2 && waiting > freeSlots ? longest : first;
}

void CEncodingRun::ScheduleJobs()
{
    while (m_bRunning && m_strStartFailure.isEmpty()) {
        CEncodeSlot* slot = FreeSlot();
        const int index = slot ? NextJob() : -1;
        if (index < 0)
            break;
        const std::optional<StreamFile> job = m_form.JobAt(index);
        if (!job) {
            // The list lost the job during the run.
            m_arrJobs[index].state = JobState::Ended;
            continue;
        }
        StartJob(*slot, index, *job);
    }
    if (!m_bRunning || !BusySlots().empty())
        return;
    if (!m_strStartFailure.isEmpty()) {
        AbortRun(m_strStartFailure);
        return;
    }
    // The bars show the state at the end, not the last tick's.
    if (m_bLastSucceeded && m_pShownSlot)
        m_pShownSlot->SetPercent(100);
    UpdateTimeLabels();
    FinishRun();
}

std::optional<CFailureReason> CEncodingRun::StartProblem(const CEncodeSlot::Job& work)
{
    if (const std::optional<QString> problem = StartChecks::MovieProblem(work.strInput))
        return CFailureReason::BeforeStart(*problem);
    // The disk may have become read-only or full since the run started. The
    // subfolder of a movie added through a folder is made now, inside an output
    // folder that is still there.
    const QString folder = QFileInfo(work.strOutput).absolutePath();
    const QString root = QFileInfo(GetMovieDir()).absoluteFilePath();
    const bool subfolder =
        QDir::cleanPath(folder) != QDir::cleanPath(root) && QFileInfo(root).isDir();
    if (const std::optional<QString> error = StartChecks::FolderWriteError(folder, subfolder))
        return CFailureReason::BeforeStart(StartChecks::FolderNotWritable(folder), {*error});
    return std::nullopt;
}

void CEncodingRun::StartJob(CEncodeSlot& slot, int index, const StreamFile& job)
{
    CEncodeSlot::Job work;
    work.nIndex = index;
    work.strInput = job.strFilePath;
    work.strOutput = index < int(m_arrOutputs.size()) ? m_arrOutputs[index] : OutputPathFor(job);
    if (const std::optional<CFailureReason> failure = StartProblem(work)) {
        // No encoder for it; the batch goes on with the next job.
        slot.Assign(work, ++m_nStarts);
        m_ullDoneBytes += job.CountedSize();
        m_bLastSucceeded = false;
        EndJob(slot, job, failure, {});
        slot.Release();
        m_arrJobs[index].state = JobState::Ended;
        MoveCursor();
        return;
    }

    // The selection moves to the new job unless the user follows another
    // running one; with one slot, every job's row is shown in turn.
    const int selected = m_form.SelectedRow();
    const std::vector<CEncodeSlot*> busy = BusySlots();
    const bool followsRunning = std::any_of(busy.cbegin(), busy.cend(), [selected](auto* s) {
        return s->CurrentJob().nIndex == selected;
    });
    m_arrJobs[index].state = JobState::Running;
    if (!followsRunning)
        m_form.ShowRow(index);
    m_form.SetRowStatus(index, StatusEncoding, QString());
    m_form.SetRowProgress(index, 0);

    work.ullBytes = InputFileSize(job.strFilePath);
    work.subtitle = theEncodeSetting.PrepareSubtitle(SubtitlePathFor(job), job.strFilePath);
    const QString arguments =
        theEncodeSetting.BuildCommandLine(work.subtitle, work.strOutput, m_bSampleMode, job);
    work.strCommandLine = MakeProcessCommandLine(m_strEncoderPath, arguments);
    slot.Assign(work, ++m_nStarts);
    ShowCurrentFile();
    if (slot.Start(theEncodeSetting.m_bNormalPriority))
        return;
    // Without an encoder no further job can be done: the run ends once the
    // jobs still running have, rather than wait for a completion that never
    // comes.
    const CFailureReason failure = CFailureReason::NotStarted(m_strEncoderPath, slot.StartError());
    EndJob(slot, job, failure, failure.EncoderLines());
    slot.Release();
    m_arrJobs[index].state = JobState::Ended;
    MoveCursor();
    m_strStartFailure = QStringLiteral("Unable to start %1").arg(m_strEncoderPath);
}

void CEncodingRun::ShowCurrentFile()
{
    const std::vector<CEncodeSlot*> busy = BusySlots();
    if (busy.empty())
        return; // the panel keeps the job that ended last
    const int selected = m_form.SelectedRow();
    CEncodeSlot* shown = busy.front();
    for (CEncodeSlot* slot : busy) {
        if (slot->CurrentJob().nIndex == selected)
            shown = slot;
    }
    if (shown == m_pShownSlot && shown->CurrentJob().nIndex == m_nShownJob)
        return;
    m_pShownSlot = shown;
    m_nShownJob = shown->CurrentJob().nIndex;
    m_strCurrentOutput = shown->CurrentJob().strOutput;
    m_form.SetValueLabel(RunForm::ValueLabel::Input, shown->CurrentJob().strInput);
    m_form.SetValueLabel(RunForm::ValueLabel::Output, m_strCurrentOutput);
    m_form.SetProgress(RunForm::ProgressBar::Current, std::clamp(shown->Percent(), 0, 100));
}

void CEncodingRun::FollowSelection()
{
    if (m_bRunning)
        ShowCurrentFile();
}

void CEncodingRun::MoveCursor()
{
    m_nCurrentJob = 0;
    while (m_nCurrentJob < int(m_arrJobs.size()) &&
           m_arrJobs[m_nCurrentJob].state == JobState::Ended)
        ++m_nCurrentJob;
}

void CEncodingRun::EndJob(const CEncodeSlot& slot, const std::optional<StreamFile>& job,
                          const std::optional<CFailureReason>& failure, const QStringList& lines)
{
    const CEncodeSlot::Job& work = slot.CurrentJob();
    ++m_nJobsEnded;
    if (failure) {
        ++m_nFailedJobs;
        m_strLastFailure =
            QStringLiteral("%1 failed: %2").arg(PathFileName(work.strInput), failure->Summary());
    }
    if (job)
        m_form.SetRowStatus(work.nIndex, failure ? StatusFailed : StatusFinished,
                            failure ? failure->Details() : QString());
    RunLogJob entry = JobLogEntry(slot,
                                  failure ? QStringLiteral("failed: ") + failure->OneLine()
                                          : QStringLiteral("finished"),
                                  failure ? lines : QStringList());
    entry.bOutputRemoved = failure && slot.RemoveEncodersOutput();
    m_log.WriteJob(entry);
}

std::optional<CFailureReason> CEncodingRun::CheckOutput(const CEncodeSlot& slot,
                                                        const StreamFile& job,
                                                        const QStringList& lines) const
{
    const QString& output = slot.CurrentJob().strOutput;
    const std::optional<QString> problem =
        COutputCheck::Problem(ProbeMovieContent(output),
                              COutputCheck::ExpectedSeconds(job, m_bSampleMode), m_bSampleMode);
    if (!problem)
        return std::nullopt;
    // A disk that is full now is found for every failure (OnSlotEnded).
    return CFailureReason::ForIncompleteOutput(*problem, CFailureReason::SaysDiskFull(lines),
                                               lines);
}

RunLogJob CEncodingRun::JobLogEntry(const CEncodeSlot& slot, const QString& end,
                                    const QStringList& lines) const
{
    const CEncodeSlot::Job& work = slot.CurrentJob();
    RunLogJob entry;
    entry.nIndex = work.nIndex;
    entry.nCount = m_form.JobCount();
    entry.strInput = work.strInput;
    entry.strOutput = work.strOutput;
    entry.strCommandLine = work.strCommandLine;
    entry.strEnd = end;
    const qint64 ms = slot.ElapsedMs();
    entry.strTime = FormatDuration(ms / 1000) + QStringLiteral(".%1").arg(ms % 1000 / 100);
    entry.arrLines = lines;
    return entry;
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
        OnSlotEnded(completion.nSlot, completion.exit, completion.lines);
    }
}

void CEncodingRun::OnSlotEnded(int slotIndex, const ChildExit& exit, const QStringList& lines)
{
    CEncodeSlot& slot = *m_slots[slotIndex];
    if (!slot.TakeEnd(exit))
        return;
    if (!slot.IsBusy()) {
        // The preview player ended.
        m_bPlayerStarted = false;
        ++m_nCurrentJob;
        return;
    }

    const int index = slot.CurrentJob().nIndex;
    const std::optional<StreamFile> job = m_form.JobAt(index);
    if (job)
        m_ullDoneBytes += job->CountedSize();
    // The encoder can exit 0 without having written a movie (an input it could
    // not demultiplex, for one), or with only part of one (a full disk, an
    // input that ends early): that job failed too.
    const QString& output = slot.CurrentJob().strOutput;
    std::optional<CFailureReason> failure =
        CFailureReason::ForEnd(exit, OutputState(output), lines);
    if (!failure && job)
        failure = CheckOutput(slot, *job, lines);
    // The encoder does not say so when its writes fail for want of space: it
    // leaves an empty or short file, or none.
    if (failure && failure->Cause().isEmpty() &&
        COutputCheck::DiskFull(QFileInfo(output).absolutePath()))
        failure->SetCause(QString::fromLatin1(CFailureReason::DiskFullCause));
    m_bLastSucceeded = !failure;
    EndJob(slot, job, failure, lines);
    slot.Release();
    m_arrJobs[index].state = JobState::Ended;
    MoveCursor();
    ShowCurrentFile();
    ScheduleJobs();
}

void CEncodingRun::FinishRun()
{
    m_bRunning = false;
    m_bSampleMode = false;
    m_nCurrentJob = 0;
    emit RunOver(true, m_nFailedJobs, m_nJobsEnded);
    if (m_form.ShutdownAfterRun())
        m_form.ShutdownComputer();
    QString message = FinishedText;
    if (m_nFailedJobs > 0)
        message += QLatin1Char('\n') + FailedFilesText(m_nFailedJobs, m_nJobsEnded);
    if (m_nFailedJobs == 1)
        message += QLatin1Char('\n') + m_strLastFailure;
    m_log.End(QStringLiteral("Run ended %1: %2")
                  .arg(NowText(), FailedFilesText(m_nFailedJobs, m_nJobsEnded)));
    m_form.MessageBox(message, RunForm::MessageIcon::Information);
    KillRunTimer();
    if (!m_bStoppedByUser)
        m_form.OpenFolder(GetMovieDir());
    emit RunEnded(m_nJobsEnded - m_nFailedJobs, m_nFailedJobs, false);
}

void CEncodingRun::AbortRun(const QString& message)
{
    m_bRunning = false;
    m_bSampleMode = false;
    m_nCurrentJob = 0;
    KillRunTimer();
    emit RunOver(false, m_nFailedJobs, m_nJobsEnded);
    m_log.End(QStringLiteral("Run ended %1: %2").arg(NowText(), message));
    m_form.MessageBox(message, RunForm::MessageIcon::Information);
    emit RunEnded(m_nJobsEnded - m_nFailedJobs, m_nFailedJobs, false);
}

void CEncodingRun::StopEncoding()
{
    Stop(false);
}

void CEncodingRun::StopForQuit()
{
    for (const QString& path : m_arrAskingAbout) {
        if (QFileInfo(path).isFile())
            QFile::remove(path);
    }
    Stop(true);
}

void CEncodingRun::Stop(bool quitting)
{
    // Only files that encoders of this run were still writing are incomplete.
    const std::vector<CEncodeSlot*> stopped =
        m_bRunning ? BusySlots() : std::vector<CEncodeSlot*>();
    const bool wasRunning = m_bRunning;
    m_bRunning = false;
    m_bSampleMode = false;
    m_bStoppedByUser = true;
    // Every encoder is asked to end before any is waited for, so that all of
    // them finalise their files (on SIGTERM) in the same grace; then the
    // preview or the encoders are ended.
    for (const auto& slot : m_slots)
        slot->RequestStop();
    for (const auto& slot : m_slots)
        slot->Close();
    KillRunTimer();
    if (!wasRunning)
        return;
    emit RunOver(false, m_nFailedJobs, m_nJobsEnded);

    // Taken now, and the slots freed: the stopped encoders' ends, which arrive
    // while the question below waits for the user, are not taken for jobs'.
    const QString end = quitting ? QStringLiteral("stopped: Clipvane was asked to quit")
                                 : QStringLiteral("stopped by the user");
    std::vector<RunLogJob> entries;
    QStringList incomplete;
    for (CEncodeSlot* slot : stopped) {
        const int index = slot->CurrentJob().nIndex;
        if (m_form.JobAt(index))
            m_form.SetRowStatus(index, StatusStopped, QString());
        entries.push_back(JobLogEntry(*slot, end, {}));
        if (quitting)
            entries.back().bOutputRemoved = slot->RemoveEncodersOutput();
        else if (QFileInfo(slot->CurrentJob().strOutput).isFile())
            incomplete << slot->CurrentJob().strOutput;
        slot->Release();
        m_arrJobs[index].state = JobState::Ended;
    }
    MoveCursor();
    ShowStoppedProgress();

    if (!incomplete.isEmpty()) {
        m_arrAskingAbout = incomplete;
        const bool yes =
            m_form.AskYesNo(IncompleteOutputsQuestion(incomplete), RunForm::MessageIcon::Question);
        m_arrAskingAbout.clear();
        for (RunLogJob& entry : entries) {
            // A quit while the question was open deleted them already.
            if (incomplete.contains(entry.strOutput))
                entry.bOutputRemoved =
                    (yes && QFile::remove(entry.strOutput)) || !QFileInfo::exists(entry.strOutput);
        }
    }
    for (const RunLogJob& entry : entries)
        m_log.WriteJob(entry);
    m_log.End(quitting
                  ? QStringLiteral("Run stopped %1: Clipvane was asked to quit.").arg(NowText())
                  : QStringLiteral("Run stopped by the user %1.").arg(NowText()));
    emit RunEnded(m_nJobsEnded - m_nFailedJobs, m_nFailedJobs, true);
}

void CEncodingRun::ShowStoppedProgress()
{
    const std::uint64_t totalBytes = m_form.TotalBytes();
    const int totalPercent =
        totalBytes == 0 ? 0
                        : static_cast<int>(std::min<std::uint64_t>(
                              100, m_ullDoneBytes * 100 / std::max<std::uint64_t>(totalBytes, 1)));
    if (m_pShownSlot)
        m_pShownSlot->SetPercent(0);
    m_form.SetValueLabel(RunForm::ValueLabel::Elapsed,
                         FormatDuration(std::max<std::int64_t>(0, Now() - m_tRunStart)));
    m_form.SetValueLabel(RunForm::ValueLabel::Remaining, FormatDuration(0));
    m_form.SetProgress(RunForm::ProgressBar::Current, 0);
    SetTotalProgress(totalPercent);
}

void CEncodingRun::SetTotalProgress(int percent)
{
    m_form.SetProgress(RunForm::ProgressBar::Total, percent);
    if (percent == m_nTotalPercent)
        return;
    m_nTotalPercent = percent;
    emit TotalProgressChanged(percent);
}

bool CEncodingRun::StartPreview(const QString& commandLine)
{
    if (m_bRunning)
        return false;
    m_bPlayerStarted = m_slots.front()->StartPreview(commandLine);
    return m_bPlayerStarted;
}

void CEncodingRun::UpdateTimeLabels()
{
    const std::uint64_t totalBytes = m_form.TotalBytes();
    if (!m_bRunning || totalBytes == 0)
        return;
    const std::int64_t elapsed = std::max<std::int64_t>(0, Now() - m_tRunStart);
    // Each running job counts with its bytes times its percentage.
    std::int64_t runningBytes = 0;
    for (CEncodeSlot* slot : BusySlots()) {
        const int percent = std::clamp(slot->Percent(), 0, 100);
        runningBytes += static_cast<std::int64_t>(slot->CurrentJob().ullBytes) * percent / 100;
        if (percent != slot->RowPercent()) {
            slot->SetRowPercent(percent);
            m_form.SetRowProgress(slot->CurrentJob().nIndex, percent);
        }
    }
    const int percent = m_pShownSlot ? std::clamp(m_pShownSlot->Percent(), 0, 100) : 0;
    const std::int64_t totalPercent = (runningBytes + static_cast<std::int64_t>(m_ullDoneBytes)) *
                                      100 / static_cast<std::int64_t>(totalBytes);
    const std::int64_t remaining =
        totalPercent == 0 ? 0 : elapsed * 100 / static_cast<std::int32_t>(totalPercent) - elapsed;
    m_form.SetValueLabel(RunForm::ValueLabel::Elapsed, FormatDuration(elapsed));
    m_form.SetValueLabel(RunForm::ValueLabel::Remaining, FormatDuration(remaining));
    m_form.SetProgress(RunForm::ProgressBar::Current, percent);
    SetTotalProgress(static_cast<int>(std::clamp<std::int64_t>(totalPercent, 0, 100)));
}

QString CEncodingRun::OutputPathFor(const StreamFile& job, int copy)
{
    // The extension is the movie name's: a "." in the folder or the prefix of a
    // name without extension is not one.
    const QString& name = job.strFileName;
    const QString stem =
        name.contains(QLatin1Char('.')) ? name.left(name.lastIndexOf(QLatin1Char('.'))) : name;
    const QString suffix = copy > 1 ? QStringLiteral(" (%1)").arg(copy) : QString();
    // A movie added through a folder keeps its place in that folder's tree.
    const QString folder = MovieFolder::CleanRelativeDir(job.strRelativeDir);
    return GetMovieDir() + QLatin1Char('/') +
           (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) +
           FittedFileName(GetPrefix(), stem, suffix);
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
