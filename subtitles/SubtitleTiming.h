#pragma once

#include <optional>
#include <utility>

#include <QByteArray>

// Cue times as the encoders read them: SubRip's timing lines, and the early
// cues of each format moved to where mencoder draws them.

// The start and end of a SubRip timing line ("00:00:01,000 --> 00:00:02,500",
// read as the encoder reads it) in milliseconds; nothing for another line.
std::optional<std::pair<qint64, qint64>> SubRipTimingOf(const QByteArray& line);

// A time in SubRip's form: "01:02:03,456".
QByteArray SubRipTime(qint64 ms);

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
