#pragma once

#include "batch/BatchOptions.h"
#include "engine/FfmpegCommand.h"
#include "engine/RunPlan.h"
#include "engine/SegmentPlan.h"
#include "subtitles/EncoderSubtitle.h"

#include <optional>

#include <QObject>
#include <QString>
#include <QStringList>

class CSegmentWork;
class QProcess;

// clipvane-batch --segments: one long movie's encode in segments, one step per
// command, so that many processes or machines (Slurm array tasks, GNU parallel
// jobs) share it through a work folder on a shared disk:
//   plan     probes the movie's key frames, plans its segments and writes the
//            work folder's manifest; prints the segment count on standard
//            output, 0 for a movie that is encoded whole (the reason on
//            standard error), which is then encoded without --segments;
//   N        encodes segment N (1 to the count) under a name of its own and
//            keeps it when it is whole (CSegmentWork::Finish);
//   sound    encodes the sound, whole;
//   join     checks every piece, joins them into the output's hidden file,
//            checks the whole movie, gives it the movie's file time and its
//            name (claimed as a batch job's: --overwrite), and removes the work
//            folder.
// Every step plans again from the movie and compares with the manifest, so
// that a step never mixes pieces of another movie, preset or plan: only plan
// (re)writes a work folder. A piece that is finished already is not made again.
//
// Exit codes: 0 done, 1 failed (the encoder failed, a piece is missing or
// damaged, the movie changed since the plan), 2 bad usage (no plan in the
// folder, a segment number out of range, a movie that is encoded whole), 128 +
// the signal after SIGINT, SIGTERM or SIGHUP (the encoder is stopped and what
// it wrote removed).
class CBatchSegments final : public QObject
{
    Q_OBJECT

public:
    CBatchSegments(const BatchOptions& options, const RunPlan& plan, QObject* parent = nullptr);
    ~CBatchSegments() override;

    // Does the options' step; its exit code. Messages go to standard output
    // (the plan's count, what was done) and standard error (complaints).
    int Run();
    // A quit signal came: the running encoder is stopped, and Run returns
    // 128 + signal.
    void StopForQuit(int signal);

private:
    struct Failure
    {
        int nExitCode = 1;
        QString strText;
    };
    // The request an encode of the whole movie would run, with the subtitle
    // beside the movie as the run gives it.
    std::optional<Failure> PrepareRequest();
    // The segment or sound step, and the join, in an opened work folder.
    int Piece(const SegmentPlan& plan, CSegmentWork& work);
    int Join(CSegmentWork& work);
    // Runs ffmpeg; its exit code (-1 when it crashed or could not start). The
    // last lines it printed on standard error go to *lines.
    int RunEncoder(const QStringList& arguments, QStringList* lines);
    int Fail(const Failure& failure);
    // What an ended encoder leaves to say: its exit code after a signal, else
    // the failure with its last lines.
    int EncoderFailed(const QString& what, int exitCode, const QStringList& lines);

    const BatchOptions m_options;
    const RunPlan m_plan;
    FfmpegCommand::Request m_request;
    // The UTF-8 copy of the subtitle, read by ffmpeg while it runs.
    EncoderSubtitle m_subtitle;
    QProcess* m_process = nullptr;
    int m_nSignal = 0;
};
