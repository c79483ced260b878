#pragma once

#include "engine/EncodeProfile.h"
#include "jobs/MediaProbe.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QLocale>
#include <QString>
#include <QStringList>

// The ffmpeg back end's command line and progress, as pure functions of what a
// job knows: its profile, its movie's probe and its paths.
namespace FfmpegCommand {

// A picture size in pixels.
struct PictureSize
{
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// The picture a FitWithin profile makes of a source: its display shape (the
// stored size times the pixel shape, turned by the rotation) fitted within a
// box that turns with it (the long side at most the longer of maxWidth and
// maxHeight, the short side at most the shorter), never enlarged, both sides
// the even sizes nearest the shape and at least 2. An unknown source size
// gives 0x0: the scale filter then fits the decoded picture the same way.
PictureSize FitWithin(const MovieTiming& source, int maxWidth, int maxHeight);

// The frame rate the output gets as ffmpeg reads it ("30000/1001", "15"), or
// empty to keep the source's timestamps (an unknown source rate). A profile with
// a fixed rate gets it; one that keeps the source's gets the source's rate (for
// a variable-rate source the standard rate nearest its average: 23.976, 24,
// 25, 29.97, 30, 50, 59.94 or 60), or every n-th picture of a faster one, at
// most MaxSourceFps, and for H.264 at most what level 4.1 allows at the output
// size (30 at 1920x1080).
QString OutputFrameRate(const EncodeProfile& profile, const MovieTiming& source,
                        const PictureSize& output);

// A subtitle for the encode: a UTF-8 SubRip file, burnt in by libass with the
// font family (a fontconfig name) or carried as a track tagged with an ISO
// 639-2 language ("jpn"; "und" when unknown).
struct Subtitle
{
    QString strPath;
    bool bBurn = true;
    QString strFont;
    QString strLanguage;
};

// The burnt-in text's size in libass's units: the script of a SubRip file is
// ScriptHeight high and scaled to the picture's height, so the text takes
// SubtitleFontSize / ScriptHeight of it (about 7 %, which reads well on a
// phone's screen), with an outline and a shadow that keep it readable on any
// picture. A picture taller than wide gets the text of a wide picture as high
// as it is wide.
constexpr double ScriptHeight = 288;
constexpr double SubtitleFontSize = 20;
constexpr double SubtitleOutline = 2;
constexpr double SubtitleShadow = 1;

// The font height of the burnt-in text in pixels on a picture of this size.
double SubtitleGlyphPixels(const PictureSize& picture);

// The fontconfig family that libass draws a language's text with, from the
// fonts the program's packages install: NanumGothic (Korean), IPAGothic
// (Japanese), WenQuanYi Micro Hei (Chinese), Liberation Sans (any other).
QString SubtitleFontFamily(const QLocale& language);

// The language tag of a subtitle track: ISO 639-2/T as MP4 writes it ("deu"),
// the bibliographic form as WebM's Matroska writes it ("ger"); "und" for a
// language without a code.
QString SubtitleLanguageCode(const QLocale& language, EncodeProfile::Container container);

// Everything one ffmpeg run of a job is made from.
struct Request
{
    EncodeProfile profile;
    QString strInput;
    QString strOutput;
    MovieTiming source;
    bool bSampling = false;
    std::optional<Subtitle> subtitle;
    // -threads for the encoder; 0 leaves it to ffmpeg.
    int nThreads = 0;
    // The video bit rate in kbit/s that a size budget gives (overrides the
    // profile's rate control), and the pass of a two-pass encode (1 or 2; 0 for
    // one pass) with the prefix of its statistics files.
    int nBudgetKbps = 0;
    int nPass = 0;
    QString strPassLog;
};

// Why a job is not made: its movie's colours are only shown by a Dolby Vision
// player (DolbyVisionOnlyReason, FfmpegColour.h), or the profile asks for a codec that the
// arguments do not make with ffmpeg ("Clipvane does not make MPEG-4(OpenDivx)
// with ffmpeg."); nothing when it is made.
std::optional<QString> Refusal(const Request& request);

// The arguments after the program: quiet, progress on standard output
// ("-progress pipe:1"), the movie, the picture and sound filters, the codecs,
// the container. Paths are given as "file:" URLs so that no name is taken for
// an option or a protocol.
QStringList Arguments(const Request& request);

// The parts of the arguments, for the commands that encode a movie in pieces
// (engine/SegmentCommand) as Arguments encodes it whole:
// The arguments every run starts with: quiet, progress on standard output
// ("-progress pipe:1"), outputs overwritten.
QStringList CommonArguments();
// A path as ffmpeg takes it: a "file:" URL, so that no name is taken for an
// option or a protocol.
QString FileUrl(const QString& path);
// The -map value of the movie's video stream (the movie as the first input).
QString VideoMap(const MovieTiming& source);
// The video encoder and its rate, speed, profile, HDR metadata and picture format.
QStringList VideoCodecArguments(const Request& request);
// The sound encoder, its rate and channels, the loudness filter and the sample rate.
QStringList AudioArguments(const Request& request);
// The subtitle track's codec and language (a request with a subtitle).
QStringList SubtitleTrackArguments(const Request& request);
// The recording's facts from the first input (-map_metadata 0), without the
// source container's brands, and without the place when the profile drops it.
QStringList MetadataArguments(const Request& request);
// The container: MP4 with its index in front and the QuickTime keys, or WebM.
QStringList ContainerArguments(const EncodeProfile& profile);

// The picture the request's output gets; 0x0 when the fit is left to the
// scale filter (FitWithin of a source of unknown size).
PictureSize OutputSize(const Request& request);

// The video filter chain of a request ("scale=1280:720,setsar=1,..."); empty
// when the picture needs none.
QString VideoFilters(const Request& request);

// The length of the output in microseconds as the progress counts it: the
// movie's, or the sampled seconds of a longer one; 0 when unknown.
std::int64_t ExpectedMicroseconds(const MovieTiming& source, bool sampling);

// Escapes a value for a filter's option inside a filter graph (paths for the
// subtitles filter): the characters the option and graph parsers take for
// syntax are backslash-escaped at both levels.
QString EscapeFilterValue(const QString& value);

// The video bit rate and picture box of an encode that must stay within a
// size budget, from the whole movie's length (a Sampling run uses the same
// rate) and frame rate: the budget less a margin for the encoder's aim, the
// MP4 index (a few bytes for each picture and each sound packet) and the
// sound; then the largest of 1280x720, 960x540 and 640x360 (within the
// profile's box) that still gets 0.1 bit per pixel, where pictures look better
// than a larger one starved of bits. Nothing when even 640x360 would get less
// than FloorKbps, or the length is unknown.
struct Budget
{
    int nVideoKbps = 0;
    int nMaxWidth = 0;
    int nMaxHeight = 0;
};
constexpr int FloorKbps = 200;
std::optional<Budget> PlanBudget(const EncodeProfile& profile, const MovieTiming& source);

// Reads "-progress" records: key=value lines in blocks that end with
// "progress=continue" or "progress=end". Chunks may cut lines anywhere.
class ProgressReader
{
public:
    explicit ProgressReader(std::int64_t expectedUs)
        : m_expectedUs(expectedUs)
    {
    }
    // Takes a chunk; returns the percentage (0 to 100) when a block ended in it.
    std::optional<int> Feed(std::string_view chunk);

private:
    std::optional<int> Line(std::string_view line);

    std::int64_t m_expectedUs;
    std::int64_t m_outTimeUs = 0;
    std::string m_partial;
};

} // namespace FfmpegCommand
