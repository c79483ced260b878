#pragma once

#include <optional>

#include <QByteArray>
#include <QLocale>

// The encoders read burnt-in subtitles as UTF-8 ("-utf8", "charenc=UTF-8"),
// while subtitle files are often written in the legacy code page of their
// language: what a subtitle file's bytes are, read as UTF-8 text.

// The code page subtitle files that are not Unicode are read in, as
// DecodeSubtitle takes it. No setting chooses another: 0, the charset
// detected, the system's legacy code page where the detector cannot tell.
inline constexpr int SubtitleCodePage = 0;

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
