#pragma once

#include <QString>
#include <QStringList>

// A subtitle's lines of text: the characters they are made of, and long Chinese
// and Japanese lines broken, which no renderer here wraps (they break lines at
// spaces only).

// Blanks between words: spaces, tabs, line ends, the no-break and the
// ideographic space.
bool IsBlank(char32_t u);
bool IsBlank(QChar c);

// Whether a character takes the width of two Latin ones (East Asian wide and
// full-width characters: Hangul, kana, Han characters, full-width forms).
bool IsWide(char32_t u);

// Chinese and Japanese characters (not Hangul: Korean is written with spaces).
bool IsChineseOrJapanese(char32_t u);

// The line without the blanks at either end.
QString TrimmedLine(const QString& line);

// How many half-width characters (a Chinese or Japanese character is two) fit
// on a line of a picture pictureWidth pixels wide when a full-width character
// takes glyphPixels: nine tenths of the width, for the margins and outline.
int LineHalfWidths(double glyphPixels, int pictureWidth);

// A line holding Chinese or Japanese characters that is wider than
// maxHalfWidths, broken into as few lines of about equal width as fit: after
// the space or the phrase's end ("、", "，", "。") nearest to where the line's
// share ends, else never inside a run of Latin letters or digits, never before
// closing punctuation or small kana nor after opening punctuation. Markup
// ("<i>", "{\an8}") takes no width. Any other line is given back as it is.
QStringList BreakLongLine(const QString& line, int maxHalfWidths);
