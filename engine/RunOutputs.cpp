#include "RunOutputs.h"

#include "engine/Backends.h"
#include "engine/EncodeSlot.h"
#include "engine/OutputCheck.h"
#include "engine/OutputNamer.h"
#include "engine/StartChecks.h"
#include "jobs/MediaProbe.h"

#include <QDir>
#include <QFileInfo>

void CRunOutputs::Start(const RunPlan& plan)
{
    m_plan = &plan;
    m_arrPaths.clear();
    m_names.clear();
    for (const RunPlan::Job& job : plan.jobs) {
        m_arrPaths << job.strOutput;
        m_names.insert(OutputNamer::PathKey(job.strOutput));
        m_names.insert(OutputNamer::PathKey(job.movie.strFilePath));
    }
}

CRunOutputs::Readied CRunOutputs::Ready(int job)
{
    Readied ready;
    const QString& output = m_arrPaths[job];
    if (const std::optional<QString> problem =
            StartChecks::MovieProblem(m_plan->jobs[job].movie.strFilePath)) {
        ready.failure = CFailureReason::BeforeStart(*problem);
        return ready;
    }
    // The disk may have become read-only or full since the run started. The
    // subfolder of a movie added through a folder is made now, inside an output
    // folder that is still there.
    const QString folder = QFileInfo(output).absolutePath();
    const QString root = QFileInfo(m_plan->strOutputDir).absoluteFilePath();
    const bool subfolder =
        QDir::cleanPath(folder) != QDir::cleanPath(root) && QFileInfo(root).isDir();
    if (const std::optional<QString> error = StartChecks::FolderWriteError(folder, subfolder)) {
        ready.failure =
            CFailureReason::BeforeStart(StartChecks::FolderNotWritable(folder), {*error});
        return ready;
    }
    // The output's name is this job's alone before its encoder starts.
    COutputClaim::Attempt attempt = Claim(job, false);
    if (!attempt.strError.isEmpty()) {
        ready.failure =
            CFailureReason::BeforeStart(StartChecks::FolderNotWritable(folder), {attempt.strError});
    } else if (attempt.claim) {
        Took(job, *attempt.claim);
        ready.claim = std::move(attempt.claim);
    }
    ready.held = attempt.held;
    return ready;
}

COutputClaim::Attempt CRunOutputs::Claim(int job, bool free)
{
    const RunPlan::Job& planned = m_plan->jobs[job];
    const RunPlan::Overwrite overwrite = m_plan->overwrite;
    if (!free) {
        const bool replace = overwrite == RunPlan::Overwrite::Replace ||
                             (overwrite == RunPlan::Overwrite::Ask && planned.bReplace);
        COutputClaim::Attempt attempt = COutputClaim::Take(m_arrPaths[job], replace);
        if (attempt.claim || !attempt.strError.isEmpty() || overwrite == RunPlan::Overwrite::Skip ||
            overwrite == RunPlan::Overwrite::Replace)
            return attempt;
    }
    return COutputClaim::TakeFree(
        [&](int copy) {
            return OutputNamer::PathFor(m_plan->strOutputDir, m_plan->strPrefix,
                                        m_plan->profile.Extension(), planned.movie, copy);
        },
        [&](const QString& path) { return m_names.contains(OutputNamer::PathKey(path)); });
}

void CRunOutputs::Took(int job, const COutputClaim& claim)
{
    m_arrPaths[job] = claim.Path();
    m_names.insert(OutputNamer::PathKey(claim.Path()));
}

std::optional<CFailureReason> CRunOutputs::Check(const CEncodeSlot& slot,
                                                 const QStringList& lines) const
{
    const QString& output = slot.EncoderOutput();
    const StreamFile& movie = m_plan->jobs[slot.JobIndex()].movie;
    const std::uint64_t bytes = QFileInfo(output).isFile() ? QFileInfo(output).size() : 0;
    const std::uint64_t budget = slot.Encoder()->SizeBudget();
    if (budget > 0 && bytes > budget)
        return CFailureReason::OverBudget(bytes, budget, lines);
    // The movie's length to the frame, probed now: 2 to 20 ms on the UI thread
    // for the inputs of bench/lengths.sh, once per job.
    const double input = COutputCheck::InputSeconds(movie, ProbeMovieTiming(movie.strFilePath));
    const std::optional<QString> problem = COutputCheck::Problem(
        ProbeMovieContent(output), COutputCheck::ExpectedSeconds(input, m_plan->bSampling),
        m_plan->bSampling);
    if (!problem)
        return std::nullopt;
    // A disk that is full now is found for every failure (CEncodingRun::OnSlotEnded).
    return CFailureReason::ForIncompleteOutput(*problem, CFailureReason::SaysDiskFull(lines), lines,
                                               Backends::Of(m_plan->profile.backend).causes);
}

std::optional<CFailureReason> CRunOutputs::Publish(CEncodeSlot& slot)
{
    QString error;
    if (slot.Claim()->Publish(&error))
        return std::nullopt;
    // Another process took the name meanwhile (one that replaced it at the
    // same moment): the movie goes under the next free name.
    const int job = slot.JobIndex();
    COutputClaim::Attempt next = Claim(job, true);
    if (next.claim && next.claim->Publish(&error, slot.EncoderOutput())) {
        Took(job, *next.claim);
        slot.SetClaim(std::move(next.claim));
        return std::nullopt;
    }
    return CFailureReason::BeforeStart(
        QStringLiteral("The finished movie could not be given its name: %1").arg(slot.Output()),
        {next.strError.isEmpty() ? error : next.strError});
}
