#include "EncodingRun.h"

#include "engine/ExternalTools.h"
#include "engine/FailureReason.h"
#include "engine/OutputCheck.h"
#include "engine/OutputClaim.h"
#include "engine/OutputNamer.h"
#include "engine/StartChecks.h"
#include "engine/StoredSettings.h"
#include "jobs/JobStatus.h"
#include "jobs/MediaProbe.h"
#include "shell/AppFolder.h"
#include "shell/SettingsStore.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimerEvent>

namespace {

const QString& StatusEncoding = JobStatus::Encoding;
const QString& StatusFinished = JobStatus::Finished;
const QString& StatusFailed = JobStatus::Failed;
const QString& StatusStopped = JobStatus::Stopped;

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

std::uint64_t FileBytes(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? static_cast<std::uint64_t>(info.size()) : 0;
}

QDateTime LocalTime(std::int64_t secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
}

} // namespace

CEncodingRun::CEncodingRun(RunForm& form, QObject* parent)
    : QObject(parent)
    , m_form(form)
{
    SetEncoder(EncodeProfile::Backend::Mencoder, ExternalTools::EncoderPath(),
               QString::fromLatin1(ExternalTools::EncoderImageName));
    SetEncoder(EncodeProfile::Backend::Ffmpeg, ExternalTools::FfmpegPath(),
               QString::fromLatin1(ExternalTools::FfmpegImageName));
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
        slot->SetEncoderImageName(m_tools[m_plan.profile.backend].strImageName);
        m_slots.push_back(std::move(slot));
    }
}

void CEncodingRun::SetEncoder(EncodeProfile::Backend backend, const QString& path,
                              const QString& imageName)
{
    m_tools[backend] = {path, imageName};
    if (backend == m_plan.profile.backend) {
        for (const auto& slot : m_slots)
            slot->SetEncoderImageName(imageName);
    }
}

void CEncodingRun::SetEncoderPath(const QString& path)
{
    m_tools[EncodeProfile::Backend::Mencoder].strPath = path;
}

void CEncodingRun::SetEncoderImageName(const QString& name)
{
    const auto backend = EncodeProfile::Backend::Mencoder;
    SetEncoder(backend, m_tools[backend].strPath, name);
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
    if (!m_bRunning)
        Start(RunPlan::FromSettings(StoredSettings::Load(), true));
}

void CEncodingRun::StartEncoding()
{
    if (!m_bRunning)
        Start(RunPlan::FromSettings(StoredSettings::Load(), false));
}

void CEncodingRun::Start(RunPlan plan)
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
    if (const std::optional<QString> error =
            StartChecks::FolderWriteError(plan.strOutputDir, true)) {
        m_form.MessageBox(StartChecks::FolderNotWritable(plan.strOutputDir) + QLatin1Char('\n') +
                              *error,
                          RunForm::MessageIcon::Information);
        return;
    }

    plan.jobs.clear();
    for (int i = 0; i < count; ++i)
        plan.jobs.push_back(m_form.JobAt(i).value_or(StreamFile()));
    QStringList outputs = plan.OutputPaths();
    // What runs of this host that ended without cleaning up (a crash, a kill,
    // a power cut) left in the folders this run writes is not in the way.
    if (COutputClaim::RemoveLeftoversFor(outputs) > 0)
        outputs = plan.OutputPaths();
    // Only what the run will write can be overwritten.
    QStringList written;
    std::vector<bool> skipped(plan.jobs.size());
    for (int i = 0; i < count; ++i) {
        skipped[i] = m_form.SkipsJob(i);
        if (!skipped[i])
            written << outputs[i];
    }
    QStringList replaceable;
    if (plan.overwrite == RunPlan::Overwrite::Ask && !MayOverwrite(written, replaceable))
        return;

    // The preview takes the first slot's runner: a preview still playing ends
    // here, and its end is not taken for a job's.
    if (m_bPlayerStarted) {
        m_slots.front()->Close();
        m_slots.front()->Release();
        m_bPlayerStarted = false;
    }

    m_plan = std::move(plan);
    m_tally.Start(Now());
    m_bRunning = true;
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
    // The names a job whose own is taken does not move to: the other jobs'
    // outputs and the movies.
    m_runNames.clear();
    m_replaceable.clear();
    for (int i = 0; i < count; ++i) {
        m_runNames.insert(OutputNamer::PathKey(outputs[i]));
        m_runNames.insert(OutputNamer::PathKey(m_plan.jobs[i].strFilePath));
    }
    for (const QString& output : replaceable)
        m_replaceable.insert(OutputNamer::PathKey(output));
    m_arrJobs.assign(m_plan.jobs.size(), RunJob());
    for (std::size_t i = 0; i < m_plan.jobs.size(); ++i) {
        m_arrJobs[i].nDuration = m_plan.jobs[i].nDuration;
        m_arrJobs[i].ullSize = m_plan.jobs[i].CountedSize();
        // A row whose movie has gone is passed over; its bytes count as done
        // so that the total bar still reaches its end.
        if (skipped[i]) {
            m_arrJobs[i].state = JobState::Ended;
            m_tally.AddDone(m_arrJobs[i].ullSize);
        }
    }
    MoveCursor();
    EnsureSlots(m_plan.nEncodesAtOnce);
    for (const auto& slot : m_slots)
        slot->SetEncoderImageName(m_tools[m_plan.profile.backend].strImageName);
    m_log.Begin(LocalTime(Now()), m_plan.bSampling);
    KillRunTimer();
    m_nTimerId = startTimer(1000);
    emit RunStarted(count);
    ScheduleJobs();
}

bool CEncodingRun::MayOverwrite(const QStringList& outputs, QStringList& existing)
{
    // Another process's output that is still being made cannot be replaced:
    // the job takes another name.
    for (const QString& output : outputs) {
        if (COutputClaim::Inspect(output) == COutputClaim::Found::Movie)
            existing << output;
    }
    return existing.isEmpty() || m_form.AskYesNo(OutputNamer::ExistingOutputsQuestion(existing),
                                                 RunForm::MessageIcon::None);
}

std::vector<CEncodeSlot*> CEncodingRun::BusySlots() const
{
    std::vector<CEncodeSlot*> busy;
    for (int i = 0; i < SlotCount(); ++i) {
        if (m_slots[i]->IsBusy())
            busy.push_back(m_slots[i].get());
    }
    std::sort(busy.begin(), busy.end(),
              [](const CEncodeSlot* a, const CEncodeSlot* b) { return a->Order() < b->Order(); });
    return busy;
}

CEncodeSlot* CEncodingRun::FreeSlot() const
{
    for (int i = 0; i < SlotCount(); ++i) {
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
    const int freeSlots = SlotCount() - int(BusySlots().size());
    return SlotCount() >= 2 && waiting > freeSlots ? longest : first;
}

void CEncodingRun::ScheduleJobs()
{
    while (m_bRunning && m_strStartFailure.isEmpty()) {
        CEncodeSlot* slot = FreeSlot();
        const int index = slot ? NextJob() : -1;
        if (index < 0)
            break;
        StartJob(*slot, index);
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

std::optional<CFailureReason> CEncodingRun::StartProblem(const QString& input,
                                                         const QString& output) const
{
    if (const std::optional<QString> problem = StartChecks::MovieProblem(input))
        return CFailureReason::BeforeStart(*problem);
    // The disk may have become read-only or full since the run started. The
    // subfolder of a movie added through a folder is made now, inside an output
    // folder that is still there.
    const QString folder = QFileInfo(output).absolutePath();
    const QString root = QFileInfo(m_plan.strOutputDir).absoluteFilePath();
    const bool subfolder =
        QDir::cleanPath(folder) != QDir::cleanPath(root) && QFileInfo(root).isDir();
    if (const std::optional<QString> error = StartChecks::FolderWriteError(folder, subfolder))
        return CFailureReason::BeforeStart(StartChecks::FolderNotWritable(folder), {*error});
    return std::nullopt;
}

COutputClaim::Attempt CEncodingRun::ClaimOutput(int index, bool free)
{
    const QString& planned = m_arrOutputs[index];
    const RunPlan::Overwrite overwrite = m_plan.overwrite;
    if (!free) {
        const bool replace = overwrite == RunPlan::Overwrite::Replace ||
                             (overwrite == RunPlan::Overwrite::Ask &&
                              m_replaceable.contains(OutputNamer::PathKey(planned)));
        COutputClaim::Attempt attempt = COutputClaim::Take(planned, replace);
        if (attempt.claim || !attempt.strError.isEmpty() || overwrite == RunPlan::Overwrite::Skip ||
            overwrite == RunPlan::Overwrite::Replace)
            return attempt;
    }
    const StreamFile& job = m_plan.jobs[index];
    return COutputClaim::TakeFree(
        [&](int copy) {
            return OutputNamer::PathFor(m_plan.strOutputDir, m_plan.strPrefix,
                                        m_plan.profile.Extension(), job, copy);
        },
        [&](const QString& path) { return m_runNames.contains(OutputNamer::PathKey(path)); });
}

void CEncodingRun::SkipJob(int index, const QString& reason)
{
    m_arrJobs[index].state = JobState::Ended;
    m_tally.AddDone(m_arrJobs[index].ullSize);
    SetRowStatus(index, JobStatus::Skipped, reason);
    RunLogJob entry;
    entry.nIndex = index;
    entry.nCount = int(m_plan.jobs.size());
    entry.strInput = m_plan.jobs[index].strFilePath;
    entry.strOutput = m_arrOutputs[index];
    entry.strEnd = QStringLiteral("skipped: ") + reason;
    m_log.WriteJob(entry);
    MoveCursor();
}

void CEncodingRun::StartJob(CEncodeSlot& slot, int index)
{
    const StreamFile& movie = m_plan.jobs[index];
    std::optional<CFailureReason> failure = StartProblem(movie.strFilePath, m_arrOutputs[index]);
    std::unique_ptr<COutputClaim> claim;
    if (!failure) {
        // The output's name is this job's alone before its encoder starts.
        COutputClaim::Attempt attempt = ClaimOutput(index, false);
        if (!attempt.strError.isEmpty()) {
            const QString folder = QFileInfo(m_arrOutputs[index]).absolutePath();
            failure = CFailureReason::BeforeStart(StartChecks::FolderNotWritable(folder),
                                                  {attempt.strError});
        } else if (!attempt.claim) {
            SkipJob(index, COutputClaim::InUseReason(attempt.held));
            return;
        } else {
            claim = std::move(attempt.claim);
            m_arrOutputs[index] = claim->Path();
            m_runNames.insert(OutputNamer::PathKey(claim->Path()));
        }
    }
    CEncoderJob::Setup setup;
    setup.movie = movie;
    setup.strOutput = claim ? claim->TempPath() : m_arrOutputs[index];
    setup.strProgram = m_tools[m_plan.profile.backend].strPath;
    setup.bSampling = m_plan.bSampling;
    setup.bBurnSubtitle = m_plan.bBurnSubtitle;
    setup.nThreads = m_plan.ThreadsPerEncoder();
    std::unique_ptr<CEncoderJob> encoder = MakeEncoderJob(m_plan.profile, setup);
    if (failure) {
        // No encoder for it; the batch goes on with the next job.
        m_arrJobs[index].state = JobState::Running;
        slot.Assign(index, std::move(encoder), 0, ++m_nStarts);
        EndJob(slot, failure, {});
        return;
    }

    // The selection moves to the new job unless the user follows another
    // running one; with one slot, every job's row is shown in turn.
    const int selected = m_form.SelectedRow();
    const std::vector<CEncodeSlot*> busy = BusySlots();
    const bool followsRunning = std::any_of(
        busy.cbegin(), busy.cend(), [selected](auto* s) { return s->JobIndex() == selected; });
    m_arrJobs[index].state = JobState::Running;
    if (!followsRunning && RowExists(index))
        m_form.ShowRow(index);
    SetRowStatus(index, StatusEncoding, QString());

    slot.Assign(index, std::move(encoder), InputFileSize(movie.strFilePath), ++m_nStarts,
                std::move(claim));
    ShowCurrentFile();
    if (const std::optional<QString> refused = slot.Encoder()->Prepare()) {
        EndJob(slot, CFailureReason::BeforeStart(*refused), {});
        ShowCurrentFile();
        return;
    }
    StartStep(slot);
}

bool CEncodingRun::StartStep(CEncodeSlot& slot)
{
    if (slot.Start(false))
        return true;
    // Without an encoder no further job can be done: the run ends once the
    // jobs still running have, rather than wait for a completion that never
    // comes.
    const QString program = slot.Encoder()->GetSetup().strProgram;
    const CFailureReason failure = CFailureReason::NotStarted(program, slot.StartError());
    EndJob(slot, failure, failure.EncoderLines());
    ShowCurrentFile();
    m_strStartFailure = QStringLiteral("Unable to start %1").arg(program);
    return false;
}

void CEncodingRun::ShowCurrentFile()
{
    const std::vector<CEncodeSlot*> busy = BusySlots();
    if (busy.empty())
        return; // the panel keeps the job that ended last
    const int selected = m_form.SelectedRow();
    CEncodeSlot* shown = busy.front();
    for (CEncodeSlot* slot : busy) {
        if (slot->JobIndex() == selected)
            shown = slot;
    }
    if (shown == m_pShownSlot && shown->JobIndex() == m_nShownJob)
        return;
    m_pShownSlot = shown;
    m_nShownJob = shown->JobIndex();
    m_strCurrentOutput = shown->Output();
    m_form.SetValueLabel(RunForm::ValueLabel::Input, shown->Input());
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

void CEncodingRun::EndJob(CEncodeSlot& slot, const std::optional<CFailureReason>& failure,
                          const QStringList& lines)
{
    const int index = slot.JobIndex();
    ++m_nJobsEnded;
    m_tally.AddDone(m_arrJobs[index].ullSize);
    m_bLastSucceeded = !failure;
    if (failure) {
        ++m_nFailedJobs;
        m_strLastFailure =
            QStringLiteral("%1 failed: %2").arg(PathFileName(slot.Input()), failure->Summary());
    }
    SetRowStatus(index, failure ? StatusFailed : StatusFinished,
                 failure ? failure->Details() : QString());
    RunLogJob entry = JobLogEntry(slot,
                                  failure ? QStringLiteral("failed: ") + failure->OneLine()
                                          : QStringLiteral("finished"),
                                  failure ? lines : QStringList());
    entry.bOutputRemoved = failure && slot.RemoveEncodersOutput();
    m_log.WriteJob(entry);
    slot.Release();
    m_arrJobs[index].state = JobState::Ended;
    MoveCursor();
}

std::optional<CFailureReason> CEncodingRun::CheckOutput(const CEncodeSlot& slot,
                                                        const QStringList& lines) const
{
    const QString& output = slot.EncoderOutput();
    const StreamFile& job = m_plan.jobs[slot.JobIndex()];
    const std::uint64_t budget = slot.Encoder()->SizeBudget();
    if (budget > 0 && FileBytes(output) > budget)
        return CFailureReason::OverBudget(FileBytes(output), budget, lines);
    // The movie's length to the frame, probed now: 2 to 20 ms on the UI thread
    // for the inputs of bench/lengths.sh, once per job.
    const double input = COutputCheck::InputSeconds(job, ProbeMovieTiming(job.strFilePath));
    const std::optional<QString> problem = COutputCheck::Problem(
        ProbeMovieContent(output), COutputCheck::ExpectedSeconds(input, m_plan.bSampling),
        m_plan.bSampling);
    if (!problem)
        return std::nullopt;
    // A disk that is full now is found for every failure (OnSlotEnded).
    return CFailureReason::ForIncompleteOutput(*problem, CFailureReason::SaysDiskFull(lines),
                                               lines);
}

std::optional<CFailureReason> CEncodingRun::PublishOutput(CEncodeSlot& slot)
{
    QString error;
    if (slot.Claim()->Publish(&error))
        return std::nullopt;
    // Another process took the name meanwhile (one that replaced it at the
    // same moment): the movie goes under the next free name.
    const int index = slot.JobIndex();
    COutputClaim::Attempt next = ClaimOutput(index, true);
    if (next.claim && next.claim->Publish(&error, slot.EncoderOutput())) {
        m_arrOutputs[index] = next.claim->Path();
        m_runNames.insert(OutputNamer::PathKey(next.claim->Path()));
        slot.SetClaim(std::move(next.claim));
        return std::nullopt;
    }
    return CFailureReason::BeforeStart(
        QStringLiteral("The finished movie could not be given its name: %1").arg(slot.Output()),
        {next.strError.isEmpty() ? error : next.strError});
}

RunLogJob CEncodingRun::JobLogEntry(const CEncodeSlot& slot, const QString& end,
                                    const QStringList& lines) const
{
    RunLogJob entry;
    entry.nIndex = slot.JobIndex();
    entry.nCount = int(m_plan.jobs.size());
    entry.strInput = slot.Input();
    entry.strOutput = slot.Output();
    entry.arrCommandLines = slot.CommandLines();
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

    CEncoderJob& encoder = *slot.Encoder();
    const QString& output = slot.EncoderOutput();
    if (exit.Succeeded() &&
        encoder.StepSucceeded(FileBytes(output)) == CEncoderJob::StepEnd::NextStep) {
        if (!StartStep(slot))
            ScheduleJobs();
        return;
    }
    // The encoder can exit 0 without having written a movie (an input it could
    // not demultiplex, for one), or with only part of one (a full disk, an
    // input that ends early): that job failed too. A whole movie takes the
    // output's name.
    std::optional<CFailureReason> failure =
        CFailureReason::ForEnd(exit, OutputState(output), lines, encoder.Causes());
    if (!failure)
        failure = CheckOutput(slot, lines);
    if (!failure)
        failure = PublishOutput(slot);
    // The encoder does not always say so when its writes fail for want of
    // space: it leaves an empty or short file, or none.
    if (failure && failure->Cause().isEmpty() &&
        COutputCheck::DiskFull(QFileInfo(output).absolutePath()))
        failure->SetCause(QString::fromLatin1(CFailureReason::DiskFullCause));
    EndJob(slot, failure, lines);
    ShowCurrentFile();
    ScheduleJobs();
}

void CEncodingRun::FinishRun()
{
    m_bRunning = false;
    m_nCurrentJob = 0;
    emit RunOver(true, m_nFailedJobs, m_nJobsEnded);
    if (m_plan.bShutdown)
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
        m_form.OpenFolder(m_plan.strOutputDir);
    emit RunEnded(m_nJobsEnded - m_nFailedJobs, m_nFailedJobs, false);
}

void CEncodingRun::AbortRun(const QString& message)
{
    m_bRunning = false;
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
    for (const auto& claim : m_askingAbout)
        claim->Release();
    Stop(true);
}

void CEncodingRun::Stop(bool quitting)
{
    // Only files that encoders of this run were still writing are incomplete.
    const std::vector<CEncodeSlot*> stopped =
        m_bRunning ? BusySlots() : std::vector<CEncodeSlot*>();
    const bool wasRunning = m_bRunning;
    m_bRunning = false;
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
    // The stopped jobs' claims, and the names of those whose encoders wrote
    // something: the question names the outputs as the user knows them.
    std::vector<std::unique_ptr<COutputClaim>> claims;
    QStringList incomplete;
    for (CEncodeSlot* slot : stopped) {
        const int index = slot->JobIndex();
        SetRowStatus(index, StatusStopped, QString());
        entries.push_back(JobLogEntry(*slot, end, {}));
        if (quitting) {
            entries.back().bOutputRemoved = slot->RemoveEncodersOutput();
        } else if (slot->Claim() && FileBytes(slot->EncoderOutput()) > 0) {
            incomplete << slot->Output();
            claims.push_back(slot->TakeClaim());
        }
        slot->Release();
        m_arrJobs[index].state = JobState::Ended;
    }
    MoveCursor();
    ShowStoppedProgress();

    if (!incomplete.isEmpty()) {
        m_askingAbout = std::move(claims);
        const bool yes = m_form.AskYesNo(OutputNamer::IncompleteOutputsQuestion(incomplete),
                                         RunForm::MessageIcon::Question);
        // Yes deletes them; No keeps each under its output's name. A quit while
        // the question was open deleted them already.
        for (const auto& claim : m_askingAbout) {
            QString error;
            const bool removed = yes ? claim->Release() : !claim->Publish(&error);
            for (RunLogJob& entry : entries) {
                if (entry.strOutput == claim->Path())
                    entry.bOutputRemoved = removed || !QFileInfo::exists(entry.strOutput);
            }
        }
        m_askingAbout.clear();
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
    const CProgressTally::Reading reading = m_tally.ReadStopped(m_form.TotalBytes(), Now());
    if (m_pShownSlot)
        m_pShownSlot->SetPercent(0);
    m_form.SetValueLabel(RunForm::ValueLabel::Elapsed, FormatDuration(reading.elapsed));
    m_form.SetValueLabel(RunForm::ValueLabel::Remaining, FormatDuration(0));
    m_form.SetProgress(RunForm::ProgressBar::Current, 0);
    SetTotalProgress(reading.totalPercent);
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
    // Each running job counts with its bytes times its percentage.
    std::uint64_t runningBytes = 0;
    for (CEncodeSlot* slot : BusySlots()) {
        const int percent = std::clamp(slot->Percent(), 0, 100);
        runningBytes += slot->Bytes() * static_cast<std::uint64_t>(percent) / 100;
        if (percent != slot->RowPercent()) {
            slot->SetRowPercent(percent);
            if (RowExists(slot->JobIndex()))
                m_form.SetRowProgress(slot->JobIndex(), percent);
        }
    }
    const CProgressTally::Reading reading = m_tally.Read(runningBytes, totalBytes, Now());
    const int percent = m_pShownSlot ? std::clamp(m_pShownSlot->Percent(), 0, 100) : 0;
    m_form.SetValueLabel(RunForm::ValueLabel::Elapsed, FormatDuration(reading.elapsed));
    m_form.SetValueLabel(RunForm::ValueLabel::Remaining, FormatDuration(reading.remaining));
    m_form.SetProgress(RunForm::ProgressBar::Current, percent);
    SetTotalProgress(reading.totalPercent);
}

QString CEncodingRun::OutputPathFor(const StreamFile& job, int copy)
{
    const StoredSettings stored = StoredSettings::Load();
    return OutputNamer::PathFor(stored.strOutputDir, stored.strPrefix, stored.Profile().Extension(),
                                job, copy);
}

QStringList CEncodingRun::OutputPathsFor(const std::vector<StreamFile>& jobs)
{
    const StoredSettings stored = StoredSettings::Load();
    return OutputNamer::PathsFor(stored.strOutputDir, stored.strPrefix,
                                 stored.Profile().Extension(), jobs);
}

bool CEncodingRun::RowExists(int index) const
{
    return index >= 0 && index < m_form.JobCount();
}

void CEncodingRun::SetRowStatus(int index, const QString& status, const QString& reason)
{
    if (RowExists(index))
        m_form.SetRowStatus(index, status, reason);
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
