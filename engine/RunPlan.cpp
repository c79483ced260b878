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
    const Arrangement arrangement = Arrange(plan.profile, settings, StoredSettings::CoreCount());
    plan.nEncodesAtOnce = arrangement.nEncodesAtOnce;
    plan.nThreadsPerEncoder = arrangement.nThreadsPerEncoder;
    plan.bSampling = sampling;
    plan.bBurnSubtitle = settings.bMixSubtitle;
    plan.bShutdown = settings.bShutdown;
    return plan;
}

RunPlan::Arrangement RunPlan::Arrange(const EncodeProfile& profile, const StoredSettings& settings,
                                      int cores)
{
    Arrangement arrangement;
    arrangement.nEncodesAtOnce = settings.EncodesAtOnce();
    // mencoder's encoders take no thread count.
    if (profile.backend == EncodeProfile::Backend::Ffmpeg && arrangement.nEncodesAtOnce > 1)
        arrangement.nThreadsPerEncoder = std::max(1, cores / arrangement.nEncodesAtOnce);
    return arrangement;
}
