#pragma once

#include <optional>
#include <utility>

#include <QByteArray>
#include <QLocale>
#include <QString>

// The encoders read burnt-in subtitles as UTF-8 ("-utf8", "charenc=UTF-8"),
// while subtitle files are often written in the legacy code page of their
// language. Before a job, the subtitle is copied as UTF-8 into a folder private
// to this process, in the form its renderer reads right (SubtitleRenderer).

// The subtitle formats found beside a movie, told by the file's extension: in
// the order of SubtitleExtensions (jobs/MediaProbe.h).
enum class SubtitleFormat
{
    Sami,     // ".smi"
    MicroDvd, // ".sub"
    SubRip,   // ".srt"
    Other,
};

// The format a subtitle file's name says (its extension in any case).
SubtitleFormat SubtitleFormatOf(const QString& path);

// A subtitle's text and what it was read as.
struct SubtitleText
{
    // The text as UTF-8, up to its first zero character.
    QByteArray utf8;
    // The iconv name of what the bytes were read in: "UTF-8", "UTF-16LE",
    // "CP949", ...
    QByteArray charset;
    // The language the text's letters are of, where they tell one: Korean
    // (Hangul), else Japanese (kana), else Chinese (Han characters; traditional
    // script when read as Big5). AnyLanguage for every other text.
    QLocale::Language language = QLocale::AnyLanguage;
    QLocale::Script script = QLocale::AnyScript;
};

// Reads subtitle bytes as text. A UTF-8 or UTF-16 byte-order mark, text that is
// valid UTF-8 throughout and UTF-16 without a mark (told by its zero bytes) are
// Unicode. Anything else is read in codePage: 0 has the charset detected
// (DetectLegacyCharset, with system's language), any other number is the file's.
// Bytes the charset does not define become U+FFFD. Nothing when the code page is
// unknown.
std::optional<SubtitleText> DecodeSubtitle(const QByteArray& raw, int codePage,
                                           const QLocale& system);

// The charset of subtitle bytes that are not Unicode, as an iconv name, from
// libuchardet and the system's language (LegacyCharsetOf):
// - a Korean, Japanese or Chinese answer of the detector is taken: its
//   multi-byte models hold even on a few lines;
// - the detector is weak on a few lines of those languages and then names a
//   single-byte charset: the system's own Korean, Japanese or Chinese code page
//   wins when the bytes read as text of its language (without a fault, mostly
//   Hangul, with kana, or in the rows of the common Chinese characters);
// - a Cyrillic answer is taken (Mac Cyrillic read as CP1251, which is what
//   such files are);
// - the detector cannot tell the Latin code pages apart on short texts
//   (French comes out as Central European): a Latin answer gives the system's
//   Latin code page, CP1252 on any other system;
// - any other answer (Greek, Hebrew, Arabic, Thai, ...) is taken;
// - no answer, or one iconv does not know: the system's code page.
QByteArray DetectLegacyCharset(const QByteArray& bytes, const QLocale& system);

// The legacy ("ANSI") code page of a language, as Windows gives it, as an iconv
// name: CP949 Korean, CP932 Japanese, GB18030 Chinese (CP950 in traditional
// script), CP1251 Cyrillic languages, CP1250 Central European, CP1253 Greek,
// CP1254 Turkish, CP1255 Hebrew, CP1256 Arabic, CP1257 Baltic, CP1258
// Vietnamese, CP874 Thai, CP1252 every other.
QByteArray LegacyCharsetOf(const QLocale& locale);

// The iconv name of a Windows code page number: 0 means the legacy code page of
// the locale (LegacyCharsetOf), 65001 UTF-8, 1200/1201 UTF-16, any other n
// "CP<n>".
QByteArray CodePageCharset(int codePage, const QLocale& locale);

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
    int codePage = 0;
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

// The start and end of a SubRip timing line ("00:00:01,000 --> 00:00:02,500",
// read as the encoder reads it) in milliseconds; nothing for another line.
std::optional<std::pair<qint64, qint64>> SubRipTimingOf(const QByteArray& line);

// A time in SubRip's form: "01:02:03,456".
QByteArray SubRipTime(qint64 ms);

// A folder only this process uses (mode 0700), made on first use and removed at
// exit; empty when it cannot be made. The UTF-8 copies of subtitles live there.
QString SubtitleWorkDir();

// The encoder does not draw a cue that is already showing when it reads the
// first picture (it starts drawing only at the next change of subtitle), and how
// late that first picture comes depends on the movie: one frame for MPEG program
// streams, four or five for H.264 with B-frames, where a cue starting at 0.2 s
// was still lost in trials and one at 0.24 s was drawn. Cues that start earlier
// than this are therefore moved to start here: they show a little late instead
// of not at all.
constexpr long EarliestCueMs = 300;

// SAMI text with every cue time ("Start=" followed by a number, read as the
// encoder reads it: any case, C rules for the number) below EarliestCueMs set to
// EarliestCueMs. Everything else stays byte for byte. Of several cues that start
// before that time only the last then shows, as it would at that time anyway.
QByteArray DelayEarlySamiCues(const QByteArray& text);

// MicroDVD text ("{start}{end}text" lines in frames of the movie) with every cue
// that starts before EarliestCueMs starting at the first frame at or after it
// (frameRate: the movie's; 0 or less: 25). A cue that would then end before it
// starts keeps its length. The first line "{1}{1}<frame rate>", which gives the
// frame rate, stays; so does everything else, byte for byte.
QByteArray DelayEarlyMicroDvdCues(const QByteArray& text, double frameRate);

// SubRip text with every cue ("h:m:s,ms --> h:m:s,ms") that starts before
// EarliestCueMs starting at it ("00:00:00,300"); a cue that would then end
// before it starts keeps its length. Everything else stays byte for byte.
QByteArray DelayEarlySubRipCues(const QByteArray& text);
