#include "RunPlan.h"

#include "engine/StoredSettings.h"
#include "shell/SettingsStore.h"

#include <algorithm>

RunPlan RunPlan::FromSettings(const StoredSettings& settings, bool sampling)
{
    RunPlan plan;
    plan.profile = settings.Profile();
    plan.strOutputDir = GetMovieDir();
    plan.strPrefix = GetPrefix();
    plan.nCores = StoredSettings::CoreCount();
    const Arrangement arrangement = Arrange(plan.profile, settings, plan.nCores);
    plan.nEncodesAtOnce = arrangement.nEncodesAtOnce;
    plan.nThreadsPerEncoder = arrangement.nThreadsPerEncoder;
    plan.bSampling = sampling;
    plan.bBurnSubtitle = settings.bMixSubtitle;
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
    // Automatic: one encode per core. For the ffmpeg presets bench/arrange.sh
    // measured it on 2 cores (four 1080p movies with "Phone and Tablet"): the
    // fastest of 1, 2 and 4 at once, each with the cores divided or ffmpeg's own
    // threads, and 5 % ahead of one at a time, whose serial parts (decoding,
    // scaling, sound) leave a core idle. Core counts not measured keep the rule.
    Arrangement arrangement;
    arrangement.nEncodesAtOnce = settings.nParallel == 0
                                     ? std::min(cores, StoredSettings::MaxParallel)
                                     : settings.EncodesAtOnce();
    // mencoder's encoders take no thread count.
    if (profile.backend == EncodeProfile::Backend::Ffmpeg && arrangement.nEncodesAtOnce > 1)
        arrangement.nThreadsPerEncoder = std::max(1, cores / arrangement.nEncodesAtOnce);
    return arrangement;
}
