#include "EncodeProfile.h"

#include "shell/AppFolder.h"

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

QString EncodeProfile::EncoderText() const
{
    switch (videoCodec) {
    case VideoCodec::Mpeg4:
        return QStringLiteral("MPEG-4(OpenDivx)");
    case VideoCodec::MsMpeg4v2:
        return QStringLiteral("MS MPEGv2");
    case VideoCodec::Wmv7:
        return QStringLiteral("WMV7");
    case VideoCodec::Wmv8:
        return QStringLiteral("WMV8");
    case VideoCodec::H264:
        return QStringLiteral("H.264");
    case VideoCodec::H265:
        return QStringLiteral("H.265");
    case VideoCodec::Av1:
        return QStringLiteral("AV1");
    }
    return QString();
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
        lines << QStringLiteral("Encoding: ") + EncoderText()
              << QStringLiteral("Video bit Rate: ") + VideoRateText()
              << QStringLiteral("Frames per second: ") + FrameRateText()
              << QStringLiteral("Screen Resultion: %1 * %2").arg(nWidth).arg(nHeight)
              << QStringLiteral("Screen Aspect Ratio: %1:%2")
                     .arg(nWidth / divisor)
                     .arg(nHeight / divisor);
        return lines;
    }
    const QString audio = AudioCodecText();
    const QString file =
        container == Container::WebM ? QStringLiteral("WebM") : QStringLiteral("MP4");
    lines << QStringLiteral("Encoding: %1, %2 %3 kbit/s, %4")
                 .arg(EncoderText(), audio)
                 .arg(nAudioKbps)
                 .arg(file);
    if (ullSizeBudget > 0)
        lines << QStringLiteral("Size: at most %1 MB a movie").arg(BudgetText());
    else
        lines << QStringLiteral("Quality: constant (CRF %1)").arg(QualityText());
    lines << (dFps > 0 ? QStringLiteral("Frames per second: ") + FrameRateText()
                       : QStringLiteral("Frames per second: as the movie's, at most %1")
                             .arg(int(MaxSourceFps)))
          << QStringLiteral("Screen Resultion: fits within %1 * %2").arg(nWidth).arg(nHeight);
    if (!strPurpose.isEmpty())
        lines << QStringLiteral("For: ") + strPurpose;
    return lines;
}
