#include "EncodeSetting.h"

#include "engine/CommandLine.h"
#include "engine/FrameGeometry.h"
#include "engine/Presets.h"
#include "jobs/MediaProbe.h"
#include "shell/AppFolder.h"
#include "subtitles/SubtitleLines.h"

#include <cmath>
#include <vector>

#include <QFileInfo>

namespace {

// The size of the subtitle's text, in per cent of the frame's diagonal.
constexpr int SubtitleTextScale = 5;

// The command-line vocabulary. Every piece begins with a space so pieces simply
// follow one another; the runs of spaces inside are part of the text. The
// options that no setting changes are written out: the MP3 encoder's, the
// subtitle's place (85 % down the picture), blur and outline, the volume
// normaliser and the languages of the subtitle track taken from a movie that
// carries several.
const QLatin1StringView
    InputOutputTemplate(" -noodml \"$PATH_VIDEO$\" -o \"$PATH_OUT$\" -ofps $VID_FPS$");
const QLatin1StringView ResizeTemplate(
    " -vf-add crop=$VID_CROP_W$:$VID_CROP_H$:-1:-1  -vf-add scale=$VID_SCALE_W$:$VID_SCALE_H$"
    " -vf-add expand=$VID_W$:$VID_H$:-1:-1:1");
const QLatin1StringView
    AudioTemplate(" -oac mp3lame -lameopts vbr=3  -lameopts br=$AUD_BITRATE$ -lameopts vol=0"
                  " -lameopts mode=1 -lameopts aq=7 -lameopts padding=3");
const QLatin1StringView SubtitleTemplate(
    " -font \"$PATH_FONT$\" -sub \"$PATH_SUB$\" -utf8 -subpos 85 -subfont-text-scale "
    "$SUB_SIZE$ -subfont-blur 2 -subfont-outline 2");
const QLatin1StringView TailTemplate(" -af volnorm -slang ko-KR,kr-KR");

// Put in front of the rest for an input whose content is an AVI or ASF file,
// whatever its name. The encoder's own AVI reader turns MPEG-4 AVI files
// (DivX/Xvid kind, also ones the encoder wrote itself) into a movie that shows
// the first picture throughout, while still exiting 0; libavformat reads every
// AVI kind right. Its own ASF reader gives the pictures of WMV files times at
// which most subtitle cues are never drawn. Without generated timestamps
// libavformat gives the frames of H.264 AVI files none, and the encoder then
// draws no subtitle on them.
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

// The video encoder's options for m_nEncoder (TemplateIndexFor, which keeps
// the numbers of the old encoder list); empty for any other number.
QLatin1StringView VideoEncoderTemplate(int encoder)
{
    switch (encoder) {
    case 0:
        return QLatin1StringView(
            " -ovc lavc -lavcopts vcodec=mpeg4   -lavcopts vbitrate=$VID_BITRATE$  -ffourcc DIVX");
    case 2:
        return QLatin1StringView(
            " -ovc lavc -lavcopts vcodec=msmpeg4 -lavcopts vbitrate=$VID_BITRATE$");
    case 3:
        return QLatin1StringView(
            " -ovc lavc -lavcopts vcodec=wmv1    -lavcopts vbitrate=$VID_BITRATE$");
    case 4:
        return QLatin1StringView(
            " -ovc lavc -lavcopts vcodec=wmv2    -lavcopts vbitrate=$VID_BITRATE$");
    default:
        return {};
    }
}

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

// The templates of one job's argument string, before the placeholders are
// filled in.
QString ComposeTemplates(const EncodeSetting& setting, const EncoderSubtitle& subtitle,
                         bool sampling, const StreamFile& job, const PictureTurn& turn)
{
    QString text;
    if (IsAviFile(job.strFilePath) || IsAsfFile(job.strFilePath)) {
        text += LibavformatInputOptions;
    } else if (IsTransportStreamFile(job.strFilePath)) {
        text += LibavformatInputOptions;
        text += TransportStreamAudioOptions;
    }
    text += InputOutputTemplate;
    text += TurnFilters(turn);
    text += ResizeTemplate;
    text += QLatin1StringView(" -srate $AUD_SRATE$");
    text += VideoEncoderTemplate(setting.m_nEncoder);
    text += AudioTemplate;
    if (sampling)
        text += QStringLiteral(" -endpos %1").arg(SampleSeconds);
    if (subtitle.bExists && setting.m_bBurnSubtitle) {
        text += SubtitleTemplate;
        if (HasDelay(subtitle))
            text += SubtitleDelayTemplate;
    }
    text += TailTemplate;
    return text;
}

} // namespace

EncodeSetting::EncodeSetting()
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
    m_bBurnSubtitle = true;
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

EncoderSubtitle EncodeSetting::PrepareSubtitle(const QString& subtitlePath,
                                               const QString& moviePath, int codePage) const
{
    if (subtitlePath.isEmpty() || !QFileInfo(subtitlePath).isFile())
        return PrepareSubtitleCopy(subtitlePath, {});
    const MovieTiming timing = ProbeMovieTiming(moviePath);
    SubtitleCopyOptions options;
    options.codePage = codePage;
    options.frameRate = timing.dFrameRate;
    options.movieSeconds = timing.dSeconds;
    // The encoder draws the text at SubtitleTextScale per cent of the frame's
    // diagonal (measured: a full-width character is that wide).
    options.lineHalfWidths =
        LineHalfWidths(SubtitleTextScale / 100.0 * std::hypot(m_nVidW, m_nVidH), m_nVidW);
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
    const FrameGeometry geometry =
        FrameGeometry::Of(m_nVidW, m_nVidH, m_strAspect, job.nWidth, job.nHeight);

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
        {QLatin1StringView("$SUB_SIZE$"), FormatInt(SubtitleTextScale)},
        {QLatin1StringView("$AUD_BITRATE$"), FormatInt(m_nAudBitrate)},
        {QLatin1StringView("$VID_W$"), FormatInt(m_nVidW)},
        {QLatin1StringView("$VID_H$"), FormatInt(m_nVidH)},
        {QLatin1StringView("$VID_SCALE_W$"), FormatInt(geometry.scaleW)},
        {QLatin1StringView("$VID_SCALE_H$"), FormatInt(geometry.scaleH)},
        {QLatin1StringView("$VID_CROP_W$"), FormatInt(geometry.cropW)},
        {QLatin1StringView("$VID_CROP_H$"), FormatInt(geometry.cropH)},
        {QLatin1StringView("$AUD_SRATE$"), FormatInt(m_nAudSrate)},
        {QLatin1StringView("$SUB_DELAY$"), FormatReal(subtitle.dDelaySeconds)},
    };
    return Substitute(text, placeholders);
}
