#pragma once

#include "subtitles/SubtitleCharset.h"

#include <optional>

#include <QByteArray>
#include <QLocale>
#include <QString>

// A subtitle's UTF-8 copy in the form its renderer reads right: its text
// (SubtitleCharset), its cues (SubtitleCues), its long lines
// (SubtitleLines) and its early cues (SubtitleTiming) put together.

// The subtitle formats found beside a movie, told by the file's extension: in
// the order of SubtitleExtensions (jobs/SubtitleFile.h).
enum class SubtitleFormat
{
    Sami,     // ".smi"
    MicroDvd, // ".sub"
    SubRip,   // ".srt"
    Other,
};

// The format a subtitle file's name says (its extension in any case).
SubtitleFormat SubtitleFormatOf(const QString& path);

// Who draws a subtitle, which decides the form of its copy.
enum class SubtitleRenderer
{
    // mencoder's own renderer: the copy keeps the file's format, its early cues
    // delayed as the format needs (DelayEarlySamiCues, DelayEarlyMicroDvdCues,
    // DelayEarlySubRipCues). Chinese or Japanese text with a line too long
    // for the picture is written as SubRip instead, with its lines broken.
    Mencoder,
    // libass (ffmpeg's subtitles filter and text tracks): always SubRip, the
    // cues at their times, long Chinese and Japanese lines broken. FFmpeg's
    // own SAMI reader refuses files with the common "&nbsp;" clearing cue.
    Libass,
};

struct SubtitleCopyOptions
{
    SubtitleRenderer renderer = SubtitleRenderer::Mencoder;
    // As DecodeSubtitle takes it: 0 has the charset detected.
    int codePage = SubtitleCodePage;
    // The movie's frame rate, in which MicroDVD counts; 0 when unknown.
    double frameRate = 0;
    // The movie's length: a SubRip copy's cues end by its end (0: unknown,
    // then 5 s after the last cue starts).
    double movieSeconds = 0;
    // The widest line in half-width characters (LineHalfWidths); 0 breaks none.
    int lineHalfWidths = 0;
};

// A subtitle's UTF-8 copy for its renderer, without a byte-order mark: its
// bytes, their format, and what the text was read as.
struct SubtitleCopy
{
    QByteArray utf8;
    SubtitleFormat format = SubtitleFormat::Other;
    SubtitleText text;
};

// The copy of a subtitle file's bytes (DecodeSubtitle) in the given format
// (its name's) for a renderer. Nothing when the code page is unknown, or for
// libass when the file holds no cue it can read.
std::optional<SubtitleCopy> MakeSubtitleCopy(const QByteArray& raw, SubtitleFormat format,
                                             const SubtitleCopyOptions& options,
                                             const QLocale& system = QLocale::system());

// Converts the subtitle file at sourcePath to UTF-8 for mencoder
// (MakeSubtitleCopy, its format told by its name, frameRate the movie's, 0 when
// unknown; no line broken) and writes it to destinationPath (created or
// emptied). Nothing when either file cannot be opened, the code page is
// unknown or the write fails.
std::optional<SubtitleText> ConvertSubtitleToUtf8(const QString& sourcePath,
                                                  const QString& destinationPath, int codePage,
                                                  double frameRate = 0,
                                                  const QLocale& system = QLocale::system());
