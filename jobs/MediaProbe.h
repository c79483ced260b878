#pragma once

#include "jobs/StreamFile.h"

#include <cstdint>
#include <optional>

#include <QString>
#include <QStringList>

// The four probes that learn what the job list shows about a movie file. None of
// them tells the user anything: what cannot be learnt stays 0 / false / unknown.
// Paths may be of any length and hold any characters; they are never taken for
// URLs or protocol names.

// The file's full size in bytes, or StreamFile::UnknownSize when it cannot be
// opened for reading or is not a regular file (a folder, a pipe, a device).
std::uint64_t ProbeFileSize(const QString& path);

// Whether the file's content is an AVI file (it starts with the RIFF/AVI
// signature), whatever its name. False for files that cannot be read and for
// anything but a regular file; never blocks on a pipe.
bool IsAviFile(const QString& path);

// The same for ASF content (WMV, WMA: the ASF header object's GUID).
bool IsAsfFile(const QString& path);

// The same for an MPEG transport stream (.ts, .mts, .m2ts): four packets in a row
// that start with the sync byte, of 188 bytes, or of 192 as cameras and Blu-ray
// discs write them (a time stamp before each packet), found within the first
// packet's length of the start.
bool IsTransportStreamFile(const QString& path);

// Fills nWidth, nHeight and nDuration from libavformat (the video stream's picture
// size as a player shows it, sides swapped for a picture its display matrix
// turns a quarter, and the play length in whole seconds). When that gives no
// picture height, ProbeAviFile runs on the same path.
void ProbeMovieFile(const QString& path, StreamFile& job);

// Clipvane's own AVI header reader: when the file is an AVI file, writes nWidth and
// nHeight from its main header and, when it has an audio stream, nDuration from
// the end of the first audio stream. Otherwise writes nothing.
void ProbeAviFile(const QString& path, StreamFile& job);

// What an encoded movie holds, for the check that an encode wrote a whole movie.
struct MovieContent
{
    bool bOpened = false;     // libavformat opened the file as a movie
    bool bHasVideo = false;   // it has a video stream
    bool bHasPicture = false; // a picture of that stream decodes
    double dSeconds = -1;     // how long the video stream really lasts; -1 unknown
};

// Opens a movie, decodes its first picture and measures its video stream by
// what the file really holds: from the container's index when the index lies
// wholly inside the file (a finished AVI file), otherwise from the timestamps
// of every video packet read to the end (an AVI file cut short keeps a header
// that still promises the whole length). Costs about a millisecond for a
// finished file; a file without index is read once, without decoding.
MovieContent ProbeMovieContent(const QString& path);

// When a movie's timestamps start and how many pictures a second its video
// shows, as the encoder's subtitles need them, and what an encoder that sizes
// the picture and the sound itself needs to know of the source.
struct MovieTiming
{
    // The container's start time (its earliest stream's first timestamp) in
    // seconds: about 0.5 for MPEG program streams that ffmpeg writes, more for
    // DVD rips, 0 for most other files. 0 when unknown or not after 0.
    double dStartSeconds = 0;
    // The video's frame rate, 0 when unknown; also as a fraction (0/1 unknown).
    double dFrameRate = 0;
    int nFrameRateNum = 0;
    int nFrameRateDen = 1;
    // The length in seconds, 0 when unknown.
    double dSeconds = 0;
    // The stored picture size, 0 when unknown, and the shape of its pixels
    // (1:1 when unknown); the rotation a player applies (0, 90, 180 or 270
    // degrees, clockwise) and whether the pictures are interlaced.
    int nWidth = 0;
    int nHeight = 0;
    int nPixelAspectNum = 1;
    int nPixelAspectDen = 1;
    int nRotation = 0;
    bool bInterlaced = false;
    // The channels of the sound taken (nAudioStream; 0 unknown).
    int nAudioChannels = 0;

    // What phones' movies add: mirroring, a rate that varies, several tracks.
    // Whether the display matrix mirrors the picture: a player then flips it
    // left to right before turning it by nRotation.
    bool bMirrored = false;
    // The average frame rate (0/1 unknown), and whether the rate varies: the
    // finest rate the timestamps need (r_frame_rate, 120 for some phones) is
    // more than VariableRateTolerance away from the average.
    int nAverageRateNum = 0;
    int nAverageRateDen = 1;
    bool bVariableRate = false;
    static constexpr double VariableRateTolerance = 0.1;
    // The stream indexes of the video stream described above and of the sound
    // to take (-1 none): the first default-flagged sound track that ffmpeg can
    // decode, else the first it can decode (iPhones add one it cannot).
    int nVideoStream = -1;
    int nAudioStream = -1;
    // The picture size as a player shows it (the pixels' shape aside).
    bool IsTurned() const { return nRotation == 90 || nRotation == 270; }
    int ShownWidth() const { return IsTurned() ? nHeight : nWidth; }
    int ShownHeight() const { return IsTurned() ? nWidth : nHeight; }
    // The picture's colours and the recording's place. ---------------------
    // The transfer, primaries, matrix and range with libavutil's names, as
    // ffmpeg's options take them ("smpte2084", "arib-std-b67", "bt2020",
    // "bt2020nc", "tv"); empty when the file does not say.
    QString strColorTransfer;
    QString strColorPrimaries;
    QString strColorMatrix;
    QString strColorRange;
    // Bits per sample of the decoded picture (8, 10, 12); 0 when unknown.
    int nBitDepth = 0;
    // The HDR10 metadata, from the container or else from the first picture
    // of a PQ or HLG movie: the display the movie was mastered on (CIE 1931
    // xy of its primaries and white point, its luminance in cd/m²) and the
    // content light levels (MaxCLL, MaxFALL in cd/m²; 0 unknown).
    struct MasteringDisplay
    {
        double red[2] = {0, 0};
        double green[2] = {0, 0};
        double blue[2] = {0, 0};
        double white[2] = {0, 0};
        double dMinLuminance = 0;
        double dMaxLuminance = 0;
    };
    std::optional<MasteringDisplay> mastering;
    int nMaxCll = 0;
    int nMaxFall = 0;
    // Dolby Vision's configuration record: the profile (0: none) and what its
    // base layer shows without Dolby Vision (the signal compatibility id:
    // 0 nothing, 1 HDR10, 2 SDR, 4 HLG, 6 Blu-ray HDR10).
    int nDolbyVisionProfile = 0;
    int nDolbyVisionCompatibility = 0;
    // The tags of the container and its streams that tell where the movie was
    // filmed (every key with "location" in it: "location", "location-eng",
    // "com.apple.quicktime.location.ISO6709", Matroska's "LOCATION"...).
    QStringList arrPlaceTags;
};

// Reads the timing of a movie file with libavformat (a look at its first
// packets, a few milliseconds; a PQ or HLG movie whose container does not hold
// its HDR10 metadata has its first picture decoded for it). Everything unknown
// for a file that is not a readable movie.
MovieTiming ProbeMovieTiming(const QString& path);

// A job record for a movie file, filled by all four probes: the path as given,
// its file name, size, subtitle, picture size and length. Safe on any thread.
StreamFile ProbeMovieJob(const QString& path);

// Whole seconds of a length given in units of 100 nanoseconds, as the job record
// keeps it: (d / 1000) / 10000, truncating. False (nothing usable) for a negative
// length or one that does not fit the record.
bool DurationSecondsFrom100ns(std::int64_t d, int& seconds);

struct AVFormatContext;
struct AVInputFormat;

// Opens a local movie file with libavformat for the probes: the path goes in as
// a "file:" URL, so that a name such as "http:x.avi" or "concat:a|b" stays a
// local file, and no playlist inside the file reaches any other protocol. The
// demuxer is format when given, else libavformat's guess. Null when the file
// does not open as a movie; close it with avformat_close_input.
AVFormatContext* OpenLocalMovie(const QByteArray& nativePath,
                                const AVInputFormat* format = nullptr);

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// Feeds one packet (null: the end) to the decoder; true once a picture came out.
bool DecodesPicture(AVCodecContext* decoder, const AVPacket* packet, AVFrame* frame);
