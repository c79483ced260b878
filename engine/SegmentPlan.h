#pragma once

#include "engine/FfmpegCommand.h"
#include "jobs/KeyFrames.h"

#include <cstdint>
#include <vector>

#include <QString>

// How a long movie's video is cut into segments of about a minute, each encoded
// by an ffmpeg run of its own (one after another, side by side, or on other
// machines) and joined without encoding again, while its sound is encoded once,
// whole (engine/SegmentCommand).
//
// A segment starts at a key frame of the source and holds exactly the output
// frames an encode of the whole movie makes between its key frame and the
// next segment's. Output frames are counted as ffmpeg's fps filter counts them:
// the filter puts each source picture on the output frame nearest its time
// (from the start the whole encode takes away) and repeats or drops pictures to
// fill every frame. A segment's run keeps the source's timestamps (-copyts),
// takes away the same start itself and ends at its last frame, so that the
// filter puts every picture on the same frame as in the whole encode: the join
// then has the whole encode's frame count and timestamps, and every picture
// where the whole encode shows it, also for variable-rate sources made constant
// and faster sources made slower (measured: the same timestamps and the same
// source picture on every frame, tests/engine/test_segments.cpp).
struct SegmentPlan
{
    // A movie at least this long is encoded in segments of about this length.
    static constexpr double SegmentSeconds = 60;
    static constexpr double MinMovieSeconds = 240;

    // Why a movie is encoded whole.
    enum class Whole
    {
        No,            // it is cut into segments
        Encoder,       // the preset's encoder is not ffmpeg (mencoder)
        TwoPasses,     // a size budget: two passes over the whole movie
        Sample,        // a sample run
        Short,         // shorter than MinMovieSeconds
        UnknownRate,   // no output frame rate: no frames to count
        UnsteadyTimes, // pictures without presentation times, or a clock that jumps
        FewKeyFrames,  // not two key frames far enough apart
    };

    struct Segment
    {
        // The source key frame it starts at (in the video stream's time base).
        std::int64_t nKeyPts = 0;
        // Its output frames [nFirstFrame, nEndFrame), counted from the start the
        // whole encode takes away; nEndFrame -1 for the last segment, which
        // runs to the movie's end.
        std::int64_t nFirstFrame = 0;
        std::int64_t nEndFrame = -1;
        // Where it starts in the movie and how long it lasts, in seconds (the
        // last one up to the movie's length), for progress and the share of
        // the work it holds.
        double dStartSeconds = 0;
        double dSeconds = 0;

        bool IsLast() const { return nEndFrame < 0; }
        // Its frame count; -1 for the last segment.
        std::int64_t Frames() const { return IsLast() ? -1 : nEndFrame - nFirstFrame; }
        bool operator==(const Segment&) const = default;
    };

    Whole whole = Whole::No;
    std::vector<Segment> arrSegments;
    // The source video stream's time base.
    int nTimeBaseNum = 0;
    int nTimeBaseDen = 1;
    // The output frame rate as the fps filter takes it.
    int nRateNum = 0;
    int nRateDen = 1;
    // The container's start that ffmpeg adds to a seek position (microseconds).
    std::int64_t nSeekBaseUs = 0;
    // What the whole encode takes away from every video timestamp (in the
    // video's time base).
    std::int64_t nVideoShift = 0;
    double dMovieSeconds = 0;

    bool IsSegmented() const { return whole == Whole::No && arrSegments.size() > 1; }
    int Count() const { return static_cast<int>(arrSegments.size()); }
    // The -ss position of a segment's run ("61.240000"), relative to the
    // container's start as ffmpeg takes it; empty for the first segment, which
    // is read from the movie's start.
    QString SeekText(int index) const;
    // The seconds of the movie that the segments [0, count) hold, as a whole
    // percentage of the movie (rounded down): what reusing them saves.
    int PercentOf(const std::vector<bool>& done) const;
    bool operator==(const SegmentPlan&) const = default;
};

// The lengths that shape a plan: tests cut a few seconds into segments of one.
struct SegmentLimits
{
    double dSegmentSeconds = SegmentPlan::SegmentSeconds;
    double dMinMovieSeconds = SegmentPlan::MinMovieSeconds;
};

// Why the request's movie is encoded whole, from its profile and what the
// movie's probe tells (Whole::No when it may be cut; its key frames decide).
SegmentPlan::Whole WholeBecause(const FfmpegCommand::Request& request,
                                const SegmentLimits& limits = {});

// The plan for a request and its movie's key frames: cut points at the key
// frames nearest each SegmentSeconds, no segment shorter than half of it. A
// movie that stays whole gets a plan with its reason and no segments.
SegmentPlan PlanSegments(const FfmpegCommand::Request& request, const KeyFrames& keys,
                         const SegmentLimits& limits = {});

// The same with the movie's key frames probed (ProbeKeyFrames: its index, or
// every packet of a file without one, up to about a second for a long
// MPEG-TS): off the UI thread.
SegmentPlan PlanMovieSegments(const FfmpegCommand::Request& request,
                              const SegmentLimits& limits = {});

// What the log says of a plan: "12 segments of about 60 s", "encoded whole: a
// size budget needs two passes over the whole movie".
QString DescribePlan(const SegmentPlan& plan);
