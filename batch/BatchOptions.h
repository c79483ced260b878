#pragma once

#include "engine/RunPlan.h"
#include "engine/SegmentPlan.h"
#include "jobs/MovieFolder.h"

#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

struct StoredSettings;
struct BatchParsed;

// What clipvane-batch is asked to do, read from its command line: the movies,
// what changes in the plan of the stored settings, and how it reports. Reading
// the options opens no movie; CollectSources and ProbeSources then find the
// movies and learn what the run needs of them.
struct BatchOptions
{
    // What happens to an output that exists already; Ask: one question on the
    // terminal for all of them (replace them, or skip them).
    using Overwrite = RunPlan::Overwrite;

    // --preset: a name of the presets' table; empty for the stored profile.
    QString strPreset;
    // --output, absolute; empty for the stored output folder.
    QString strOutputDir;
    // --jobs: encodes at once; 0 for the stored number.
    int nJobs = 0;
    bool bSampling = false;
    Overwrite overwrite = Overwrite::Rename;
    bool bJson = false;
    // --list-movies: print the movies the arguments stand for and end;
    // --null: each ended by a NUL character instead of a line break.
    bool bListMovies = false;
    bool bNull = false;
    // --list-file, as given.
    QStringList arrListFiles;
    // --watch: the folder to watch (absolute); empty for a batch.
    QString strWatchDir;
    // How long a file in the watched folder must stay the same before it is
    // taken (the hidden --settle-seconds, which tests shorten).
    int nSettleSeconds = 5;
    // --segments: one step of a long movie's encode in segments, spread over
    // processes or machines that share the work folder (CBatchSegments).
    enum class SegmentStep
    {
        None,
        // Plan the segments, and print how many (0: the movie is encoded whole).
        Plan,
        // Encode segment nSegment (1 to the plan's count), or the sound.
        Segment,
        Sound,
        // Check every piece, join them and publish the output.
        Join
    };
    SegmentStep segmentStep = SegmentStep::None;
    int nSegment = 0;
    // --work: the folder of the pieces (absolute).
    QString strWorkDir;
    // The segments' and the shortest segmented movie's lengths, for the
    // segment steps and a batch's run alike (the hidden --segment-limits
    // SECONDS,MIN, which tests and benchmarks set).
    SegmentLimits segmentLimits;
    // The FILE|FOLDER arguments, as given.
    QStringList arrPaths;

    // arguments: the program name, then its arguments. stdinIsTerminal: whether
    // --overwrite ask has someone to ask.
    static BatchParsed Parse(const QStringList& arguments, bool stdinIsTerminal);

    // "clipvane-batch: <text>\n", as every complaint of the command starts.
    static QString Complaint(const QString& text);

    // The plan of the stored settings with these options applied, without
    // jobs: never a shut-down, and with Rename, outputs that exist are kept.
    RunPlan Plan(const StoredSettings& settings) const;
};

// What a command line comes to: options to act on, or text for standard
// output (--help, --version, --list-presets) or standard error (bad usage,
// which names the bad argument) and the exit code: 0, or 2 for bad usage.
struct BatchParsed
{
    std::optional<BatchOptions> options;
    int nExitCode = 0;
    QString strOut;
    QString strError;
};

// The movies that a batch's FILE|FOLDER arguments and list files stand for.
struct BatchSources
{
    // In argument order (list files first), each file once, with its relative
    // output folder: a folder's movies keep the tree under the folder's name,
    // as Add Folder keeps it.
    QVector<MovieSource> movies;
    // The first bad argument ("'x.mov': The movie file is gone."); empty when
    // every argument could be read.
    QString strError;
    // What is worth saying but not an error: a folder without movies.
    QStringList arrNotes;
};

// Finds the movies of the options' arguments and list files. Each file named
// as an argument or in a list file is opened for reading, so that a missing or
// unreadable one is found before any encode starts; a folder's movies are
// checked by the run, which fails one that cannot be read and goes on.
BatchSources CollectSources(const BatchOptions& options);

// The job records of the movies (ProbeMovieJob), with their relative folders.
std::vector<StreamFile> ProbeSources(const QVector<MovieSource>& movies);
