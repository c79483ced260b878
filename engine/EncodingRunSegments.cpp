#include "EncodingRun.h"
#include "engine/SegmentWork.h"
#include "shell/AppFolder.h"

#include <QFileInfo>

// The run's segmented jobs: their plans and the pieces' checks on the run's
// worker thread, the rows' resume findings, and the pieces that free slots run
// beside their job.

// The share of a job's movie that the finished segments in its work folder
// hold, with the plan's settings; 0 when there are none. Reads files only: the
// movie, its subtitle and the work folder (CSegmentWork::StoredResumePercent).
int CEncodingRun::StoredResumePercent(const RunPlan& plan, int job, const QString& stateDir)
{
    const QString folder = CSegmentWork::FolderFor(stateDir, plan.jobs[job].movie.strFilePath,
                                                   plan.jobs[job].strOutput);
    if (!QFileInfo(folder).isDir())
        return 0;
    const std::unique_ptr<CEncode> encode =
        MakeEncode(plan.profile, SetupFor(plan, job, plan.jobs[job].strOutput));
    if (encode->Prepare())
        return 0;
    const std::optional<FfmpegCommand::Request> request =
        encode->SegmentRequest(plan.segmentLimits);
    if (!request)
        return 0;
    const SegmentPlan segments = PlanMovieSegments(*request, plan.segmentLimits);
    return segments.IsSegmented() ? CSegmentWork(folder, *request, segments).StoredResumePercent()
                                  : 0;
}

void CEncodingRun::FindResumes(const RunPlan& plan)
{
    const std::uint64_t serial = ++m_nResumeSerial;
    const QString stateDir = GetStateDir();
    for (int i = 0; i < int(plan.jobs.size()); ++i) {
        const RunPlan::Job& job = plan.jobs[i];
        // Only a folder that is there is worth the probes.
        if (job.bSkipped ||
            !QFileInfo(CSegmentWork::FolderFor(stateDir, job.movie.strFilePath, job.strOutput))
                 .isDir())
            continue;
        RunLater(
            [this, plan, i, serial, stateDir, movie = job.movie.strFilePath] {
                const int percent = StoredResumePercent(plan, i, stateDir);
                if (percent <= 0)
                    return;
                {
                    std::lock_guard lock(m_completionMutex);
                    m_resumes.push_back({serial, i, movie, percent});
                }
                QMetaObject::invokeMethod(this, "ProcessResumes", Qt::QueuedConnection);
            },
            false);
    }
}

void CEncodingRun::RunLater(std::function<void()> task, bool first)
{
    {
        std::lock_guard lock(m_taskMutex);
        if (first)
            m_tasks.push_front(std::move(task));
        else
            m_tasks.push_back(std::move(task));
    }
    m_taskReady.notify_one();
    if (!m_worker.joinable())
        m_worker = std::thread([this] { WorkerLoop(); });
}

void CEncodingRun::WorkerLoop()
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_taskMutex);
            m_taskReady.wait(lock, [this] { return m_bEndWorker || !m_tasks.empty(); });
            if (m_bEndWorker)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

void CEncodingRun::ProcessResumes()
{
    for (;;) {
        Resume resume;
        {
            std::lock_guard lock(m_completionMutex);
            if (m_resumes.empty())
                return;
            resume = m_resumes.front();
            m_resumes.pop_front();
        }
        // A run's own finding counts while its job waits; another while no run
        // runs.
        const bool waits = m_bRunning && resume.nJob < int(m_arrJobs.size()) &&
                           m_arrJobs[resume.nJob].step == JobStep::Waiting;
        if (resume.nSerial == m_nResumeSerial && (waits || !m_bRunning))
            emit JobResumes(resume.nJob, resume.strMovie, resume.nPercent);
    }
}

void CEncodingRun::PlanSegments(CEncodeSlot& slot, const FfmpegCommand::Request& request)
{
    // The slot stays busy with the job, without a child, until the plan comes.
    RunLater(
        [this, request, slot = slot.Index(), order = slot.Order(), limits = m_plan.segmentLimits] {
            SegmentPlan plan = PlanMovieSegments(request, limits);
            {
                std::lock_guard lock(m_completionMutex);
                m_planned.push_back({slot, order, std::move(plan)});
            }
            QMetaObject::invokeMethod(this, "ProcessPlans", Qt::QueuedConnection);
        },
        true);
}

void CEncodingRun::ProcessPlans()
{
    for (;;) {
        Planned planned;
        {
            std::lock_guard lock(m_completionMutex);
            if (m_planned.empty())
                return;
            planned = std::move(m_planned.front());
            m_planned.pop_front();
        }
        // The job may have been stopped meanwhile, and its slot given another.
        CEncodeSlot& slot = *m_slots[planned.nSlot];
        if (!m_bRunning || !slot.IsBusy() || slot.Order() != planned.nOrder)
            continue;
        const int index = slot.JobIndex();
        const QString folder = CSegmentWork::FolderFor(
            m_strStateDir, m_plan.jobs[index].movie.strFilePath, m_plan.jobs[index].strOutput);
        CEncode::StepEnd next = CEncode::StepEnd::NextStep;
        if (const std::optional<QString> problem =
                slot.Encoder()->UseSegments(planned.plan, folder, m_plan.SegmentThreads(), &next))
            EndJob(slot, CFailureReason::BeforeStart(*problem), {});
        else
            Advance(slot, next, {});
        ScheduleJobs();
    }
}

void CEncodingRun::CheckLater(CEncodeSlot& slot)
{
    // The slot stays busy with the job, without a child, until the work is done.
    RunLater(
        [this, work = slot.Encoder()->BackgroundWork(), slot = slot.Index(), order = slot.Order()] {
            if (work)
                work();
            {
                std::lock_guard lock(m_completionMutex);
                m_checked.push_back({slot, order});
            }
            QMetaObject::invokeMethod(this, "ProcessChecks", Qt::QueuedConnection);
        },
        true);
}

void CEncodingRun::ProcessChecks()
{
    for (;;) {
        std::pair<int, std::uint64_t> checked;
        {
            std::lock_guard lock(m_completionMutex);
            if (m_checked.empty())
                return;
            checked = m_checked.front();
            m_checked.pop_front();
        }
        CEncodeSlot& slot = *m_slots[checked.first];
        if (!m_bRunning || !slot.IsBusy() || slot.Order() != checked.second)
            continue;
        Advance(slot, slot.Encoder()->Checked(), {});
        ScheduleJobs();
    }
}

void CEncodingRun::StartPieces()
{
    while (CEncodeSlot* free = FreeSlot()) {
        CEncodeSlot* owner = nullptr;
        std::unique_ptr<CEncode> piece;
        for (CEncodeSlot* slot : JobSlots()) {
            piece = slot->Encoder()->TakePiece();
            if (piece) {
                owner = slot;
                break;
            }
        }
        if (!owner)
            return;
        owner->NoteCommandLine(piece->CommandLine());
        free->Assign(owner->JobIndex(), std::move(piece), 0, ++m_nStarts);
        free->SetHelping(owner->Index());
        if (!free->Start(false)) {
            const QString program = free->Encoder()->GetSetup().strProgram;
            const CFailureReason failure = CFailureReason::NotStarted(program, free->StartError());
            free->Release();
            FailJob(*owner, failure, failure.EncoderLines());
            m_strStartFailure = QStringLiteral("Unable to start %1").arg(program);
            return;
        }
    }
}

void CEncodingRun::StopPieces(const CEncodeSlot& owner)
{
    std::vector<CEncodeSlot*> pieces;
    for (const auto& slot : m_slots) {
        if (slot->IsBusy() && slot->IsHelper() && slot->HelpedSlot() == owner.Index())
            pieces.push_back(slot.get());
    }
    if (pieces.empty())
        return;
    for (CEncodeSlot* slot : pieces)
        slot->RequestStop();
    for (CEncodeSlot* slot : pieces) {
        slot->Close();
        slot->Release();
    }
}

void CEncodingRun::OnPieceEnded(CEncodeSlot& slot, const ChildExit& exit, const QStringList& lines)
{
    CEncodeSlot& owner = *m_slots[slot.HelpedSlot()];
    CEncode& piece = *slot.Encoder();
    const QString output = piece.StepOutput();
    std::optional<CFailureReason> failure;
    if (!exit.Succeeded())
        failure = CFailureReason::ForEnd(exit, OutputState(output), lines,
                                         Backends::Of(m_plan.profile.backend).causes);
    else if (piece.StepSucceeded(FileBytes(output)) == CEncode::StepEnd::Failed)
        failure = CFailureReason::BeforeStart(piece.StepFailure(), lines);
    slot.Release();
    if (!owner.IsBusy() || owner.JobIndex() != slot.JobIndex()) {
        ScheduleJobs();
        return;
    }
    if (failure) {
        // The job's own piece, if one runs, is not waited for either.
        owner.RequestStop();
        owner.Close();
        FailJob(owner, *failure, lines);
    } else {
        // The job's own slot may have waited for this piece.
        Advance(owner, owner.Encoder()->Continue(), {});
    }
    ScheduleJobs();
}
