#pragma once

#include <cstdint>

#include <QString>
#include <QStringList>

// How many seconds of each movie a Sampling run (the Sampling button,
// clipvane-batch --sample) encodes: the first ones.
inline constexpr int SampleSeconds = 60;

// What an encode makes, as data: which encoder program, the video codec and how
// its rate is set, the frame rate, the rule that sizes the picture, the sound,
// the loudness, the container and a size budget. The presets are a table of
// these (Presets.h); User Define makes one from the options dialog's values. A
// run takes one into its plan when it starts and never changes it: the back
// ends, the summary and the options dialog only read it.
struct EncodeProfile
{
    enum class Backend
    {
        Mencoder,
        Ffmpeg
    };
    enum class VideoCodec
    {
        Mpeg4,
        MsMpeg4v2,
        Wmv7,
        Wmv8,
        H264,
        H265,
        Av1
    };
    enum class AudioCodec
    {
        Mp3,
        Aac,
        Opus
    };
    enum class Container
    {
        Avi,
        Mp4,
        WebM
    };
    enum class SizeRule
    {
        // A frame of exactly nWidth x nHeight: the picture is cropped to
        // strAspect's shape, scaled to the frame's width and padded, centred
        // (the handhelds' screens).
        Frame,
        // At most nWidth x nHeight, the picture's shape kept (square pixels from
        // its display aspect), never enlarged, even sizes.
        FitWithin
    };

    // The highest frame rate a source rate is kept at (dFps 0).
    static constexpr double MaxSourceFps = 60;
    // The integrated loudness (LUFS, EBU R128) that bEvenLoudness evens to.
    static constexpr double TargetLoudness = -16;

    // The preset's name as the options list and the stored "Preset" spell it,
    // or "User Define".
    QString strName;
    Backend backend = Backend::Mencoder;

    VideoCodec videoCodec = VideoCodec::Mpeg4;
    // The video bit rate in kbit/s; 0 for constant quality (dQuality).
    int nVideoKbps = 0;
    // The encoder's constant-quality value (CRF) when nVideoKbps is 0; x264
    // takes fractions.
    double dQuality = 0;
    // The encoder's speed preset (x264's and x265's "-preset", SVT-AV1's number);
    // empty for the encoder's default.
    QString strSpeed;
    // Output frames per second; 0 keeps the source's rate, made constant, at most
    // MaxSourceFps.
    double dFps = 0;

    SizeRule sizeRule = SizeRule::Frame;
    int nWidth = 0;
    int nHeight = 0;
    // The picture's shape in a Frame as decimal text ("1.77" for 16:9).
    QString strAspect;

    AudioCodec audioCodec = AudioCodec::Mp3;
    int nAudioKbps = 0;
    int nSampleRate = 0;
    int nChannels = 2;
    // Evens the sound to TargetLoudness (ffmpeg back end; the mencoder back end
    // normalises its volume its own way).
    bool bEvenLoudness = false;

    Container container = Container::Avi;
    // The whole file stays at most this many bytes; 0 for no budget. The video
    // bit rate then comes from the movie's length.
    std::uint64_t ullSizeBudget = 0;
    // Whether the output keeps the tags that tell where the movie was filmed
    // (the other recording's facts are always kept); false for a movie sent
    // to others.
    bool bKeepsPlace = true;
    // What the preset is for, in a few words ("phones and tablets"); empty for
    // User Define.
    QString strPurpose;
    // The video bit rate in kbit/s that the constant quality typically comes
    // to at the largest picture (measured on real movies): the job list's
    // estimate of the output's size goes by it.
    int nTypicalKbps = 0;

    // The rates the job list's output-size estimate goes by: the bit rates
    // (the typical one for constant quality) and the frame rate (30 for the
    // source's).
    int EstimatedVideoKbps() const { return nVideoKbps > 0 ? nVideoKbps : nTypicalKbps; }
    double EstimatedFps() const { return dFps > 0 ? dFps : 30.0; }

    // The constant-quality value as the encoder and the program write it: "19.5".
    QString QualityText() const { return QString::number(dQuality); }
    // The size budget in megabytes as the program writes it: "25", "2.5".
    QString BudgetText() const;
    // ".avi", ".mp4" or ".webm".
    QString Extension() const;
    // Whether a subtitle can go into the file as a track of its own (MP4, WebM
    // from ffmpeg) when it is not burnt into the picture.
    bool CarriesSubtitleTrack() const;

    // The captions of the options dialog's User Define lines, which the
    // description lines of a preset start with too.
    static constexpr char EncodingCaption[] = "Encoding: ";
    static constexpr char VideoRateCaption[] = "Video bit Rate: ";
    static constexpr char FrameRateCaption[] = "Frames per second: ";
    static constexpr char PictureSizeCaption[] = "Screen Resultion: ";
    static constexpr char AspectCaption[] = "Screen Aspect Ratio: ";

    // A codec's name in the options dialog's encoder list ("MPEG-4") and in
    // the main form's summary ("MPEG-4(OpenDivx)").
    static QString CodecListText(VideoCodec codec);
    static QString CodecText(VideoCodec codec);

    // The main form's summary: CodecText of the video codec.
    QString EncoderText() const { return CodecText(videoCodec); }
    // "150" (kbit/s), "CRF 19.5", "for 25 MB".
    QString VideoRateText() const;
    // "15.000", or "source" for the source's rate.
    QString FrameRateText() const;
    // "320x240", or "fits 1280x720" for a picture fitted within (either way
    // round).
    QString PictureSizeText() const;
    // "stereo" or "mono".
    QString AudioModeText() const;
    // "64" (kbit/s) for mencoder's MP3; the codec with it for ffmpeg's sound:
    // "AAC 128k", "Opus 96k".
    QString AudioRateText() const;
    // "MP3", "AAC", "Opus".
    QString AudioCodecText() const;
    // The options dialog's lines about the preset: "Encoding: ...", "Video bit
    // Rate: ...", "Frames per second: ...", "Screen Resultion: ...", and the
    // aspect or what the preset is for.
    QStringList DescriptionLines() const;

    bool operator==(const EncodeProfile&) const = default;
};
