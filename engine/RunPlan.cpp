#include "RunPlan.h"

#include "engine/OutputClaim.h"
#include "engine/OutputNamer.h"
#include "engine/StartChecks.h"
#include "engine/StoredSettings.h"

#include <algorithm>

#include <QFileInfo>
#include <QSet>

RunPlan RunPlan::FromSettings(const StoredSettings& settings, bool sampling)
{
    RunPlan plan;
    plan.profile = settings.Profile();
    plan.strOutputDir = settings.strOutputDir;
    plan.strPrefix = settings.strPrefix;
    plan.tools = Backends::InstalledTools();
    plan.nCores = StoredSettings::CoreCount();
    const Arrangement arrangement = Arrange(plan.profile, settings, plan.nCores);
    plan.nEncodesAtOnce = arrangement.nEncodesAtOnce;
    plan.nThreadsPerEncoder = arrangement.nThreadsPerEncoder;
    plan.bSampling = sampling;
    plan.bBurnSubtitle = settings.bBurnSubtitle;
    plan.bShutdown = settings.bShutdown;
    return plan;
}

EncoderTool RunPlan::Encoder() const
{
    const auto it = tools.find(profile.backend);
    return it == tools.end() ? EncoderTool() : it->second;
}

std::uint64_t RunPlan::TotalBytes() const
{
    std::uint64_t total = 0;
    for (const Job& job : jobs)
        total += job.Bytes();
    return total;
}

int RunPlan::ThreadsPerEncoder() const
{
    const int encodes = static_cast<int>(std::min<std::size_t>(nEncodesAtOnce, jobs.size()));
    if (nThreadsPerEncoder == 0 || encodes >= nEncodesAtOnce)
        return nThreadsPerEncoder;
    return encodes <= 1 ? 0 : std::max(1, nCores / encodes);
}

RunPlan::Arrangement RunPlan::Arrange(const EncodeProfile& profile, const StoredSettings& settings,
                                      int cores)
{
    const BackendInfo& backend = Backends::Of(profile.backend);
    if (settings.nParallel == 0) {
        for (const MeasuredArrangement& measured : backend.measured) {
            if (measured.nCores == cores)
                return {measured.nEncodesAtOnce, measured.nThreadsPerEncoder};
        }
    }
    Arrangement arrangement;
    arrangement.nEncodesAtOnce = settings.nParallel == 0
                                     ? std::min(cores, StoredSettings::MaxParallel)
                                     : settings.EncodesAtOnce();
    if (backend.bTakesThreads && arrangement.nEncodesAtOnce > 1)
        arrangement.nThreadsPerEncoder = std::max(1, cores / arrangement.nEncodesAtOnce);
    return arrangement;
}

std::optional<QString> RunPlan::OutputFolderProblem() const
{
    if (const std::optional<QString> error = StartChecks::FolderWriteError(strOutputDir, true))
        return StartChecks::FolderNotWritable(strOutputDir) + QLatin1Char('\n') + *error;
    return std::nullopt;
}

void RunPlan::SetJobs(const std::vector<StreamFile>& movies, const std::vector<bool>& skipped)
{
    const QString extension = profile.Extension();
    QStringList folders;
    for (const StreamFile& movie : movies)
        folders << OutputNamer::PathFor(strOutputDir, strPrefix, extension, movie);
    COutputClaim::RemoveLeftoversFor(folders);
    NameJobs(movies, skipped);
}

void RunPlan::NameJobs(const std::vector<StreamFile>& movies, const std::vector<bool>& skipped)
{
    const QString extension = profile.Extension();
    const QStringList outputs = OutputNamer::PathsFor(strOutputDir, strPrefix, extension, movies,
                                                      overwrite == Overwrite::Rename);
    jobs.clear();
    for (std::size_t i = 0; i < movies.size(); ++i) {
        Job job;
        job.movie = movies[i];
        job.strOutput = outputs[int(i)];
        job.bSkipped = i < skipped.size() && skipped[i];
        jobs.push_back(std::move(job));
    }
}

QStringList RunPlan::ExistingOutputs() const
{
    QStringList existing;
    for (const Job& job : jobs) {
        if (!job.bSkipped && COutputClaim::Inspect(job.strOutput) == COutputClaim::Found::Movie)
            existing << job.strOutput;
    }
    return existing;
}

void RunPlan::ReplaceExisting(const QStringList& outputs)
{
    QSet<QString> keys;
    for (const QString& output : outputs)
        keys.insert(OutputNamer::PathKey(output));
    for (Job& job : jobs)
        job.bReplace = keys.contains(OutputNamer::PathKey(job.strOutput));
}
