#pragma once

#include "engine/EncodeProfile.h"
#include "jobs/StreamFile.h"

#include <vector>

#include <QString>
#include <QStringList>

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
    // The machine's cores, which the encodes share.
    int nCores = 1;
    bool bSampling = false;
    // Draw the subtitle beside a movie into its picture.
    bool bBurnSubtitle = true;
    // Shut the computer down after the run.
    bool bShutdown = false;
    // An output that exists already is kept: the job writes the next free
    // " (2)" name instead (the batch command's default). Otherwise the run asks
    // once before it overwrites such outputs.
    bool bKeepExisting = false;
    // The list's jobs in list order, filled when the run starts.
    std::vector<StreamFile> jobs;

    // The threads each encoder gets, so that the encodes together fill the
    // cores without crowding them; 0 leaves the choice to the encoder.
    int ThreadsPerEncoder() const;

    // The output path of each job, in job order (OutputNamer::PathsFor): what
    // the run writes, so that a front end can tell beforehand.
    QStringList OutputPaths() const;

    // The plan the stored settings make (without jobs).
    static RunPlan FromSettings(const StoredSettings& settings, bool sampling);
};
