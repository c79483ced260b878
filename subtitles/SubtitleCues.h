#pragma once

#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

// Subtitles as timed cues: read from SAMI, MicroDVD and SubRip text, and
// written as SubRip for libass (ffmpeg's subtitles filter and its text tracks)
// and for mencoder where their lines had to be broken.

// One cue: its lines of text (SubRip markup such as "<i>" kept where the file
// had it) from startMs until endMs.
struct SubtitleCue
{
    qint64 startMs = 0;
    qint64 endMs = 0;
    QStringList lines;

    bool operator==(const SubtitleCue&) const = default;
};

// A cue nothing ends (the last cue of a SAMI file without a clearing cue) lasts
// until this time, after any movie's end.
constexpr qint64 OpenEndMs = 359999999;

// SAMI: each "<SYNC Start=ms>" (any case, the value quoted or not) starts a cue
// that ends at the next SYNC's start. Its text comes from the paragraphs
// ("<P>") of the file's first class, so that a file holding two languages
// gives one of them; "<BR>" and each paragraph start a line, other tags are
// dropped, entities ("&amp;", "&#44608;", ...) are decoded, and blanks and line
// ends run together into one space (a line end between Chinese or Japanese
// characters into none: that text has no spaces). A cue left without text
// ("&nbsp;") only ends the one before it.
std::vector<SubtitleCue> ReadSamiCues(const QString& text);

// MicroDVD: "{start}{end}text" lines in frames at frameRate (0 or less: 25),
// or at the rate a first line "{1}{1}23.976" gives; "|" separates the lines
// of a cue, "{y:i}"-style codes and a leading "/" (italics) are dropped. An
// empty end ("{}") lasts until the next cue.
std::vector<SubtitleCue> ReadMicroDvdCues(const QString& text, double frameRate);

// SubRip: a timing line "h:m:s,ms --> h:m:s,ms" and the lines below it up to a
// blank line (or up to the number line of the next cue, should the blank line
// be missing).
std::vector<SubtitleCue> ReadSubRipCues(const QString& text);

// The cues as a UTF-8 SubRip file, numbered from 1, without the cues that have
// no text or end before they start; a cue that would last beyond lastMs ends
// there (a text track's muxer refuses a cue of many hours, and a track that
// outlasts the movie makes it longer).
QByteArray SubRipText(const std::vector<SubtitleCue>& cues, qint64 lastMs = OpenEndMs);

// Breaks every long line of the cues (BreakLongLine); true when one was broken.
bool BreakLongLines(std::vector<SubtitleCue>& cues, int maxHalfWidths);
