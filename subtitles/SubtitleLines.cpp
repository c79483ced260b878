#include "SubtitleLines.h"

#include <algorithm>
#include <string_view>
#include <vector>

bool IsBlank(char32_t u)
{
    return u == ' ' || u == '\t' || u == '\r' || u == '\n' || u == 0x00A0 || u == 0x3000;
}

bool IsBlank(QChar c)
{
    return IsBlank(char32_t(c.unicode()));
}

bool IsWide(char32_t u)
{
    return (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0x303E) ||
           (u >= 0x3041 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3) ||
           (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F) ||
           (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6) ||
           (u >= 0x20000 && u <= 0x3FFFD);
}

bool IsChineseOrJapanese(char32_t u)
{
    return IsWide(u) && !(u >= 0x1100 && u <= 0x115F) && !(u >= 0xAC00 && u <= 0xD7A3) &&
           !(u >= 0x3130 && u <= 0x318F);
}

QString TrimmedLine(const QString& line)
{
    qsizetype from = 0;
    qsizetype to = line.size();
    while (from < to && IsBlank(line[from]))
        ++from;
    while (to > from && IsBlank(line[to - 1]))
        --to;
    return line.mid(from, to - from);
}

namespace {

// SubRip markup at line[at], which takes no room on the screen: a tag
// ("<i>", "</font>") or an override block ("{\an8}"); its length, 0 for none.
qsizetype MarkupAt(const QString& line, qsizetype at)
{
    const QChar c = line[at];
    if (c == QLatin1Char('{')) {
        const qsizetype close = line.indexOf(QLatin1Char('}'), at);
        return close < 0 ? 0 : close - at + 1;
    }
    if (c == QLatin1Char('<') && at + 1 < line.size() &&
        (line[at + 1].isLetter() || line[at + 1] == QLatin1Char('/'))) {
        const qsizetype close = line.indexOf(QLatin1Char('>'), at);
        return close < 0 ? 0 : close - at + 1;
    }
    return 0;
}

// One unit of a line for breaking: a character (two code units for one
// outside the basic plane) or a piece of markup.
struct Unit
{
    qsizetype at;
    qsizetype length;
    int width;
    char32_t character; // 0 for markup
};

std::vector<Unit> UnitsOf(const QString& line)
{
    std::vector<Unit> units;
    for (qsizetype i = 0; i < line.size();) {
        if (const qsizetype markup = MarkupAt(line, i)) {
            units.push_back({i, markup, 0, 0});
            i += markup;
            continue;
        }
        char32_t u = line[i].unicode();
        qsizetype length = 1;
        if (line[i].isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            u = QChar::surrogateToUcs4(line[i], line[i + 1]);
            length = 2;
        }
        units.push_back({i, length, IsWide(u) ? 2 : 1, u});
        i += length;
    }
    return units;
}

// Characters a line may not start with: closing punctuation, small kana, the
// prolonged sound mark, iteration marks.
bool ClosesOrFollows(char32_t u)
{
    static const std::u32string_view closing =
        U"、。，．・：；？！ー～ゝゞ々」』）］｝〕〉》】〙〗’”…‥"
        U"ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶ)]},.!?:;%";
    return closing.find(u) != std::u32string_view::npos;
}

// Characters a line may not end with: opening punctuation.
bool Opens(char32_t u)
{
    static const std::u32string_view opening = U"「『（［｛〔〈《【〘〖‘“([{";
    return opening.find(u) != std::u32string_view::npos;
}

bool IsWordCharacter(char32_t u)
{
    return u != 0 && !IsWide(u) && !IsBlank(u) && !ClosesOrFollows(u) && !Opens(u);
}

// Characters after which a line ends well: blanks and the punctuation that
// ends a phrase.
bool EndsPhrase(char32_t u)
{
    static const std::u32string_view ends = U"、。，．！？；：」』）】〉》,.!?;:)";
    return IsBlank(u) || ends.find(u) != std::u32string_view::npos;
}

// Where the line that starts at unit lineStart ends, when unit at is the first
// past the line's share of the text and no line may be wider than
// maxHalfWidths: after the space or phrase end nearest to at, from the line's
// middle on; else at, moved back to the start of a Latin word and off
// punctuation that must stay with its neighbour; at itself when that leaves
// too little on the line.
std::size_t BreakBefore(const std::vector<Unit>& units, std::size_t lineStart, std::size_t at,
                        int maxHalfWidths)
{
    std::size_t best = 0;
    int width = 0;
    for (std::size_t i = lineStart + 1; i < units.size(); ++i) {
        width += units[i - 1].width;
        if (width + units[i].width > maxHalfWidths)
            break;
        const char32_t before = units[i - 1].character;
        const char32_t after = units[i].character;
        // Latin punctuation inside a word or number ("3.5") ends no phrase.
        const bool phraseEnd = EndsPhrase(before) && !ClosesOrFollows(after) &&
                               !(before < 0x80 && !IsBlank(before) && IsWordCharacter(after));
        const auto distance = [at](std::size_t i) { return i > at ? i - at : at - i; };
        if (phraseEnd && i > lineStart + (at - lineStart) / 2 &&
            (best == 0 || distance(i) < distance(best)))
            best = i;
    }
    if (best > 0)
        return best;
    std::size_t b = at;
    while (b > lineStart + 1 &&
           (ClosesOrFollows(units[b].character) || Opens(units[b - 1].character) ||
            (IsWordCharacter(units[b - 1].character) && IsWordCharacter(units[b].character))))
        --b;
    return b > lineStart + 1 ? b : at;
}

// The line cut into lines before the given units.
QStringList Pieces(const QString& line, const std::vector<Unit>& units,
                   const std::vector<std::size_t>& breaks)
{
    QStringList pieces;
    qsizetype from = 0;
    for (const std::size_t b : breaks) {
        pieces << TrimmedLine(line.mid(from, units[b].at - from));
        from = units[b].at;
    }
    pieces << TrimmedLine(line.mid(from));
    return pieces;
}

} // namespace

int LineHalfWidths(double glyphPixels, int pictureWidth)
{
    if (!(glyphPixels > 0) || pictureWidth <= 0)
        return 0;
    return std::max(2, static_cast<int>(2 * 0.9 * pictureWidth / glyphPixels));
}

QStringList BreakLongLine(const QString& line, int maxHalfWidths)
{
    const std::vector<Unit> units = UnitsOf(line);
    int total = 0;
    bool chineseOrJapanese = false;
    for (const Unit& unit : units) {
        total += unit.width;
        chineseOrJapanese = chineseOrJapanese || IsChineseOrJapanese(unit.character);
    }
    if (maxHalfWidths <= 0 || total <= maxHalfWidths || !chineseOrJapanese)
        return {line};
    // As few lines as hold the text, each about as wide as the others; one more
    // when moving breaks off punctuation and words left a line too wide.
    for (int count = (total + maxHalfWidths - 1) / maxHalfWidths; count <= total; ++count) {
        const int target = (total + count - 1) / count;
        std::vector<std::size_t> breaks;
        std::size_t lineStart = 0;
        while (int(breaks.size()) < count - 1) {
            // The first unit past the line's share.
            std::size_t at = lineStart + 1;
            for (int width = units[lineStart].width;
                 at < units.size() && width + units[at].width <= target; ++at)
                width += units[at].width;
            if (at >= units.size())
                break;
            lineStart = BreakBefore(units, lineStart, at, maxHalfWidths);
            breaks.push_back(lineStart);
        }
        const QStringList pieces = Pieces(line, units, breaks);
        const bool fits = std::all_of(pieces.begin(), pieces.end(), [&](const QString& piece) {
            int w = 0;
            for (const Unit& unit : UnitsOf(piece))
                w += unit.width;
            return w <= maxHalfWidths;
        });
        if (fits)
            return pieces;
    }
    return {line};
}
