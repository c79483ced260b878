#pragma once

#include "engine/FfmpegCommand.h"
#include "engine/SegmentPlan.h"
#include "jobs/KeyFrames.h"

#include <cstdint>

#include <QByteArray>
#include <QString>
#include <QStringList>

// The ffmpeg runs of a segmented encode (SegmentPlan), as pure functions of the
// request an encode of the whole movie would run (FfmpegCommand::Arguments):
//  - each segment's video alone, with the whole encode's filters and encoder,
//    into an MP4 file of its own;
//  - the sound alone, whole, with the whole encode's sound arguments (its
//    loudness is measured over the whole movie);
//  - the join: the segments one after another through ffmpeg's concat demuxer,
//    copied, with the sound, the subtitle track and the recording's facts, into
//    the output, with the whole encode's container arguments.
//
// MP4 holds the segments because it keeps each picture's time exactly in the
// encoder's own time base, which the join copies into the output: measured
// against the whole encode, the same timestamps for every picture and every
// sound packet and the same sound bytes (tests/engine/test_segments.cpp, and
// every input kind through every ffmpeg preset in bench/segments.sh). The
// other ways measured on a 6 s movie at 29.97 and at 23.976 fps, all with the
// right pictures: Matroska rounds times to milliseconds (the join had 1/16000 s
// steps of 533 and lasted 6.00575 s, not 6.006); MPEG-TS keeps 1/90000 s, which
// 23.976 fps does not fit (6.005989 s); raw H.264 streams lose the B-frames'
// presentation times (a remux with -r kept 178 of 180 pictures, out of order).
namespace SegmentCommand {

// The files of a work folder: "video-0001.mp4" (segment 0), the sound
// ("sound.m4a", "sound.webm" for WebM outputs), the join's list.
QString SegmentFileName(int index);
QString SoundFileName(const EncodeProfile& profile);
QString ListFileName();

// Segment index's run, writing output.
QStringList SegmentArguments(const FfmpegCommand::Request& request, const SegmentPlan& plan,
                             int index, const QString& output);

// The sound's run, writing output; only for a movie with sound.
QStringList SoundArguments(const FfmpegCommand::Request& request, const QString& output);

// The concat demuxer's list of the segments, by file name (the list lies in
// the work folder beside them), each with its exact length but the last.
QByteArray ConcatList(const SegmentPlan& plan);

// What the join is made from: the list, the sound (empty for none), where the
// first segment's first picture is (its file keeps the whole encode's time),
// and how a copy of the sound keeps its times (ProbeSoundCopy).
struct JoinPieces
{
    QString strList;
    QString strSound;
    double dFirstPictureSeconds = 0;
    SoundCopy sound;
};

// The join's run: the movie (for its facts), the pieces and the subtitle track
// of the request into request.strOutput.
QStringList JoinArguments(const FfmpegCommand::Request& request, const JoinPieces& pieces);

// A segment's length as its run's progress counts it.
std::int64_t SegmentMicroseconds(const SegmentPlan& plan, int index);

// What of a request changes what its segments and sound hold, as a short text
// (hex): the filters, the encoders' arguments, the container, what a burnt
// subtitle says. Not the paths of the files, nor the encoder's thread count.
QByteArray ProfileFingerprint(const FfmpegCommand::Request& request);

} // namespace SegmentCommand
