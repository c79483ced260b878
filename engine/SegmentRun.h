#pragma once

#include "engine/FfmpegCommand.h"
#include "engine/SegmentPlan.h"
#include "engine/SegmentWork.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include <QString>
#include <QStringList>

// One job's segmented encode as a run works through it: the pieces still to
// make (the sound first, then the unfinished segments, in order), handed out
// one at a time to whichever slot is free (the job's own, and free slots beside
// it), each checked and kept in the work folder (CSegmentWork) when its run
// ends well; then the join into the job's output. Shared by the job's encode
// and the pieces other slots run; used on the UI thread but for SetProgress
// and Percent, which any thread may call.
//
// A piece is a number: a segment's index, Count() for the sound, JoinPiece()
// for the join.
class CSegmentRun final
{
public:
    // The share of a movie's length that its sound and its join count for in
    // the job's percentage: both are much faster than the picture.
    static constexpr double SoundWeight = 0.05;
    static constexpr double JoinWeight = 0.02;

    // request: the whole encode's (its output the job's); program: ffmpeg.
    CSegmentRun(const FfmpegCommand::Request& request, const SegmentPlan& plan,
                const QString& folder, const QString& program);

    // Takes the work folder (CSegmentWork::Open): what is kept counts as done.
    bool Open(QString* error);

    int Count() const { return m_plan.Count(); }
    int JoinPiece() const { return Count() + 1; }
    // "12 segments of about 60 s" and "Reused 5 of 12 segments (63 %)".
    QStringList Notes() const;

    // The next piece to make, now running; -1 when none waits.
    int TakePiece();
    // The join runs now (once CheckPieces found the pieces whole).
    void TakeJoin() { ++m_nRunning; }
    bool HasPending() const { return !m_pending.empty(); }
    // Pieces taken and not yet ended.
    int Running() const { return m_nRunning; }

    // A piece's command line, the file its run writes, and its length as its
    // progress counts it.
    QString CommandLine(int piece) const;
    QString OutputOf(int piece) const;
    std::int64_t ExpectedMicroseconds(int piece) const;

    // A running piece's percentage; any thread.
    void SetProgress(int piece, int percent);
    // A piece's run ended well: checked and kept; what is wrong otherwise.
    std::optional<QString> Finish(int piece);
    // A piece's run ended otherwise: it is no longer running.
    void Abandon(int piece);

    // Before the join, off the UI thread (it reads every piece whole, seconds
    // for a long film) while nothing else uses the work: every piece whole
    // (CSegmentWork::CheckJoin).
    void CheckPieces();
    // Then, on the UI thread: a piece that was damaged or missing is made
    // again, once: true then, with it waiting (the run takes it); false with
    // problem set when the join cannot be made.
    bool AfterCheck(std::optional<QString>* problem);

    // The job's percentage: the share of its movie's length done, the sound
    // and the join by their weights; never less than it said before.
    int Percent() const;
    // The output is finished: the work folder goes.
    bool Remove() { return m_work.Remove(); }

private:
    double Weight(int piece) const;

    FfmpegCommand::Request m_request;
    SegmentPlan m_plan;
    CSegmentWork m_work;
    QString m_strProgram;
    bool m_bSound = false;
    std::deque<int> m_pending;
    int m_nRunning = 0;
    bool m_bRemade = false;
    // What Open found kept: the segments and the share of the movie they hold.
    int m_nReused = 0;
    int m_nReusedPercent = 0;
    SegmentCommand::JoinPieces m_join;
    std::optional<QString> m_checkProblem;
    // Each piece's percentage, and the job's last.
    std::unique_ptr<std::atomic<int>[]> m_pPercent;
    mutable std::atomic<int> m_nShown{0};
};
