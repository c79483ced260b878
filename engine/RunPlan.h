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
    // The threads each encoder is given while nEncodesAtOnce run; 0 leaves the
    // count to the encoder (mencoder's encoders take none).
    int nThreadsPerEncoder = 0;
    // The machine's cores, which the encodes share.
    int nCores = 1;
    bool bSampling = false;
    // Draw the subtitle beside a movie into its picture.
    bool bBurnSubtitle = true;
    // Shut the computer down after the run.
    bool bShutdown = false;
    // What a job does when its output's name is in use as it starts: taken by
    // a finished file, or claimed by another process (COutputClaim).
    enum class Overwrite
    {
        // The window's: one question before the run about the finished files,
        // which are then replaced; a name that another process holds, or a file
        // that appeared since, gets the next free " (2)" name.
        Ask,
        // The next free " (2)" name (the batch command's default).
        Rename,
        // The job is left out ("Skipped").
        Skip,
        // A finished file is replaced once the new movie is whole; a name that
        // another process is writing is left to it, and the job is left out.
        Replace
    };
    Overwrite overwrite = Overwrite::Ask;
    // The list's jobs in list order, filled when the run starts.
    std::vector<StreamFile> jobs;

    // The threads each encoder of the run is given: nThreadsPerEncoder, except
    // that a batch of fewer jobs than nEncodesAtOnce shares the cores among the
    // jobs it has, and a job that runs alone keeps the encoder's own count (which
    // fills the cores): one movie must not get a core's share of the machine.
    int ThreadsPerEncoder() const;

    // The output path of each job, in job order (OutputNamer::PathsFor), with
    // Rename around the files that exist: what the run means to write, so that
    // a front end can tell beforehand. A job whose name is taken when it starts
    // may write another (COutputClaim).
    QStringList OutputPaths() const;

    // How a run shares the machine's cores between its encodes.
    struct Arrangement
    {
        int nEncodesAtOnce = 1;
        int nThreadsPerEncoder = 0;
    };
    // The arrangement for the stored "Parallel" (settings.nParallel) with the
    // profile on a machine of that many cores: that many encodes at once, or
    // for "Automatic" (0) one per core (at most MaxParallel). Several ffmpeg
    // encodes get cores / encodes threads each (at least 1), so that together
    // they fill the cores without crowding them; one at a time keeps the
    // encoder's own count. "Automatic" for ffmpeg on a core count that
    // bench/arrange.sh has measured takes the arrangement measured fastest.
    static Arrangement Arrange(const EncodeProfile& profile, const StoredSettings& settings,
                               int cores);

    // The plan the stored settings make (without jobs).
    static RunPlan FromSettings(const StoredSettings& settings, bool sampling);
};
