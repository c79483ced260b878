#pragma once

#include "engine/Backends.h"
#include "engine/EncodeProfile.h"
#include "engine/SegmentPlan.h"
#include "jobs/StreamFile.h"
#include "subtitles/SubtitleCharset.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

struct StoredSettings;

// Everything a run does, taken when Make or Sampling is pressed (or by
// clipvane-batch): the profile, where the outputs go and how they are named,
// the encoder programs, how many encodes run at once, the switches, and the
// jobs with their outputs. The run reads nothing else (no stored setting, no
// form, no global), so changing the options or the list during a run affects
// the next run only.
struct RunPlan
{
    // A job of the run.
    struct Job
    {
        StreamFile movie;
        // Where its movie goes, named once when the plan takes its jobs
        // (SetJobs). A job whose name is taken when it starts may write
        // another (COutputClaim).
        QString strOutput;
        // Left out: a row whose movie is missing, or a batch's movie whose
        // output is in use. Its bytes count as done.
        bool bSkipped = false;
        // The finished file under strOutput may be replaced: the person agreed
        // (Overwrite::Ask, ReplaceExisting).
        bool bReplace = false;

        // The bytes the run counts for it: the movie's size as the list knows
        // it (StreamFile::CountedSize).
        std::uint64_t Bytes() const { return movie.CountedSize(); }
    };

    // The output file made with the profile; with bEvenLoudness as the options
    // switch says for the profiles that even it.
    EncodeProfile profile;
    QString strOutputDir;
    QString strPrefix;
    // Each back end's program and image name (Backends::InstalledTools).
    EncoderTools tools;
    int nEncodesAtOnce = 1;
    // The threads each encoder is given while nEncodesAtOnce run; 0 leaves the
    // count to the encoder (a back end that takes none always has 0).
    int nThreadsPerEncoder = 0;
    // The machine's cores, which the encodes share.
    int nCores = 1;
    // Each movie is encoded for its first SampleSeconds.
    bool bSampling = false;
    // Draw the subtitle beside a movie into its picture.
    bool bBurnSubtitle = true;
    // The code page of subtitles that are not Unicode; 0 has it detected.
    int nSubtitleCodePage = SubtitleCodePage;
    // How long movies are cut into segments (tests cut seconds into segments
    // of one).
    SegmentLimits segmentLimits;
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
    // The jobs in list order.
    std::vector<Job> jobs;

    // The program and image name of the profile's back end.
    EncoderTool Encoder() const;
    // The bytes of every job, left out or not.
    std::uint64_t TotalBytes() const;

    // The threads each encoder of the run is given: nThreadsPerEncoder, except
    // that a batch of fewer jobs than nEncodesAtOnce shares the cores among the
    // jobs it has, and a job that runs alone keeps the encoder's own count (which
    // fills the cores): one movie must not get a core's share of the machine.
    int ThreadsPerEncoder() const;
    // The threads of each run of a segmented job's pieces, which may run side by
    // side in every slot: the arrangement's share (cores / encodes at once).
    int SegmentThreads() const { return nThreadsPerEncoder; }

    // Makes the output folder (with its parents) and checks that it can be
    // written: "The output folder cannot be written: <folder>" and the system's
    // reason on the next line when not, Make's message; nothing when it can.
    std::optional<QString> OutputFolderProblem() const;

    // Takes the movies as the plan's jobs, in order; skipped says which are
    // left out (none when empty). What runs of this host that ended without
    // cleaning up (a crash, a kill, a power cut) left in the folders the jobs
    // write is removed first (COutputClaim), so that it is not in the way;
    // then each job's output is named (OutputNamer::PathsFor, around the files
    // that exist with Rename).
    void SetJobs(const std::vector<StreamFile>& movies, const std::vector<bool>& skipped = {});
    // The same without removing anything: the jobs and their outputs' names
    // as a run would take them now.
    void NameJobs(const std::vector<StreamFile>& movies, const std::vector<bool>& skipped = {});
    // The finished files under the outputs of the jobs that are not left out:
    // what the Ask question is about. Another process's output that is still
    // being made is not one: that job takes another name.
    QStringList ExistingOutputs() const;
    // The person agreed: the jobs whose outputs are among these replace them.
    void ReplaceExisting(const QStringList& outputs);

    // How a run shares the machine's cores between its encodes.
    struct Arrangement
    {
        int nEncodesAtOnce = 1;
        int nThreadsPerEncoder = 0;
    };
    // The arrangement for the stored "Parallel" (settings.nParallel) with the
    // profile on a machine of that many cores: that many encodes at once, or
    // for "Automatic" (0) one per core (at most MaxParallel). Several encodes
    // of a back end that takes a thread count get cores / encodes threads each
    // (at least 1), so that together they fill the cores without crowding
    // them; one at a time keeps the encoder's own count. "Automatic" on a core
    // count that bench/arrange.sh has measured for the back end takes the
    // arrangement measured fastest.
    static Arrangement Arrange(const EncodeProfile& profile, const StoredSettings& settings,
                               int cores);

    // The plan the stored settings make, with the installed encoders (without
    // jobs).
    static RunPlan FromSettings(const StoredSettings& settings, bool sampling);
};
