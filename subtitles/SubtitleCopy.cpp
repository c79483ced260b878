#include "SubtitleCopy.h"

#include "jobs/MediaProbe.h"
#include "jobs/SubtitleFile.h"
#include "shell/AppFolder.h"
#include "subtitles/SubtitleCues.h"
#include "subtitles/SubtitleTiming.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include <QFile>

SubtitleFormat SubtitleFormatOf(const QString& path)
{
    static_assert(std::size(SubtitleExtensions) == std::size_t(SubtitleFormat::Other));
    const QString extension = PathExtension(path).toLower();
    for (std::size_t i = 0; i < std::size(SubtitleExtensions); ++i) {
        if (extension == QLatin1String(SubtitleExtensions[i]))
            return static_cast<SubtitleFormat>(i);
    }
    return SubtitleFormat::Other;
}

std::optional<SubtitleCopy> MakeSubtitleCopy(const QByteArray& raw, SubtitleFormat format,
                                             const SubtitleCopyOptions& options,
                                             const QLocale& system)
{
    std::optional<SubtitleText> text = DecodeSubtitle(raw, options.codePage, system);
    if (!text)
        return std::nullopt;
    SubtitleCopy copy{text->utf8, format, *text};
    const bool libass = options.renderer == SubtitleRenderer::Libass;
    const bool breaks = options.lineHalfWidths > 0 &&
                        (text->language == QLocale::Japanese || text->language == QLocale::Chinese);
    if (libass || breaks) {
        const QString utf16 = QString::fromUtf8(text->utf8);
        std::vector<SubtitleCue> cues;
        switch (format) {
        case SubtitleFormat::Sami:
            cues = ReadSamiCues(utf16);
            break;
        case SubtitleFormat::MicroDvd:
            cues = ReadMicroDvdCues(utf16, options.frameRate);
            break;
        case SubtitleFormat::SubRip:
            cues = ReadSubRipCues(utf16);
            break;
        case SubtitleFormat::Other:
            break;
        }
        // libass is given nothing rather than a file it would refuse.
        if (libass && cues.empty())
            return std::nullopt;
        if (BreakLongLines(cues, breaks ? options.lineHalfWidths : 0) || libass) {
            qint64 lastMs = 0;
            for (const SubtitleCue& cue : cues)
                lastMs = std::max(lastMs, cue.startMs + 5000);
            if (options.movieSeconds > 0 && std::isfinite(options.movieSeconds))
                lastMs = std::llround(options.movieSeconds * 1000);
            copy.utf8 = SubRipText(cues, lastMs);
            copy.format = SubtitleFormat::SubRip;
        }
    }
    if (libass)
        return copy;
    switch (copy.format) {
    case SubtitleFormat::Sami:
        copy.utf8 = DelayEarlySamiCues(copy.utf8);
        break;
    case SubtitleFormat::MicroDvd:
        copy.utf8 = DelayEarlyMicroDvdCues(copy.utf8, options.frameRate);
        break;
    case SubtitleFormat::SubRip:
        copy.utf8 = DelayEarlySubRipCues(copy.utf8);
        break;
    case SubtitleFormat::Other:
        break;
    }
    return copy;
}

std::optional<SubtitleText> ConvertSubtitleToUtf8(const QString& sourcePath,
                                                  const QString& destinationPath, int codePage,
                                                  double frameRate, const QLocale& system)
{
    if (sourcePath.isEmpty() || destinationPath.isEmpty())
        return std::nullopt;
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return std::nullopt;
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return std::nullopt;

    const QByteArray raw = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return std::nullopt;
    SubtitleCopyOptions options;
    options.codePage = codePage;
    options.frameRate = frameRate;
    const std::optional<SubtitleCopy> copy =
        MakeSubtitleCopy(raw, SubtitleFormatOf(sourcePath), options, system);
    if (!copy || destination.write(copy->utf8) != copy->utf8.size() || !destination.flush())
        return std::nullopt;
    return copy->text;
}
