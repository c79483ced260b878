#include "RunPlan.h"

#include "engine/OutputNamer.h"
#include "engine/StoredSettings.h"

#include <algorithm>

namespace {

// "Automatic" for the ffmpeg presets on the core counts bench/arrange.sh has
// measured (bench/README.md has the figures). On 2 cores, two encodes at once
// with ffmpeg's own thread count: as fast as two with one thread each for a
// batch of four 1080p movies ("Phone and Tablet", 2 % apart either way, within
// the noise), 9 % faster for a batch of three, whose last movie encodes alone
// on both cores instead of one; and 2 to 10 % ahead of one at a time, whose
// serial parts (decoding, scaling, sound) leave a core idle.
struct MeasuredArrangement
{
    int cores;
    RunPlan::Arrangement fastest;
};
constexpr MeasuredArrangement Measured[] = {
    {2, {2, 0}},
};

} // namespace

RunPlan RunPlan::FromSettings(const StoredSettings& settings, bool sampling)
{
    RunPlan plan;
    plan.profile = settings.Profile();
    plan.strOutputDir = settings.strOutputDir;
    plan.strPrefix = settings.strPrefix;
    plan.nCores = StoredSettings::CoreCount();
    const Arrangement arrangement = Arrange(plan.profile, settings, plan.nCores);
    plan.nEncodesAtOnce = arrangement.nEncodesAtOnce;
    plan.nThreadsPerEncoder = arrangement.nThreadsPerEncoder;
    plan.bSampling = sampling;
    plan.bBurnSubtitle = settings.bBurnSubtitle;
    plan.bShutdown = settings.bShutdown;
    return plan;
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
    const bool ffmpeg = profile.backend == EncodeProfile::Backend::Ffmpeg;
    if (ffmpeg && settings.nParallel == 0) {
        for (const MeasuredArrangement& measured : Measured) {
            if (measured.cores == cores)
                return measured.fastest;
        }
    }
    Arrangement arrangement;
    arrangement.nEncodesAtOnce = settings.nParallel == 0
                                     ? std::min(cores, StoredSettings::MaxParallel)
                                     : settings.EncodesAtOnce();
    // mencoder's encoders take no thread count.
    if (ffmpeg && arrangement.nEncodesAtOnce > 1)
        arrangement.nThreadsPerEncoder = std::max(1, cores / arrangement.nEncodesAtOnce);
    return arrangement;
}

QStringList RunPlan::OutputPaths() const
{
    return OutputNamer::PathsFor(strOutputDir, strPrefix, profile.Extension(), jobs,
                                 overwrite == Overwrite::Rename);
}
