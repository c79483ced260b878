#include "EncodeSetting.h"

#include "engine/CommandLine.h"
#include "engine/Presets.h"
#include "engine/SubtitleConverter.h"
#include "engine/SubtitleCues.h"
#include "jobs/MediaProbe.h"
#include "shell/AppFolder.h"
#include "shell/Numbers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// The command-line vocabulary. Every piece begins with a space so pieces simply
// follow one another; the runs of spaces inside are part of the text.
const QLatin1StringView
    CopyAllTemplate(" -noodml \"$PATH_VIDEO$\" -o \"$PATH_OUT$\" -ovc copy -oac copy");
const QLatin1StringView InputOutputTemplate(" -noodml \"$PATH_VIDEO$\" -o \"$PATH_OUT$\"");
const QLatin1StringView ResizeTemplate(
    " -vf-add crop=$VID_CROP_W$:$VID_CROP_H$:-1:-1  -vf-add scale=$VID_SCALE_W$:$VID_SCALE_H$"
    " -vf-add expand=$VID_W$:$VID_H$:-1:-1:1");
const QLatin1StringView AudioTemplate(
    " -oac mp3lame -lameopts vbr=$AUD_VBR$  -lameopts br=$AUD_BITRATE$ -lameopts vol=$AUD_VOL$"
    " -lameopts mode=$AUD_MODE$ -lameopts aq=$AUD_ALGORITHM$ -lameopts padding=3");
const QLatin1StringView SubtitleTemplate(
    " -font \"$PATH_FONT$\" -sub \"$PATH_SUB$\" -utf8 -subpos $SUB_POS$ -subfont-text-scale "
    "$SUB_SIZE$ -subfont-blur $SUB_BLUR$ -subfont-outline $SUB_OUTLINE$");

// Put in front of the rest for an input whose content is an AVI or ASF file,
// whatever its name, unless both streams are copied. The encoder's own AVI
// reader turns MPEG-4 AVI files (DivX/Xvid kind, also ones the encoder wrote
// itself) into a movie that shows the first picture throughout, while still
// exiting 0; libavformat reads every AVI kind right. Its own ASF reader gives
// the pictures of WMV files times at which most subtitle cues are never drawn.
// Without generated timestamps libavformat gives the frames of H.264 AVI files
// none, and the encoder then draws no subtitle on them. A copy of both streams
// decodes nothing, and there the encoder's own reader is the exact one: through
// libavformat a copied MP3 track gets a wrong header and the last pictures are
// dropped.
const QLatin1StringView LibavformatInputOptions(" -demuxer lavf -lavfdopts o=fflags=+genpts");

// The same for an MPEG transport stream (.ts, .mts, .m2ts): the encoder's own
// transport stream reader loses about half the pictures of H.264 and H.265
// video (a 6 s camera clip came out 3.3 s long). Through libavformat the sound
// is decoded by libavcodec too: the encoder's own MPEG audio decoder takes the
// first MP2 packet that libavformat hands it for a change of format and
// stretches the sound (6 s came out 8.1 s); broadcast recordings carry MP2.
const QLatin1StringView TransportStreamAudioOptions(" -afm ffmpeg");

// After the subtitle options for a movie whose timestamps do not start at 0
// (MPEG program streams, VOBs): the encoder compares the cue times with the
// pictures' timestamps, so without it every cue comes early by the start time.
const QLatin1StringView SubtitleDelayTemplate(" -subdelay $SUB_DELAY$");

// The encoder's filters that set a turned picture upright, undoing what a
// player does: "mirror" flips left to right, "flip" upside down, "rotate=1"
// turns clockwise and "rotate=2" counter-clockwise, in the order given.
QLatin1StringView TurnFilters(const PictureTurn& turn)
{
    switch (turn.nRotation) {
    case 90:
        return QLatin1StringView(turn.bMirrored ? " -vf-add mirror -vf-add rotate=1"
                                                : " -vf-add rotate=1");
    case 180:
        return QLatin1StringView(turn.bMirrored ? " -vf-add flip" : " -vf-add flip -vf-add mirror");
    case 270:
        return QLatin1StringView(turn.bMirrored ? " -vf-add mirror -vf-add rotate=2"
                                                : " -vf-add rotate=2");
    default:
        return QLatin1StringView(turn.bMirrored ? " -vf-add mirror" : "");
    }
}

// Indexed by m_nEncoder.
const std::array<QLatin1StringView, 8> VideoEncoderTemplates = {
    QLatin1StringView(
        " -ovc lavc -lavcopts vcodec=mpeg4   -lavcopts vbitrate=$VID_BITRATE$  -ffourcc DIVX"),
    QLatin1StringView(" -ovc xvid -xvidencopts bitrate=$VID_BITRATE$"),
    QLatin1StringView(" -ovc lavc -lavcopts vcodec=msmpeg4 -lavcopts vbitrate=$VID_BITRATE$"),
    QLatin1StringView(" -ovc lavc -lavcopts vcodec=wmv1    -lavcopts vbitrate=$VID_BITRATE$"),
    QLatin1StringView(" -ovc lavc -lavcopts vcodec=wmv2    -lavcopts vbitrate=$VID_BITRATE$"),
    QLatin1StringView(" -ovc x264 -x264encopts bitrate=$VID_BITRATE$"),
    QLatin1StringView(" -ovc lavc -lavcopts vcodec=mjpeg   -lavcopts vbitrate=$VID_BITRATE$"),
    QLatin1StringView(" -ovc lavc -lavcopts vcodec=ljpeg   -lavcopts vbitrate=$VID_BITRATE$"),
};

// The aspect used when m_bUseAspect is off: no source is ever wider than that.
constexpr double NoAspect = 999.0;

// A delay the encoder's millisecond precision sees.
bool HasDelay(const EncoderSubtitle& subtitle)
{
    return subtitle.dDelaySeconds >= 0.0005;
}

struct Placeholder
{
    QLatin1StringView name;
    QString value;
};

// Replaces every placeholder of the composed text with its value in one pass.
// A value is inserted as it is and never searched again, so a file name that
// happens to contain "$VID_W$" stays intact. The placeholders of the templates
// never touch one another, so for values without placeholder text the result
// equals replacing one placeholder after the other.
QString Substitute(const QString& text, const std::vector<Placeholder>& placeholders)
{
    QString result;
    result.reserve(text.size() * 2);
    qsizetype i = 0;
    while (i < text.size()) {
        bool replaced = false;
        if (text.at(i) == QLatin1Char('$')) {
            const QStringView rest = QStringView(text).mid(i);
            for (const Placeholder& placeholder : placeholders) {
                if (rest.startsWith(placeholder.name)) {
                    result.append(placeholder.value);
                    i += placeholder.name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            result.append(text.at(i));
            ++i;
        }
    }
    return result;
}

// A size for the encoder's scale filter: at most the frame's, and even. The
// filter rounds an odd size up, and a picture larger than the frame makes the
// expand filter grow the frame past the size asked for (a 361-line picture in
// a 360-line frame gives a 362-line movie). At least 2: the filter reads 0 as
// the size of the picture it receives. Crop and expand take odd sizes as they
// are.
int ScaleSize(int size, int frame)
{
    return std::max(std::min(size, frame) / 2 * 2, 2);
}

// With a known picture
// size the source is either cropped, centred, to the aspect's shape and scaled
// to the frame's width (stretched to the whole frame with m_bStretch), or, when
// it is not wider than the aspect and cropping is not forced, scaled whole to
// the frame's width.
EncodeSetting::Geometry FrameGeometry(const EncodeSetting& setting, const StreamFile& job)
{
    double aspect = setting.m_bUseAspect
                        ? LeadingNumber<double>(setting.m_strAspect.toLatin1().toStdString())
                        : NoAspect;
    // An aspect that is not a positive number cannot be honoured (and would
    // divide by zero below); treat it like no aspect at all.
    if (!(aspect > 0.0) || !std::isfinite(aspect))
        aspect = NoAspect;
    const int frameW = setting.m_nVidW;
    const int frameH = setting.m_nVidH;
    EncodeSetting::Geometry geometry{frameW, frameH, 0, 0};
    const int sw = job.nWidth;
    const int sh = job.nHeight;
    if (sw != 0 && sh != 0) {
        const double ratio = static_cast<double>(sw) / sh;
        if (setting.m_bAlwaysCrop || setting.m_bStretch || ratio > aspect) {
            // The largest centred rectangle of the aspect's shape inside the
            // source. A source wider than the aspect keeps its height. One
            // narrower (every 4:3 movie against 1.77) keeps its width instead:
            // its height times the aspect would be a crop wider than the
            // source, which the encoder clamps to the whole picture before
            // squashing that into the aspect's band. A crop of 0 means "all"
            // to the encoder, hence at least 1.
            if (ratio > aspect) {
                geometry.cropW = std::max(TruncateToInt(sh * aspect), 1);
                geometry.cropH = sh;
            } else {
                geometry.cropW = sw;
                geometry.cropH = std::max(TruncateToInt(sw / aspect), 1);
            }
            geometry.scaleH = setting.m_bStretch ? frameH : TruncateToInt(frameW / aspect);
        } else {
            // 64-bit so that large sizes cannot overflow the product.
            geometry.scaleH = TruncateToInt(static_cast<double>(
                static_cast<std::int64_t>(sh) * frameW / static_cast<std::int64_t>(sw)));
        }
    }
    // A picture taller than the frame is fitted to the frame's height, its
    // width narrowed in proportion, so that it keeps its shape. Within 1 % it
    // is only cut to the frame, a change of shape nobody sees: the preset's
    // 1.77 stands for 16:9, and 16:9 frames such as 640x360 are a line or two
    // lower than the width over 1.77, where narrowing would leave thin bars.
    if (geometry.scaleH > frameH && frameH > 0) {
        if (geometry.scaleH > frameH * 1.01)
            geometry.scaleW = TruncateToInt(static_cast<double>(frameW) * frameH / geometry.scaleH);
        geometry.scaleH = frameH;
    }
    geometry.scaleW = ScaleSize(geometry.scaleW, frameW);
    geometry.scaleH = ScaleSize(geometry.scaleH, frameH);
    return geometry;
}

// The templates of one job's argument string, before the placeholders are
// filled in.
QString ComposeTemplates(const EncodeSetting& setting, const EncoderSubtitle& subtitle,
                         bool sampling, const StreamFile& job, const PictureTurn& turn)
{
    const bool copiesBoth = setting.m_bCopyAll || (setting.m_bCopyVideo && setting.m_bCopyAudio);
    QString text;
    if (!copiesBoth && (IsAviFile(job.strFilePath) || IsAsfFile(job.strFilePath))) {
        text += LibavformatInputOptions;
    } else if (!copiesBoth && IsTransportStreamFile(job.strFilePath)) {
        text += LibavformatInputOptions;
        text += TransportStreamAudioOptions;
    }
    if (setting.m_bCopyAll) {
        text += CopyAllTemplate;
    } else {
        text += InputOutputTemplate;
        if (setting.m_bCopyVideo) {
            text += QLatin1StringView(" -ovc copy");
        } else {
            if (setting.m_bUseFps)
                text += QLatin1StringView(" -ofps $VID_FPS$");
            text += TurnFilters(turn);
            if (setting.m_bUseResize)
                text += ResizeTemplate;
            if (setting.m_bUseSampleRate)
                text += QLatin1StringView(" -srate $AUD_SRATE$");
            if (setting.m_nEncoder >= 0 &&
                setting.m_nEncoder < static_cast<int>(VideoEncoderTemplates.size()))
                text += VideoEncoderTemplates[static_cast<size_t>(setting.m_nEncoder)];
        }
        text += setting.m_bCopyAudio ? QLatin1StringView(" -oac copy") : AudioTemplate;
    }
    if (sampling)
        text += QStringLiteral(" -endpos %1").arg(SampleSeconds);
    if (subtitle.bExists && setting.m_bBurnSubtitle && !setting.m_bCopyVideo &&
        !setting.m_bCopyAll) {
        text += SubtitleTemplate;
        if (HasDelay(subtitle))
            text += SubtitleDelayTemplate;
    }
    return text;
}

} // namespace

EncodeSetting::EncodeSetting()
    : m_bVolNorm(true)
    , m_nSubCodePage(0)
    , m_bNormalPriority(false)
{
    ApplyPreset();
}

QString EncodeSetting::FontPatternFor(const QLocale& locale)
{
    // The encoder looks its font up through fontconfig; a pattern with the
    // language makes fontconfig pick a family that has the glyphs.
    switch (locale.language()) {
    case QLocale::Korean:
        return QStringLiteral("Gulim:lang=ko");
    case QLocale::Japanese:
        return QStringLiteral("MS Mincho:lang=ja");
    case QLocale::Chinese:
        return locale.script() == QLocale::TraditionalHanScript
                   ? QStringLiteral("MingLiU:lang=zh-tw")
                   : QStringLiteral("SimSun:lang=zh-cn");
    default:
        return QStringLiteral("Arial");
    }
}

void EncodeSetting::ApplyPreset()
{
    m_strPathFont = FontPatternFor(QLocale::system());
    m_bUseFps = true;
    m_bUseResize = true;
    m_bUseAspect = true;
    m_bUseSampleRate = true;
    m_bCopyAll = false;
    m_bCopyVideo = false;
    m_bCopyAudio = false;
    m_bBurnSubtitle = true;
    m_bAlwaysCrop = true;
    m_bStretch = false;
    m_nAudVol = 0;
    m_nAudAlgorithm = 7;
    m_nAudMode = 1;
    m_nAudVbr = 3;
    m_nSubPos = 85;
    m_nSubBlur = 2;
    m_nSubOutline = 2;
    m_nSubSize = 5;
    m_strExtraOptions = QStringLiteral(" -slang ko-KR,kr-KR");
    ApplyProfile(Presets::PocketPcNormal());
}

void EncodeSetting::ApplyProfile(const EncodeProfile& profile)
{
    m_nEncoder = TemplateIndexFor(profile.videoCodec);
    m_nVidBitrate = profile.nVideoKbps;
    m_dVidFps = profile.dFps;
    m_nVidW = profile.nWidth;
    m_nVidH = profile.nHeight;
    m_strAspect = profile.strAspect;
    m_nAudBitrate = profile.nAudioKbps;
    m_nAudSrate = profile.nSampleRate;
}

EncodeSetting EncodeSetting::FromProfile(const EncodeProfile& profile, bool burnSubtitle)
{
    EncodeSetting setting;
    setting.ApplyProfile(profile);
    setting.m_bBurnSubtitle = burnSubtitle;
    return setting;
}

int EncodeSetting::TemplateIndexFor(EncodeProfile::VideoCodec codec)
{
    switch (codec) {
    case EncodeProfile::VideoCodec::Mpeg4:
        return 0;
    case EncodeProfile::VideoCodec::MsMpeg4v2:
        return 2;
    case EncodeProfile::VideoCodec::Wmv7:
        return 3;
    case EncodeProfile::VideoCodec::Wmv8:
        return 4;
    default:
        return -1;
    }
}

EncodeSetting::Geometry EncodeSetting::PictureGeometry(const StreamFile& job) const
{
    return FrameGeometry(*this, job);
}

EncoderSubtitle PrepareSubtitleCopy(const QString& subtitlePath, const SubtitleCopyOptions& options)
{
    EncoderSubtitle subtitle;
    subtitle.strPath = subtitlePath;
    subtitle.bExists = !subtitlePath.isEmpty() && QFileInfo(subtitlePath).isFile();
    const SubtitleFormat format = SubtitleFormatOf(subtitlePath);
    if (!subtitle.bExists || format == SubtitleFormat::Other)
        return subtitle;

    subtitle.strPath.clear();
    const QString folder = SubtitleWorkDir();
    if (folder.isEmpty())
        return subtitle;
    QFile source(subtitlePath);
    std::optional<SubtitleCopy> copy;
    if (source.open(QIODevice::ReadOnly)) {
        const QByteArray raw = source.readAll();
        if (source.error() == QFileDevice::NoError)
            copy = MakeSubtitleCopy(raw, format, options);
    }
    auto file = std::make_shared<QTemporaryFile>(
        folder + QStringLiteral("/subtitle-XXXXXX") +
        QLatin1String(SubtitleExtensions[std::size_t(copy ? copy->format : format)]));
    if (!file->open())
        return subtitle;
    subtitle.strPath = file->fileName();
    // A failed copy's file goes with file on return: the encoder finds no
    // subtitle there and draws none.
    if (!copy || file->write(copy->utf8) != copy->utf8.size() || !file->flush())
        return subtitle;
    file->close();
    subtitle.pCopy = std::move(file);
    subtitle.language = copy->text.language;
    subtitle.script = copy->text.script;
    return subtitle;
}

EncoderSubtitle EncodeSetting::PrepareSubtitle(const QString& subtitlePath,
                                               const QString& moviePath) const
{
    if (subtitlePath.isEmpty() || !QFileInfo(subtitlePath).isFile())
        return PrepareSubtitleCopy(subtitlePath, {});
    const MovieTiming timing = ProbeMovieTiming(moviePath);
    SubtitleCopyOptions options;
    options.codePage = m_nSubCodePage;
    options.frameRate = timing.dFrameRate;
    options.movieSeconds = timing.dSeconds;
    // The encoder draws the text at m_nSubSize per cent of the frame's
    // diagonal (measured: a full-width character is that wide).
    options.lineHalfWidths =
        LineHalfWidths(m_nSubSize / 100.0 * std::hypot(m_nVidW, m_nVidH), m_nVidW);
    EncoderSubtitle subtitle = PrepareSubtitleCopy(subtitlePath, options);
    subtitle.dDelaySeconds = timing.dStartSeconds;
    if (subtitle.language != QLocale::AnyLanguage)
        subtitle.strFont =
            FontPatternFor(QLocale(subtitle.language, subtitle.script, QLocale::AnyTerritory));
    return subtitle;
}

QString EncodeSetting::BuildCommandLine(const EncoderSubtitle& subtitle, const QString& outputPath,
                                        bool sampling, const StreamFile& job,
                                        const PictureTurn& turn) const
{
    const QString text = ComposeTemplates(*this, subtitle, sampling, job, turn);
    const Geometry geometry = PictureGeometry(job);

    // Values that sit between double quotes are escaped so that a quote in a
    // file name cannot end the quoted value and add options of its own.
    const std::vector<Placeholder> placeholders = {
        {QLatin1StringView("$PATH_OUT$"), EscapeQuotedValue(outputPath)},
        {QLatin1StringView("$PATH_VIDEO$"), EscapeQuotedValue(job.strFilePath)},
        {QLatin1StringView("$VID_BITRATE$"), FormatInt(m_nVidBitrate)},
        {QLatin1StringView("$VID_FPS$"), FormatReal(m_dVidFps)},
        {QLatin1StringView("$PATH_SUB$"), EscapeQuotedValue(subtitle.strPath)},
        {QLatin1StringView("$PATH_FONT$"),
         EscapeQuotedValue(subtitle.strFont.isEmpty() ? m_strPathFont : subtitle.strFont)},
        {QLatin1StringView("$SUB_POS$"), FormatInt(m_nSubPos)},
        {QLatin1StringView("$SUB_BLUR$"), FormatInt(m_nSubBlur)},
        {QLatin1StringView("$SUB_OUTLINE$"), FormatInt(m_nSubOutline)},
        {QLatin1StringView("$SUB_SIZE$"), FormatInt(m_nSubSize)},
        {QLatin1StringView("$AUD_BITRATE$"), FormatInt(m_nAudBitrate)},
        {QLatin1StringView("$VID_W$"), FormatInt(m_nVidW)},
        {QLatin1StringView("$VID_H$"), FormatInt(m_nVidH)},
        {QLatin1StringView("$VID_SCALE_W$"), FormatInt(geometry.scaleW)},
        {QLatin1StringView("$VID_SCALE_H$"), FormatInt(geometry.scaleH)},
        {QLatin1StringView("$VID_CROP_W$"), FormatInt(geometry.cropW)},
        {QLatin1StringView("$VID_CROP_H$"), FormatInt(geometry.cropH)},
        {QLatin1StringView("$AUD_VOL$"), FormatInt(m_nAudVol)},
        {QLatin1StringView("$AUD_ALGORITHM$"), FormatInt(m_nAudAlgorithm)},
        {QLatin1StringView("$AUD_MODE$"), FormatInt(m_nAudMode)},
        {QLatin1StringView("$AUD_VBR$"), FormatInt(m_nAudVbr)},
        {QLatin1StringView("$AUD_SRATE$"), FormatInt(m_nAudSrate)},
        {QLatin1StringView("$SUB_DELAY$"), FormatReal(subtitle.dDelaySeconds)},
    };
    QString result = Substitute(text, placeholders);

    if (m_bVolNorm)
        result += QLatin1StringView(" -af volnorm");
    result += m_strExtraOptions;
    return result;
}
