#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

// The encoder reads burnt-in subtitles as UTF-8 ("-utf8"), while ".smi" files are
// often written in the legacy code page of their language. Before a job, the
// subtitle is copied as UTF-8 to "temp.smi" in a folder private to this process.

// Converts the SAMI subtitle file at sourcePath to UTF-8 and writes it, without a
// byte-order mark and with early cues delayed (DelayEarlySamiCues), to
// destinationPath (created or emptied). A source that starts with a UTF-8 or
// UTF-16 byte-order mark, or that is valid UTF-8 throughout, is taken as Unicode;
// anything else is read in codePage (0: the legacy code page of the system
// language). Text ends at the first zero character. Bytes the code page does not
// define become U+FFFD. False when either file cannot be opened, the code page is
// unknown or the write fails.
bool ConvertSubtitleToUtf8(const QString& sourcePath, const QString& destinationPath, int codePage);

// The iconv name of a Windows code page number: 0 means the legacy code page of
// the language (CP949 Korean, CP932 Japanese, CP1252 otherwise), 65001 UTF-8,
// 1200/1201 UTF-16, any other n "CP<n>".
QByteArray CodePageCharset(int codePage, QLocale::Language language);

// A folder only this process uses (mode 0700), made on first use and removed at
// exit; empty when it cannot be made.
QString SubtitleWorkDir();

// <SubtitleWorkDir()>/temp.smi, the UTF-8 copy the encoder is given; empty when
// the folder cannot be made. Encoders running at the same time each have their
// own copy: slot n > 0 of a run gets "temp-<n>.smi".
QString TempSubtitlePath(int slot = 0);

// The encoder does not draw a cue that is already showing when it reads the
// first picture (it starts drawing only at the next change of subtitle), and how
// late that first picture comes depends on the movie: one frame for MPEG program
// streams, four or five for H.264 with B-frames, where a cue starting at 0.2 s
// was still lost in trials and one at 0.24 s was drawn. Cues that start earlier
// than this are therefore moved to start here: they show a little late instead
// of not at all.
constexpr long EarliestSamiCueMs = 300;

// SAMI text with every cue time ("Start=" followed by a number, read as the
// encoder reads it: any case, C rules for the number) below EarliestSamiCueMs
// set to EarliestSamiCueMs. Everything else stays byte for byte. Of several
// cues that start before that time only the last then shows, as it would at
// that time anyway.
QByteArray DelayEarlySamiCues(const QByteArray& text);
