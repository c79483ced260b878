#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QMap>
#include <QString>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

// What tests learn about an encoded movie through libavformat and libavcodec.
namespace MovieInspector {

// The container and its first video and audio streams.
struct Facts
{
    bool opened = false;
    QByteArray format; // libavformat's short name, e.g. "avi"
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    unsigned videoTag = 0;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    AVRational sampleAspect{0, 1}; // the pixels' shape; 0/1 when the file does not say
    double videoSeconds = 0;       // length of the video stream, 0 when unknown
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    int sampleRate = 0;
    int audioChannels = 0;
    int subtitleStreams = 0;
    QByteArray subtitleLanguage; // the first subtitle stream's "language" tag
    // The video's colour tags with libavutil's names ("bt709", "smpte2084",
    // "unspecified") and its bits per sample.
    QByteArray colorTransfer;
    QByteArray colorPrimaries;
    QByteArray colorMatrix;
    int bitDepth = 0;
    // The container's tags, their keys in lower case (Matroska writes them in
    // upper case).
    QMap<QByteArray, QByteArray> tags;

    bool HasVideo() const { return videoCodec != AV_CODEC_ID_NONE; }
    bool HasAudio() const { return audioCodec != AV_CODEC_ID_NONE; }
};

Facts Inspect(const QString& path);

// Whether an MP4 file's index (its "moov" box) comes before its data
// ("mdat"), so that it plays while it downloads.
bool IndexBeforeData(const QString& path);

// The integrated loudness of a movie's sound in LUFS (EBU R128, measured by
// ffmpeg's ebur128 filter); NaN when it cannot be measured.
double IntegratedLoudness(const QString& path);

// One decoded picture's luma plane, width x height bytes, row after row (the
// top 8 bits of deeper samples), with the HDR10 metadata the picture carries.
struct Luma
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
    int bitDepth = 0;
    double masteringPeak = 0; // the mastering display's cd/m², 0 when none
    int maxCll = 0;           // the content light level, 0 when none

    int At(int x, int y) const
    {
        return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    }

    bool IsEmpty() const { return pixels.empty(); }
};

// The index-th decoded video frame (counted from 0); empty when the file cannot
// be decoded that far.
Luma DecodeLuma(const QString& path, int index);

// Every decoded video picture's luma, in order (for movies of a few seconds).
std::vector<Luma> DecodeAllLuma(const QString& path);

// The number a numbered picture (MovieSpec::numbered) shows; -1 for none.
int FrameNumber(const Luma& luma);

// The presentation time and duration of every packet of a movie's first
// stream of a kind, in its time base, sorted by time.
struct Packets
{
    AVRational timeBase{0, 1};
    std::vector<std::pair<std::int64_t, std::int64_t>> times;
    // When the last packet ends, in seconds.
    double EndSeconds() const;
};

Packets PacketTimes(const QString& path, AVMediaType type);

// When a movie's sound first rises above -30 dBFS after a silence at its
// start, in seconds (ffmpeg's silencedetect); NaN when it never does.
double SoundStart(const QString& path);

// The smallest rectangle that holds every pixel brighter than mid-grey (luma
// above 128); 0 by 0 when there is none.
struct Box
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

Box BrightBox(const Luma& luma);

// Pixels of rows [fromRow, toRow) whose luma differs by more than 48.
int DifferingPixels(const Luma& a, const Luma& b, int fromRow, int toRow);

// Rows [first, last] in which the two pictures differ, and the columns [left,
// right] of the differing pixels in them.
struct RowBand
{
    int first = 0;
    int last = 0;
    int left = 0;
    int right = 0;
};

// The runs of rows with at least a few pixels that differ by more than 48, runs
// up to gap rows apart counted as one: a line of burnt-in text gives one band
// (an accent stands a row or two above its letter). Lines of Chinese or
// Japanese text, whose characters fill their rows, may stand closer: on a black
// picture, where the text's outline does not differ, gap 1 tells them apart.
// Empty when the pictures do not differ (or differ in size).
std::vector<RowBand> DifferingBands(const Luma& a, const Luma& b, int gap = 3);

// "[first-last x left-right] ..." for failure messages.
QString Describe(const std::vector<RowBand>& bands);

} // namespace MovieInspector
