#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

// What cutting a movie's video into pieces at its key frames needs to know, in
// the terms ffmpeg's command line works in: each piece is encoded by its own
// ffmpeg run that seeks to a key frame (-ss) and keeps the source's timestamps
// (-copyts), so that the pieces' pictures land on the same output frames as an
// encode of the whole movie would put them (engine/SegmentPlan).
struct KeyFrames
{
    // The file opened and its video stream was read.
    bool bRead = false;
    // The times came from the container's index (MP4, QuickTime), not from
    // reading every packet.
    bool bFromIndex = false;
    // The video stream's time base: the timestamps below count its units.
    int nTimeBaseNum = 0;
    int nTimeBaseDen = 1;
    // The presentation timestamps of the video's key frames, ascending.
    std::vector<std::int64_t> arrKeyPts;
    // The video's pictures (its packets).
    std::int64_t nFrames = 0;
    // The container's start in microseconds, which ffmpeg adds to a seek
    // position given with -ss (0 when the file does not tell).
    std::int64_t nStartUs = 0;
    // What ffmpeg takes away from every timestamp (microseconds) when it reads
    // the video with the sound, as an encode of the whole movie does: the
    // container's start, or, in containers whose streams may start apart
    // (MPEG transport and program streams), the earlier of the two streams'.
    std::int64_t nWholeStartUs = 0;
    // Every picture carries its presentation time, and the times run without a
    // jump: a cut then lands where an encode of the whole movie would show the
    // same picture. Not so for AVI files with B-frames and MPEG program
    // streams that leave pictures without presentation times, recordings whose
    // clock restarts or jumps (broadcasts), and MPEG streams whose clock starts
    // at 0 before their picture (ffmpeg 5.1 moves a piece's clock to it).
    bool bSteady = false;
};

// Reads a movie's video key frames. MP4 and QuickTime files (not fragmented)
// list every picture in their index, and only the key frames' presentation
// times are read from the file, one packet each; other containers (MPEG
// transport and program streams, Matroska, AVI...) are read packet by packet
// without decoding. videoStream and audioStream are the streams the encode
// takes (MovieTiming's; -1: the best video, no sound).
// About 25 ms for a 10-minute 1080p MP4, 0.8 s for the same in MPEG-TS (the
// figures are in KeyFrames.cpp).
KeyFrames ProbeKeyFrames(const QString& path, int videoStream = -1, int audioStream = -1);

// What an encoded piece of video holds, for the check that it is whole before
// it is kept and again before the pieces are joined.
struct PieceContent
{
    bool bOpened = false;  // libavformat opened it and it has a video stream
    bool bIndexed = false; // its index lists pictures that all lie inside the file
    bool bDecodes = false; // its first picture decodes
    std::int64_t nFrames = 0;
    // The first picture's presentation time in the stream's time base.
    std::int64_t nFirstPts = 0;
    int nTimeBaseNum = 0;
    int nTimeBaseDen = 1;
    // The codec, picture size and codec configuration (the parameter sets):
    // pieces joined into one stream must agree on it.
    QByteArray codecConfig;
};

PieceContent ProbePiece(const QString& path);

// How a copy of a sound file keeps the times its encode gave it.
struct SoundCopy
{
    // The -itsoffset that gives back what ffmpeg takes away from the file's
    // timestamps when it reads it: its start (to the microsecond), and, in
    // Matroska and WebM, the samples Opus holds back at the start, which the
    // reader takes off the times and a copy into another file does not add
    // again.
    double dOffsetSeconds = 0;
    // How far the encode that wrote the file moved its start on to make room
    // for those samples (its first packet then starts the file): the encode of
    // the whole movie moved its picture as far.
    double dPictureDelaySeconds = 0;
};

// Nothing when the file does not open or holds no sound.
std::optional<SoundCopy> ProbeSoundCopy(const QString& path);
