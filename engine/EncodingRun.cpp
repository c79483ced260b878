#include "EncodingRun.h"

#include "engine/Backends.h"
#include "engine/OutputCheck.h"
#include "shell/AppFolder.h"

#include <algorithm>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimerEvent>

namespace {

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

QDateTime LocalTime(std::int64_t secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
}

} // namespace

// What the encoder left at the output path.
CFailureReason::Output CEncodingRun::OutputState(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return CFailureReason::Output::Missing;
    return info.size() > 0 ? CFailureReason::Output::Written : CFailureReason::Output::Empty;
}

std::uint64_t CEncodingRun::FileBytes(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() ? static_cast<std::uint64_t>(info.size()) : 0;
}

// What the run hands a job's encode.
CEncode::Setup CEncodingRun::SetupFor(const RunPlan& plan, int job, const QString& output)
{
    CEncode::Setup setup;
    setup.movie = plan.jobs[job].movie;
    setup.strOutput = output;
    setup.strProgram = plan.Encoder().strPath;
    setup.bSampling = plan.bSampling;
    setup.bBurnSubtitle = plan.bBurnSubtitle;
    setup.nThreads = plan.ThreadsPerEncoder();
    setup.nSubtitleCodePage = plan.nSubtitleCodePage;
    return setup;
}

CEncodingRun::CEncodingRun(QObject* parent)
    : QObject(parent)
{
    EnsureSlots(1);
    SetEncoderImageName(QString::fromLatin1(Backends::All().front().imageName));
}

void CEncodingRun::SetEncoderImageName(const QString& imageName)
{
    const BackendInfo& first = Backends::All().front();
    for (const auto& slot : m_slots)
        slot->SetEncoder(imageName, first.stopGrace);
}

CEncodingRun::~CEncodingRun()
{
    // The worker hands its results to this object: the task it is doing ends
    // first, those waiting are dropped.
    {
        std::lock_guard lock(m_taskMutex);
        m_bEndWorker = true;
        m_tasks.clear();
    }
    m_taskReady.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    // The runners' threads call back into this object: end them first.
    for (const auto& slot : m_slots)
        slot->RequestStop();
    m_slots.clear();
    if (!m_stoppedEntries.empty())
        SettleIncompleteOutputs(true);
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
        m_slots.push_back(std::make_unique<CEncodeSlot>(int(m_slots.size()), onEnd));
    }
}

std::int64_t CEncodingRun::Now() const
{
    return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
}

QString CEncodingRun::NowText() const
{
    return CRunLog::TimeText(LocalTime(Now()));
}

bool CEncodingRun::Start(RunPlan plan)
{
    if (m_bRunning || plan.jobs.empty())
        return false;
    // A Stop's outputs that no one settled are kept.
    if (!m_stoppedEntries.empty())
        SettleIncompleteOutputs(false);

    m_plan = std::move(plan);
    m_tally.Start(Now());
    m_bRunning = true;
    m_bStoppedByUser = false;
    m_nFinishedJobs = 0;
    m_nFailedJobs = 0;
    m_strLastFailure.clear();
    m_strStartFailure.clear();
    m_outputs.Start(m_plan);
    m_arrJobs.assign(m_plan.jobs.size(), RunJob());
    for (std::size_t i = 0; i < m_plan.jobs.size(); ++i) {
        const RunPlan::Job& job = m_plan.jobs[i];
        // A job left out is passed over; its bytes count as done so that the
        // total still reaches its end.
        if (job.bSkipped) {
            m_arrJobs[i].step = JobStep::Ended;
            m_tally.AddDone(job.Bytes());
        }
    }
    EnsureSlots(m_plan.nEncodesAtOnce);
    const BackendInfo& backend = Backends::Of(m_plan.profile.backend);
    for (const auto& slot : m_slots)
        slot->SetEncoder(m_plan.Encoder().strImageName, backend.stopGrace);
    m_log.Begin(LocalTime(Now()), m_plan.bSampling);
    m_strStateDir = GetStateDir();
    // Encoders of a Clipvane that was killed (a crash, a power cut, SIGKILL)
    // may still be writing the pieces this run continues from: they end first.
    CRedirect::KillStrayEncoders(m_plan.Encoder().strImageName);
    KillRunTimer();
    m_nTimerId = startTimer(1000);
    emit RunStarted(int(m_plan.jobs.size()));
    FindResumes(m_plan);
    ScheduleJobs();
    return true;
}

std::vector<CEncodeSlot*> CEncodingRun::BusySlots() const
{
    std::vector<CEncodeSlot*> busy;
    for (int i = 0; i < SlotCount() && i < int(m_slots.size()); ++i) {
        if (m_slots[i]->IsBusy())
            busy.push_back(m_slots[i].get());
    }
    std::sort(busy.begin(), busy.end(),
              [](const CEncodeSlot* a, const CEncodeSlot* b) { return a->Order() < b->Order(); });
    return busy;
}

CEncodeSlot* CEncodingRun::FreeSlot() const
{
    for (int i = 0; i < SlotCount() && i < int(m_slots.size()); ++i) {
        if (!m_slots[i]->IsBusy())
            return m_slots[i].get();
    }
    return nullptr;
}

std::vector<CEncodeSlot*> CEncodingRun::JobSlots() const
{
    std::vector<CEncodeSlot*> jobs = BusySlots();
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [](const CEncodeSlot* slot) { return slot->IsHelper(); }),
               jobs.end());
    return jobs;
}

int CEncodingRun::RunningJobs() const
{
    return int(JobSlots().size());
}

int CEncodingRun::Percent(int job) const
{
    for (const CEncodeSlot* slot : JobSlots()) {
        if (slot->JobIndex() == job)
            return slot->Percent();
    }
    return job >= 0 && job < int(m_arrJobs.size()) ? m_arrJobs[job].nPercent : 0;
}

int CEncodingRun::NextJob() const
{
    int first = -1;
    int longest = -1;
    int waiting = 0;
    for (int i = 0; i < int(m_arrJobs.size()); ++i) {
        if (m_arrJobs[i].step != JobStep::Waiting)
            continue;
        ++waiting;
        if (first < 0)
            first = i;
        const StreamFile& movie = m_plan.jobs[i].movie;
        const StreamFile* best = longest < 0 ? nullptr : &m_plan.jobs[longest].movie;
        if (!best || movie.nDuration > best->nDuration ||
            (movie.nDuration == best->nDuration && movie.CountedSize() > best->CountedSize()))
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
    if (m_bRunning && m_strStartFailure.isEmpty() && NextJob() < 0)
        StartPieces();
    if (!m_bRunning || !BusySlots().empty())
        return;
    if (!m_strStartFailure.isEmpty()) {
        m_bRunning = false;
        KillRunTimer();
        EndRun(RunEnd::Way::EncoderNotStarted, m_strStartFailure);
        return;
    }
    // The bars show the state at the end, not the last tick's.
    ReportProgress();
    m_bRunning = false;
    KillRunTimer();
    RunEnd end;
    end.nFinished = m_nFinishedJobs;
    end.nFailed = m_nFailedJobs;
    EndRun(RunEnd::Way::Finished, end.FailedFilesText());
}

void CEncodingRun::SkipJob(int index, const QString& reason)
{
    m_arrJobs[index].step = JobStep::Ended;
    m_tally.AddDone(m_plan.jobs[index].Bytes());
    RunLogJob entry;
    entry.nIndex = index;
    entry.nCount = int(m_plan.jobs.size());
    entry.strInput = m_plan.jobs[index].movie.strFilePath;
    entry.strOutput = m_outputs.Paths()[index];
    entry.strEnd = QStringLiteral("skipped: ") + reason;
    JobEnd end;
    end.state = JobState::Skipped;
    end.strSkipReason = reason;
    emit JobEnded(index, end);
    m_log.WriteJob(entry);
}

void CEncodingRun::StartJob(CEncodeSlot& slot, int index)
{
    const StreamFile& movie = m_plan.jobs[index].movie;
    CRunOutputs::Readied ready = m_outputs.Ready(index);
    if (!ready.failure && !ready.claim) {
        SkipJob(index, COutputClaim::InUseReason(ready.held));
        return;
    }
    const std::optional<CFailureReason>& failure = ready.failure;
    std::unique_ptr<CEncode> encoder = MakeEncode(
        m_plan.profile,
        SetupFor(m_plan, index, ready.claim ? ready.claim->TempPath() : m_outputs.Paths()[index]));
    m_arrJobs[index].step = JobStep::Running;
    if (failure) {
        // No encoder for it; the batch goes on with the next job.
        slot.Assign(index, std::move(encoder), 0, ++m_nStarts);
        EndJob(slot, failure, {});
        return;
    }

    emit JobStarted(index, m_outputs.Paths()[index]);
    slot.Assign(index, std::move(encoder), InputFileSize(movie.strFilePath), ++m_nStarts,
                std::move(ready.claim));
    if (const std::optional<QString> refused = slot.Encoder()->Prepare()) {
        EndJob(slot, CFailureReason::BeforeStart(*refused), {});
        return;
    }
    if (const std::optional<FfmpegCommand::Request> request =
            slot.Encoder()->SegmentRequest(m_plan.segmentLimits)) {
        PlanSegments(slot, *request);
        return;
    }
    StartStep(slot);
}

void CEncodingRun::Advance(CEncodeSlot& slot, CEncode::StepEnd next, const QStringList& lines)
{
    switch (next) {
    case CEncode::StepEnd::NextStep:
        StartStep(slot);
        break;
    case CEncode::StepEnd::Failed:
        FailJob(slot, CFailureReason::BeforeStart(slot.Encoder()->StepFailure(), lines), lines);
        break;
    case CEncode::StepEnd::Check:
        CheckLater(slot);
        break;
    case CEncode::StepEnd::Wait:
    case CEncode::StepEnd::Done:
        break;
    }
}

void CEncodingRun::FailJob(CEncodeSlot& slot, const CFailureReason& failure,
                           const QStringList& lines)
{
    StopPieces(slot);
    EndJob(slot, failure, lines);
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
    m_strStartFailure = QStringLiteral("Unable to start %1").arg(program);
    return false;
}

void CEncodingRun::EndJob(CEncodeSlot& slot, const std::optional<CFailureReason>& failure,
                          const QStringList& lines)
{
    const int index = slot.JobIndex();
    ++(failure ? m_nFailedJobs : m_nFinishedJobs);
    m_tally.AddDone(m_plan.jobs[index].Bytes());
    m_arrJobs[index].nPercent = slot.Percent();
    if (failure)
        m_strLastFailure =
            QStringLiteral("%1 failed: %2").arg(PathFileName(slot.Input()), failure->Summary());
    JobEnd end;
    end.state = failure ? JobState::Failed : JobState::Finished;
    end.failure = failure;
    emit JobEnded(index, end);
    RunLogJob entry = JobLogEntry(slot,
                                  failure ? QStringLiteral("failed: ") + failure->OneLine()
                                          : QStringLiteral("finished"),
                                  failure ? lines : QStringList());
    entry.bOutputRemoved = failure && slot.RemoveEncodersOutput();
    m_log.WriteJob(entry);
    slot.Release();
    m_arrJobs[index].step = JobStep::Ended;
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
    if (slot.Encoder())
        entry.arrNotes = slot.Encoder()->LogNotes();
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
    if (!slot.TakeEnd(exit) || !slot.IsBusy())
        return;

    if (slot.IsHelper()) {
        OnPieceEnded(slot, exit, lines);
        return;
    }
    CEncode& encoder = *slot.Encoder();
    // Before the step's end moves the encode on to its next piece.
    const QString output = encoder.StepOutput();
    if (exit.Succeeded()) {
        const CEncode::StepEnd next = encoder.StepSucceeded(FileBytes(output));
        if (next != CEncode::StepEnd::Done) {
            Advance(slot, next, lines);
            ScheduleJobs();
            return;
        }
    }
    // The encoder can exit 0 without having written a movie (an input it could
    // not demultiplex, for one), or with only part of one (a full disk, an
    // input that ends early): that job failed too. A whole movie takes the
    // output's name.
    std::optional<CFailureReason> failure = CFailureReason::ForEnd(
        exit, OutputState(output), lines, Backends::Of(m_plan.profile.backend).causes);
    if (!failure)
        failure = m_outputs.Check(slot, lines);
    if (!failure)
        failure = m_outputs.Publish(slot);
    if (!failure)
        encoder.Published();
    // The encoder does not always say so when its writes fail for want of
    // space: it leaves an empty or short file, or none.
    if (failure && failure->Cause().isEmpty() &&
        COutputCheck::DiskFull(QFileInfo(output).absolutePath()))
        failure->SetCause(QString::fromLatin1(CFailureReason::DiskFullCause));
    if (failure)
        FailJob(slot, *failure, lines);
    else
        EndJob(slot, failure, lines);
    ScheduleJobs();
}

void CEncodingRun::EndRun(RunEnd::Way way, const QString& logEnd)
{
    RunEnd end;
    end.way = way;
    end.nFinished = m_nFinishedJobs;
    end.nFailed = m_nFailedJobs;
    if (way == RunEnd::Way::EncoderNotStarted)
        end.strWhy = m_strStartFailure;
    end.strLastFailure = m_strLastFailure;
    if (!logEnd.isEmpty())
        m_log.End(QStringLiteral("Run ended %1: %2").arg(NowText(), logEnd));
    emit RunEnded(end);
}

void CEncodingRun::Stop()
{
    Stop(false);
}

void CEncodingRun::StopForQuit()
{
    // The outputs a Stop left waiting go as a quit's do; the question about
    // them, still open, settles them after.
    for (const auto& claim : m_incompleteClaims)
        claim->Release();
    Stop(true);
}

void CEncodingRun::Stop(bool quitting)
{
    // Only files that encoders of this run were still writing are incomplete.
    const std::vector<CEncodeSlot*> stopped = m_bRunning ? JobSlots() : std::vector<CEncodeSlot*>();
    const bool wasRunning = m_bRunning;
    m_bRunning = false;
    m_bStoppedByUser = true;
    // Every encoder is asked to end before any is waited for, so that all of
    // them finalise their files (on SIGTERM) in the same grace.
    for (const auto& slot : m_slots)
        slot->RequestStop();
    for (const auto& slot : m_slots) {
        slot->Close();
        // The pieces beside a job end with it; what they finished is kept.
        if (slot->IsBusy() && slot->IsHelper())
            slot->Release();
    }
    KillRunTimer();
    if (!wasRunning)
        return;

    // Taken now, and the slots freed: the stopped encoders' ends, which arrive
    // while a question about their outputs waits for the user, are not taken
    // for jobs'.
    const QString end = quitting ? QStringLiteral("stopped: Clipvane was asked to quit")
                                 : QStringLiteral("stopped by the user");
    m_bStoppedForQuit = quitting;
    m_stoppedEntries.clear();
    m_incompleteClaims.clear();
    m_arrIncomplete.clear();
    for (CEncodeSlot* slot : stopped) {
        const int index = slot->JobIndex();
        m_stoppedEntries.push_back(JobLogEntry(*slot, end, {}));
        if (quitting) {
            m_stoppedEntries.back().bOutputRemoved = slot->RemoveEncodersOutput();
        } else if (slot->Claim() && FileBytes(slot->EncoderOutput()) > 0) {
            // Named as the user knows the output.
            m_arrIncomplete << slot->Output();
            m_incompleteClaims.push_back(slot->TakeClaim());
        }
        slot->Release();
        m_arrJobs[index].step = JobStep::Ended;
        m_arrJobs[index].nPercent = 0;
        JobEnd stoppedEnd;
        stoppedEnd.state = JobState::Stopped;
        emit JobEnded(index, stoppedEnd);
    }
    emit RunProgress(m_tally.ReadStopped(m_plan.TotalBytes(), Now()));

    const bool waits = !m_arrIncomplete.isEmpty();
    if (!waits)
        SettleIncompleteOutputs(true);
    EndRun(quitting ? RunEnd::Way::StoppedForQuit : RunEnd::Way::Stopped, QString());
}

void CEncodingRun::SettleIncompleteOutputs(bool remove)
{
    // Kept, each stays under its output's name. A quit while the question was
    // open deleted them already.
    for (const auto& claim : m_incompleteClaims) {
        QString error;
        const bool removed = remove ? claim->Release() : !claim->Publish(&error);
        for (RunLogJob& entry : m_stoppedEntries) {
            if (entry.strOutput == claim->Path())
                entry.bOutputRemoved = removed || !QFileInfo::exists(entry.strOutput);
        }
    }
    m_incompleteClaims.clear();
    m_arrIncomplete.clear();
    for (const RunLogJob& entry : std::exchange(m_stoppedEntries, {}))
        m_log.WriteJob(entry);
    m_log.End(m_bStoppedForQuit
                  ? QStringLiteral("Run stopped %1: Clipvane was asked to quit.").arg(NowText())
                  : QStringLiteral("Run stopped by the user %1.").arg(NowText()));
}

void CEncodingRun::ReportProgress()
{
    const std::uint64_t totalBytes = m_plan.TotalBytes();
    if (!m_bRunning || totalBytes == 0)
        return;
    // Each running job counts with its bytes times its percentage.
    std::uint64_t runningBytes = 0;
    for (CEncodeSlot* slot : JobSlots()) {
        const int percent = std::clamp(slot->Percent(), 0, 100);
        runningBytes += slot->Bytes() * static_cast<std::uint64_t>(percent) / 100;
        RunJob& job = m_arrJobs[slot->JobIndex()];
        if (percent != job.nReportedPercent) {
            job.nReportedPercent = percent;
            emit JobProgress(slot->JobIndex(), percent);
        }
    }
    emit RunProgress(m_tally.Read(runningBytes, totalBytes, Now()));
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
        ReportProgress();
    else
        QObject::timerEvent(event);
}
