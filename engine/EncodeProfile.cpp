#include "EncodeProfile.h"

#include "shell/AppFolder.h"

#include <iterator>
#include <numeric>

QString EncodeProfile::BudgetText() const
{
    return QString::number(double(ullSizeBudget) / 1e6);
}

QString EncodeProfile::Extension() const
{
    switch (container) {
    case Container::Mp4:
        return QStringLiteral(".mp4");
    case Container::WebM:
        return QStringLiteral(".webm");
    case Container::Avi:
        break;
    }
    return QStringLiteral(".avi");
}

bool EncodeProfile::CarriesSubtitleTrack() const
{
    return backend == Backend::Ffmpeg && container != Container::Avi;
}

namespace {

// Each video codec's names, in the order of the enumeration.
struct CodecNames
{
    EncodeProfile::VideoCodec codec;
    const char* listText;
    const char* summaryText;
};
constexpr CodecNames VideoCodecNames[] = {
    {EncodeProfile::VideoCodec::Mpeg4, "MPEG-4", "MPEG-4(OpenDivx)"},
    {EncodeProfile::VideoCodec::MsMpeg4v2, "MS MPEG4v2", "MS MPEGv2"},
    {EncodeProfile::VideoCodec::Wmv7, "WMV7", "WMV7"},
    {EncodeProfile::VideoCodec::Wmv8, "WMV8", "WMV8"},
    {EncodeProfile::VideoCodec::H264, "H.264", "H.264"},
    {EncodeProfile::VideoCodec::H265, "H.265", "H.265"},
    {EncodeProfile::VideoCodec::Av1, "AV1", "AV1"},
};

constexpr bool InCodecOrder()
{
    for (std::size_t i = 0; i < std::size(VideoCodecNames); ++i) {
        if (static_cast<std::size_t>(VideoCodecNames[i].codec) != i)
            return false;
    }
    return std::size(VideoCodecNames) ==
           static_cast<std::size_t>(EncodeProfile::VideoCodec::Av1) + 1;
}
static_assert(InCodecOrder(), "one entry per codec, in the enumeration's order");

const CodecNames& NamesOf(EncodeProfile::VideoCodec codec)
{
    return VideoCodecNames[static_cast<std::size_t>(codec)];
}

} // namespace

QString EncodeProfile::CodecListText(VideoCodec codec)
{
    return QString::fromLatin1(NamesOf(codec).listText);
}

QString EncodeProfile::CodecText(VideoCodec codec)
{
    return QString::fromLatin1(NamesOf(codec).summaryText);
}

QString EncodeProfile::VideoRateText() const
{
    if (ullSizeBudget > 0)
        return QStringLiteral("for %1 MB").arg(BudgetText());
    if (nVideoKbps > 0)
        return FormatInt(nVideoKbps);
    return QStringLiteral("CRF ") + QualityText();
}

QString EncodeProfile::FrameRateText() const
{
    return dFps > 0 ? FormatReal(dFps) : QStringLiteral("source");
}

QString EncodeProfile::PictureSizeText() const
{
    const QString size = QStringLiteral("%1x%2").arg(nWidth).arg(nHeight);
    return sizeRule == SizeRule::FitWithin ? QStringLiteral("fits ") + size : size;
}

QString EncodeProfile::AudioModeText() const
{
    return nChannels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo");
}

QString EncodeProfile::AudioRateText() const
{
    if (backend == Backend::Mencoder)
        return FormatInt(nAudioKbps);
    return QStringLiteral("%1 %2k").arg(AudioCodecText()).arg(nAudioKbps);
}

QString EncodeProfile::AudioCodecText() const
{
    switch (audioCodec) {
    case AudioCodec::Mp3:
        return QStringLiteral("MP3");
    case AudioCodec::Aac:
        return QStringLiteral("AAC");
    case AudioCodec::Opus:
        return QStringLiteral("Opus");
    }
    return QString();
}

QStringList EncodeProfile::DescriptionLines() const
{
    QStringList lines;
    if (backend == Backend::Mencoder) {
        // The handhelds' frame, its shape as the screen's ("4:3" for 320 x 240).
        const int divisor = std::max(1, std::gcd(nWidth, nHeight));
        lines << EncodingCaption + EncoderText() << VideoRateCaption + VideoRateText()
              << FrameRateCaption + FrameRateText()
              << PictureSizeCaption + QStringLiteral("%1 * %2").arg(nWidth).arg(nHeight)
              << AspectCaption +
                     QStringLiteral("%1:%2").arg(nWidth / divisor).arg(nHeight / divisor);
        return lines;
    }
    const QString audio = AudioCodecText();
    const QString file =
        container == Container::WebM ? QStringLiteral("WebM") : QStringLiteral("MP4");
    lines << EncodingCaption + QStringLiteral("%1, %2 %3 kbit/s, %4")
                                   .arg(EncoderText(), audio)
                                   .arg(nAudioKbps)
                                   .arg(file);
    if (ullSizeBudget > 0)
        lines << QStringLiteral("Size: at most %1 MB a movie").arg(BudgetText());
    else
        lines << QStringLiteral("Quality: constant (CRF %1)").arg(QualityText());
    lines << FrameRateCaption +
                 (dFps > 0 ? FrameRateText()
                           : QStringLiteral("as the movie's, at most %1").arg(int(MaxSourceFps)))
          << PictureSizeCaption + QStringLiteral("fits within %1 * %2").arg(nWidth).arg(nHeight);
    if (!strPurpose.isEmpty())
        lines << QStringLiteral("For: ") + strPurpose;
    return lines;
}
