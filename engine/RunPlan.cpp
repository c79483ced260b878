#include "RunPlan.h"

#include "engine/OutputNamer.h"
#include "engine/StoredSettings.h"
#include "shell/SettingsStore.h"

#include <algorithm>

RunPlan RunPlan::FromSettings(const StoredSettings& settings, bool sampling)
{
    RunPlan plan;
    plan.profile = settings.Profile();
    plan.strOutputDir = GetMovieDir();
    plan.strPrefix = GetPrefix();
    plan.nEncodesAtOnce = settings.EncodesAtOnce();
    plan.nCores = StoredSettings::CoreCount();
    plan.bSampling = sampling;
    plan.bBurnSubtitle = settings.bMixSubtitle;
    plan.bShutdown = settings.bShutdown;
    return plan;
}

int RunPlan::ThreadsPerEncoder() const
{
    // mencoder's encoders take no thread count.
    if (profile.backend != EncodeProfile::Backend::Ffmpeg || nEncodesAtOnce <= 1)
        return 0;
    return std::max(1, nCores / nEncodesAtOnce);
}

QStringList RunPlan::OutputPaths() const
{
    return OutputNamer::PathsFor(strOutputDir, strPrefix, profile.Extension(), jobs, bKeepExisting);
}
