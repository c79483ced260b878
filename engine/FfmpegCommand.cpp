#include "FfmpegCommand.h"

#include "engine/FfmpegColour.h"
#include "engine/FrameGeometry.h"
#include "shell/AppFolder.h"
#include "shell/Numbers.h"

#include <algorithm>
#include <cmath>

namespace FfmpegCommand {

namespace {

using Profile = EncodeProfile;

// H.264 level 4.1's limit on macroblocks a second, which old televisions and
// phones decode in hardware.
constexpr double Level41MacroblocksPerSecond = 245760;

// The even size nearest to size, at most the even size below limit (the
// source's own side: never enlarged), at least 2. Rounding to the nearest keeps
// the shape closest (886x1918 in 720x1280 gives 592, not 590).
int EvenSize(double size, double limit)
{
    const int nearest = static_cast<int>(std::lround(size / 2)) * 2;
    const int below = static_cast<int>(std::floor(limit + 1e-6)) / 2 * 2;
    return std::max(2, std::min(nearest, below));
}

// The source's picture as a player shows it: the stored size times the pixel
// shape, turned by the rotation.
void DisplaySize(const MovieTiming& source, double& width, double& height)
{
    width = source.nWidth;
    height = source.nHeight;
    if (source.nPixelAspectNum > 0 && source.nPixelAspectDen > 0)
        width = width * source.nPixelAspectNum / source.nPixelAspectDen;
    if (source.IsTurned())
        std::swap(width, height);
}

// The rates a variable-rate movie is made constant at.
constexpr std::pair<int, int> StandardRates[] = {
    {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1}};

// The rate a source is kept at before any limit, as a fraction (0/1 unknown):
// the probe's rate of a constant-rate movie, the standard rate nearest the
// average of a variable-rate one.
std::pair<int, int> KeptRate(const MovieTiming& source)
{
    if (!source.bVariableRate || source.nAverageRateNum <= 0 || source.nAverageRateDen <= 0)
        return {source.nFrameRateNum, source.nFrameRateDen};
    const double average = double(source.nAverageRateNum) / source.nAverageRateDen;
    const auto distance = [average](const std::pair<int, int>& rate) {
        return std::abs(double(rate.first) / rate.second - average);
    };
    return *std::min_element(
        std::begin(StandardRates), std::end(StandardRates),
        [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
}

// The scale filter of a FitWithin picture whose size the probe could not
// tell: the same fit, worked out by ffmpeg on the decoded (already turned)
// picture.
QString ScaleExpression(int maxWidth, int maxHeight)
{
    const int longSide = std::max(maxWidth, maxHeight) / 2 * 2;
    const int shortSide = std::min(maxWidth, maxHeight) / 2 * 2;
    const QString factor = QStringLiteral("min(1,if(gte(iw*sar,ih),min(%1/(iw*sar),%2/ih),"
                                          "min(%2/(iw*sar),%1/ih)))")
                               .arg(longSide)
                               .arg(shortSide);
    const auto side = [&factor](const QString& length) {
        return QStringLiteral("'max(2,min(trunc(%1/2)*2,round(%1*%2/2)*2))'").arg(length, factor);
    };
    return QStringLiteral("scale=w=%1:h=%2")
        .arg(side(QStringLiteral("iw*sar")), side(QStringLiteral("ih")));
}

QString Kbits(int kbps)
{
    return QStringLiteral("%1k").arg(kbps);
}

// The frame rule of the handhelds' profiles, as the mencoder back end draws it:
// crop to the aspect's shape, scale to the frame's width, pad to the frame.
QString FrameFilters(const Profile& profile, const MovieTiming& source)
{
    // ffmpeg has turned the picture upright before the filters.
    const FrameGeometry geometry =
        FrameGeometry::Of(profile, source.ShownWidth(), source.ShownHeight());
    QStringList filters;
    if (geometry.cropW > 0 && geometry.cropH > 0)
        filters << QStringLiteral("crop=%1:%2").arg(geometry.cropW).arg(geometry.cropH);
    filters << QStringLiteral("scale=%1:%2").arg(geometry.scaleW).arg(geometry.scaleH)
            << QStringLiteral("setsar=1")
            << QStringLiteral("pad=%1:%2:(ow-iw)/2:(oh-ih)/2")
                   .arg(profile.nWidth / 2 * 2)
                   .arg(profile.nHeight / 2 * 2);
    return filters.join(QLatin1Char(','));
}

} // namespace

QString FileUrl(const QString& path)
{
    return QStringLiteral("file:") + path;
}

QString VideoMap(const MovieTiming& source)
{
    return source.nVideoStream >= 0 ? QStringLiteral("0:%1").arg(source.nVideoStream)
                                    : QStringLiteral("0:V:0");
}

QStringList CommonArguments()
{
    return {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
            QStringLiteral("-nostats"), QStringLiteral("-loglevel"),
            QStringLiteral("error"),    QStringLiteral("-progress"),
            QStringLiteral("pipe:1"),   QStringLiteral("-y")};
}

QStringList VideoCodecArguments(const Request& request)
{
    const Profile& profile = request.profile;
    QStringList args;
    const int kbps = request.nBudgetKbps > 0 ? request.nBudgetKbps : profile.nVideoKbps;
    const auto rate = [&] {
        if (kbps > 0)
            args << QStringLiteral("-b:v") << Kbits(kbps);
        else
            args << QStringLiteral("-crf") << profile.QualityText();
    };
    // HDR kept: its metadata goes on in the encoder's own parameters (ffmpeg 5.1
    // hands the encoders none of it).
    const auto hdr10 = [&](bool x265) {
        return WayOf(request) == ColourWay::KeepHdr ? Hdr10Parameters(request.source, x265)
                                                    : QStringList();
    };
    switch (profile.videoCodec) {
    case Profile::VideoCodec::H265:
        args << QStringLiteral("-c:v") << QStringLiteral("libx265");
        if (!profile.strSpeed.isEmpty())
            args << QStringLiteral("-preset") << profile.strSpeed;
        rate();
        // Apple's players take H.265 in MP4 only under this tag.
        args << QStringLiteral("-tag:v") << QStringLiteral("hvc1") << QStringLiteral("-x265-params")
             << (QStringList{QStringLiteral("log-level=error")} + hdr10(true))
                    .join(QLatin1Char(':'));
        break;
    case Profile::VideoCodec::Av1:
        args << QStringLiteral("-c:v") << QStringLiteral("libsvtav1");
        if (!profile.strSpeed.isEmpty())
            args << QStringLiteral("-preset") << profile.strSpeed;
        rate();
        if (const QStringList params = hdr10(false); !params.isEmpty())
            args << QStringLiteral("-svtav1-params") << params.join(QLatin1Char(':'));
        break;
    case Profile::VideoCodec::H264:
        args << QStringLiteral("-c:v") << QStringLiteral("libx264");
        if (!profile.strSpeed.isEmpty())
            args << QStringLiteral("-preset") << profile.strSpeed;
        args << QStringLiteral("-profile:v") << QStringLiteral("high") << QStringLiteral("-level:v")
             << QStringLiteral("4.1");
        rate();
        if (request.nBudgetKbps > 0) {
            // A budget holds for the whole file: the rate may not swell on hard
            // scenes beyond what the pass's average leaves room for.
            args << QStringLiteral("-maxrate") << Kbits(kbps * 3 / 2) << QStringLiteral("-bufsize")
                 << Kbits(kbps * 2);
        }
        break;
    default:
        // A job is refused before its encoder starts (Refusal); no encoder is
        // named here, so that ffmpeg refuses too rather than choose one itself.
        args << QStringLiteral("-c:v") << QString();
        break;
    }
    args << PictureFormatArguments(request);
    return args;
}

// The recording's facts: the source's tags (its date with the time zone,
// place, make, model and the other QuickTime keys; Matroska's tags) go into
// the output, but for the source container's brands, which describe only it,
// and for the place when the profile drops it. An empty value removes a tag.
QStringList MetadataArguments(const Request& request)
{
    QStringList args{QStringLiteral("-map_metadata"), QStringLiteral("0")};
    for (const char* brand : {"major_brand", "minor_version", "compatible_brands"})
        args << QStringLiteral("-metadata") << QLatin1String(brand) + QLatin1Char('=');
    if (!request.profile.bKeepsPlace) {
        for (const QString& tag : request.source.arrPlaceTags)
            args << QStringLiteral("-metadata") << tag + QLatin1Char('=')
                 << QStringLiteral("-metadata:s") << tag + QLatin1Char('=');
    }
    return args;
}

QStringList AudioArguments(const Request& request)
{
    const Profile& profile = request.profile;
    QStringList args;
    if (profile.audioCodec == Profile::AudioCodec::Opus)
        args << QStringLiteral("-c:a") << QStringLiteral("libopus");
    else
        args << QStringLiteral("-c:a") << QStringLiteral("aac");
    args << QStringLiteral("-b:a") << Kbits(profile.nAudioKbps) << QStringLiteral("-ac")
         << FormatInt(profile.nChannels);
    if (profile.bEvenLoudness) {
        // EBU R128 in one pass; the filter works at 192 kHz, hence the sample
        // rate after it.
        args << QStringLiteral("-af")
             << QStringLiteral("loudnorm=I=%1:TP=-1.5:LRA=11").arg(int(Profile::TargetLoudness));
    }
    args << QStringLiteral("-ar") << FormatInt(profile.nSampleRate);
    return args;
}

QStringList SubtitleTrackArguments(const Request& request)
{
    const bool webm = request.profile.container == Profile::Container::WebM;
    return {QStringLiteral("-c:s"), webm ? QStringLiteral("webvtt") : QStringLiteral("mov_text"),
            QStringLiteral("-metadata:s:s:0"),
            QStringLiteral("language=") + request.subtitle->strLanguage};
}

QStringList ContainerArguments(const EncodeProfile& profile)
{
    if (profile.container == Profile::Container::WebM)
        return {QStringLiteral("-f"), QStringLiteral("webm")};
    // The index in front: the movie plays while it downloads. The source's
    // tags go in as QuickTime keys, as phones write them, and ffmpeg keeps
    // each only then.
    return {QStringLiteral("-movflags"), QStringLiteral("+faststart+use_metadata_tags"),
            QStringLiteral("-f"), QStringLiteral("mp4")};
}

PictureSize FitWithin(const MovieTiming& source, int maxWidth, int maxHeight)
{
    if (source.nWidth <= 0 || source.nHeight <= 0)
        return {};
    double width = 0;
    double height = 0;
    DisplaySize(source, width, height);
    // The box turns with the picture: the long side within the box's long side.
    const double longSide = std::max(maxWidth, maxHeight) / 2 * 2;
    const double shortSide = std::min(maxWidth, maxHeight) / 2 * 2;
    const double boxWidth = width >= height ? longSide : shortSide;
    const double boxHeight = width >= height ? shortSide : longSide;
    const double scale = std::min({1.0, boxWidth / width, boxHeight / height});
    return {EvenSize(width * scale, width), EvenSize(height * scale, height)};
}

QString OutputFrameRate(const EncodeProfile& profile, const MovieTiming& source,
                        const PictureSize& output)
{
    if (profile.dFps > 0)
        return profile.dFps == std::floor(profile.dFps) ? FormatInt(static_cast<int>(profile.dFps))
                                                        : FormatReal(profile.dFps);
    const auto [num, den] = KeptRate(source);
    if (num <= 0 || den <= 0)
        return QString();
    double limit = Profile::MaxSourceFps;
    if (profile.videoCodec == Profile::VideoCodec::H264) {
        const double macroblocks = std::ceil(output.width / 16.0) * std::ceil(output.height / 16.0);
        if (macroblocks > 0)
            limit = std::min(limit, std::floor(Level41MacroblocksPerSecond / macroblocks));
    }
    // A faster source keeps every n-th picture, so that they stay evenly spaced
    // (120 gives 60, 100 gives 50, 59.94 at 1080p gives 29.97).
    const int every = static_cast<int>(std::ceil(double(num) / den / (limit + 0.5)));
    return QStringLiteral("%1/%2").arg(num).arg(qint64(den) * std::max(every, 1));
}

QString EscapeFilterValue(const QString& value)
{
    // First for the option parser (inside the filter's arguments), then for the
    // graph parser, which reads the whole filter description.
    QString option;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('\'') || c == QLatin1Char(':'))
            option += QLatin1Char('\\');
        option += c;
    }
    QString graph;
    for (const QChar c : option) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('\'') || c == QLatin1Char('[') ||
            c == QLatin1Char(']') || c == QLatin1Char(',') || c == QLatin1Char(';'))
            graph += QLatin1Char('\\');
        graph += c;
    }
    return graph;
}

PictureSize OutputSize(const Request& request)
{
    const Profile& profile = request.profile;
    if (profile.sizeRule == Profile::SizeRule::Frame)
        return {profile.nWidth / 2 * 2, profile.nHeight / 2 * 2};
    return FitWithin(request.source, profile.nWidth, profile.nHeight);
}

double SubtitleGlyphPixels(const PictureSize& picture)
{
    return SubtitleFontSize * std::min(picture.width, picture.height) / ScriptHeight;
}

QString SubtitleFontFamily(const QLocale& language)
{
    switch (language.language()) {
    case QLocale::Korean:
        return QStringLiteral("NanumGothic");
    case QLocale::Japanese:
        return QStringLiteral("IPAGothic");
    case QLocale::Chinese:
        return QStringLiteral("WenQuanYi Micro Hei");
    default:
        return QStringLiteral("Liberation Sans");
    }
}

QString SubtitleLanguageCode(const QLocale& language, EncodeProfile::Container container)
{
    const QString code = QLocale::languageToCode(
        language.language(),
        container == Profile::Container::WebM ? QLocale::ISO639Part2B : QLocale::ISO639Part2T);
    return code.size() == 3 ? code : QStringLiteral("und");
}

QString VideoFilters(const Request& request)
{
    const Profile& profile = request.profile;
    QStringList filters;
    // Old cameras and DVDs record in fields: a phone's screen shows combs.
    if (request.source.bInterlaced)
        filters << QStringLiteral("yadif");
    const PictureSize size = OutputSize(request);
    const bool sized = size.width > 0 && size.height > 0;
    if (profile.sizeRule == Profile::SizeRule::Frame) {
        // The colours of the small frame, not of the whole picture, are converted.
        filters << FrameFilters(profile, request.source);
        if (const QString colour = ColourFilters(request, nullptr); !colour.isEmpty())
            filters << colour;
    } else if (const QString colour = ColourFilters(request, sized ? &size : nullptr);
               !colour.isEmpty()) {
        // A picture of unknown size is fitted first, its colours then converted.
        if (!sized)
            filters << ScaleExpression(profile.nWidth, profile.nHeight);
        filters << colour << QStringLiteral("setsar=1");
    } else {
        filters << (sized ? QStringLiteral("scale=%1:%2").arg(size.width).arg(size.height)
                          : ScaleExpression(profile.nWidth, profile.nHeight))
                << QStringLiteral("setsar=1");
    }
    // A picture of unknown size may be as large as the box.
    const QString rate = OutputFrameRate(
        profile, request.source, sized ? size : PictureSize{profile.nWidth, profile.nHeight});
    if (!rate.isEmpty())
        filters << QStringLiteral("fps=") + rate;
    if (request.subtitle && request.subtitle->bBurn) {
        // The script's units are scaled to the picture's height: on a picture
        // taller than wide the size and outline shrink to what a wide picture
        // of its width would show.
        const double scale = sized ? double(std::min(size.width, size.height)) / size.height : 1.0;
        const auto number = [](double value) { return QString::number(value, 'g', 4); };
        QStringList style{QStringLiteral("FontSize=") + number(SubtitleFontSize * scale),
                          QStringLiteral("Outline=") + number(SubtitleOutline * scale),
                          QStringLiteral("Shadow=") + number(SubtitleShadow * scale)};
        if (!request.subtitle->strFont.isEmpty())
            style.prepend(QStringLiteral("FontName=") + request.subtitle->strFont);
        filters << QStringLiteral("subtitles=filename=") +
                       EscapeFilterValue(request.subtitle->strPath) +
                       QStringLiteral(":charenc=UTF-8:force_style=") +
                       EscapeFilterValue(style.join(QLatin1Char(',')));
    }
    return filters.join(QLatin1Char(','));
}

std::int64_t ExpectedMicroseconds(const MovieTiming& source, bool sampling)
{
    if (source.dSeconds <= 0)
        return 0;
    const double seconds =
        sampling ? std::min<double>(source.dSeconds, SampleSeconds) : source.dSeconds;
    return static_cast<std::int64_t>(seconds * 1e6);
}

std::optional<QString> Refusal(const Request& request)
{
    if (ColourOf(request.source) == SourceColour::DolbyVisionOnly)
        return QString::fromLatin1(DolbyVisionOnlyReason);
    switch (request.profile.videoCodec) {
    case Profile::VideoCodec::H264:
    case Profile::VideoCodec::H265:
    case Profile::VideoCodec::Av1:
        return std::nullopt;
    default:
        return QStringLiteral("Clipvane does not make %1 with ffmpeg.")
            .arg(request.profile.EncoderText());
    }
}

QStringList Arguments(const Request& request)
{
    const Profile& profile = request.profile;
    QStringList args = CommonArguments();
    args << QStringLiteral("-i") << FileUrl(request.strInput);
    const bool track = request.subtitle && !request.subtitle->bBurn && request.nPass != 1;
    if (track)
        args << QStringLiteral("-i") << FileUrl(request.subtitle->strPath);
    // The streams the probe read, by index: phones add tracks that ffmpeg
    // cannot decode or write (spatial sound, metadata, telemetry). Unprobed,
    // "V": a picture stream, not the cover picture some files carry.
    const MovieTiming& source = request.source;
    args << QStringLiteral("-map") << VideoMap(source);
    const bool sound = source.nAudioStream >= 0 && request.nPass != 1;
    if (sound)
        args << QStringLiteral("-map") << QStringLiteral("0:%1").arg(source.nAudioStream);
    if (track)
        args << QStringLiteral("-map") << QStringLiteral("1:0");
    if (request.bSampling)
        args << QStringLiteral("-t") << FormatInt(SampleSeconds);

    const QString filters = VideoFilters(request);
    if (!filters.isEmpty())
        args << QStringLiteral("-vf") << filters;
    // The fps filter makes the rate constant; the muxer's own frame-rate sync
    // would add a picture at the end for some containers and not for others, so
    // that the two passes of an encode would count different pictures.
    args << QStringLiteral("-fps_mode") << QStringLiteral("passthrough");
    args << VideoCodecArguments(request);
    if (request.nThreads > 0)
        args << QStringLiteral("-threads") << FormatInt(request.nThreads);
    if (request.nPass > 0)
        args << QStringLiteral("-pass") << FormatInt(request.nPass)
             << QStringLiteral("-passlogfile") << request.strPassLog;

    if (request.nPass == 1) {
        // The first pass only measures the picture: no sound, no file.
        args << QStringLiteral("-an") << QStringLiteral("-f") << QStringLiteral("null")
             << QStringLiteral("-");
        return args;
    }
    if (sound)
        args << AudioArguments(request);
    else
        args << QStringLiteral("-an");
    if (track)
        args << SubtitleTrackArguments(request);
    args << MetadataArguments(request) << ContainerArguments(profile) << FileUrl(request.strOutput);
    return args;
}

std::optional<Budget> PlanBudget(const EncodeProfile& profile, const MovieTiming& source)
{
    const double seconds = source.dSeconds;
    if (profile.ullSizeBudget == 0 || !(seconds > 0))
        return std::nullopt;
    // Measured on two-pass encodes: they land within a few per cent of their
    // aim, the index takes about 25 bytes a picture and 10 a sound packet (AAC
    // at 48 kHz: 1024 samples each), and the sound a little over its rate.
    constexpr double Aim = 0.97;
    const auto [num, den] = KeptRate(source);
    const double fps = num > 0 && den > 0
                           ? std::min(double(num) / den, double(EncodeProfile::MaxSourceFps))
                           : 30.0;
    const double index = 4096 + 25 * fps * seconds + 10 * (48000.0 / 1024) * seconds;
    const double soundBps = profile.nAudioKbps * 1000.0 + 1000;
    const double videoBps = (double(profile.ullSizeBudget) * Aim - index) * 8 / seconds - soundBps;
    if (videoBps < FloorKbps * 1000.0)
        return std::nullopt;
    const PictureSize boxes[] = {{1280, 720}, {960, 540}, {640, 360}};
    PictureSize chosen = boxes[std::size(boxes) - 1];
    for (const PictureSize& box : boxes) {
        if (videoBps / (double(box.width) * box.height * fps) >= 0.1) {
            chosen = box;
            break;
        }
    }
    return Budget{static_cast<int>(std::min(videoBps / 1000, 100000.0)),
                  std::min(chosen.width, profile.nWidth), std::min(chosen.height, profile.nHeight)};
}

std::optional<int> ProgressReader::Feed(std::string_view chunk)
{
    std::optional<int> percent;
    while (!chunk.empty()) {
        const std::size_t end = chunk.find('\n');
        if (end == std::string_view::npos) {
            // A line longer than any the records hold is not one of them.
            if (m_partial.size() < 256)
                m_partial.append(chunk.substr(0, 256 - m_partial.size()));
            break;
        }
        m_partial.append(chunk.substr(0, end));
        if (const std::optional<int> p = Line(m_partial))
            percent = p;
        m_partial.clear();
        chunk.remove_prefix(end + 1);
    }
    return percent;
}

std::optional<int> ProgressReader::Line(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if (key == "out_time_us") {
        // "N/A" before the first picture.
        if (!value.empty() && value.front() >= '0' && value.front() <= '9')
            m_outTimeUs = LeadingNumber<qint64>(value);
        return std::nullopt;
    }
    if (key != "progress")
        return std::nullopt;
    if (value == "end")
        return 100;
    if (m_expectedUs <= 0)
        return 0;
    return static_cast<int>(std::clamp<std::int64_t>(m_outTimeUs * 100 / m_expectedUs, 0, 99));
}

} // namespace FfmpegCommand
