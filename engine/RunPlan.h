#pragma once

#include "engine/EncodeProfile.h"
#include "jobs/StreamFile.h"

#include <vector>

#include <QString>

struct StoredSettings;

// Everything a run does, taken when Make or Sampling is pressed: the profile,
// where the outputs go and how they are named, how many encodes run at once,
// the switches, and the jobs. The run reads nothing else (no stored setting, no
// global), so changing the options during a run affects the next run only.
struct RunPlan
{
    // The output file made with the profile; with bEvenLoudness as the options
    // switch says for the profiles that even it.
    EncodeProfile profile;
    QString strOutputDir;
    QString strPrefix;
    int nEncodesAtOnce = 1;
    // The threads each encoder is given; 0 leaves the count to the encoder
    // (mencoder's encoders take none).
    int nThreadsPerEncoder = 0;
    bool bSampling = false;
    // Draw the subtitle beside a movie into its picture.
    bool bBurnSubtitle = true;
    // Shut the computer down after the run.
    bool bShutdown = false;
    // The list's jobs in list order, filled when the run starts.
    std::vector<StreamFile> jobs;

    // How a run shares the machine's cores between its encodes.
    struct Arrangement
    {
        int nEncodesAtOnce = 1;
        int nThreadsPerEncoder = 0;
    };
    // The arrangement for the stored "Parallel" (settings.nParallel) with the
    // profile on a machine of that many cores.
    static Arrangement Arrange(const EncodeProfile& profile, const StoredSettings& settings,
                               int cores);

    // The plan the stored settings make (without jobs).
    static RunPlan FromSettings(const StoredSettings& settings, bool sampling);
};
