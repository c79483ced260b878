#include "SubtitleCues.h"

#include "subtitles/SubtitleLines.h"
#include "subtitles/SubtitleTiming.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <QRegularExpression>

namespace {

// The lines of a cue without blank ones, each trimmed.
QStringList CueLines(const QStringList& lines)
{
    QStringList result;
    for (const QString& line : lines) {
        const QString trimmed = TrimmedLine(line);
        if (!trimmed.isEmpty())
            result << trimmed;
    }
    return result;
}

// Cues that start at given times and end where the next one starts (the last
// at endOfLast): the text of a start without lines is only an end.
struct TimedText
{
    qint64 startMs;
    QStringList lines;
};

std::vector<SubtitleCue> CuesUntilNext(std::vector<TimedText> timed, qint64 endOfLast)
{
    std::stable_sort(timed.begin(), timed.end(),
                     [](const TimedText& a, const TimedText& b) { return a.startMs < b.startMs; });
    std::vector<SubtitleCue> cues;
    for (std::size_t i = 0; i < timed.size(); ++i) {
        // Of several texts at one time the last one shows.
        if (i + 1 < timed.size() && timed[i + 1].startMs == timed[i].startMs)
            continue;
        const QStringList lines = CueLines(timed[i].lines);
        if (lines.isEmpty())
            continue;
        const qint64 end = i + 1 < timed.size() ? timed[i + 1].startMs : endOfLast;
        cues.push_back({timed[i].startMs, end, lines});
    }
    return cues;
}

// A SAMI character reference at text[at] ('&'): the character and the
// reference's length; nothing when it is not one.
std::optional<std::pair<QString, qsizetype>> EntityAt(const QString& text, qsizetype at)
{
    const qsizetype semicolon = text.indexOf(QLatin1Char(';'), at);
    if (semicolon < 0 || semicolon - at > 10)
        return std::nullopt;
    const QString name = text.mid(at + 1, semicolon - at - 1);
    const qsizetype length = semicolon - at + 1;
    if (name.startsWith(QLatin1Char('#'))) {
        bool ok = false;
        const bool hex = name.size() > 1 && name[1].toLower() == QLatin1Char('x');
        const uint code = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
        if (!ok || code == 0 || code > 0x10FFFF)
            return std::nullopt;
        const char32_t character = code;
        return std::pair{QString::fromUcs4(&character, 1), length};
    }
    static const struct
    {
        const char* name;
        char16_t character;
    } named[] = {{"nbsp", u' '}, {"amp", u'&'},  {"lt", u'<'},
                 {"gt", u'>'},   {"quot", u'"'}, {"apos", u'\''}};
    for (const auto& entity : named) {
        if (name.compare(QLatin1String(entity.name), Qt::CaseInsensitive) == 0)
            return std::pair{QString(QChar(entity.character)), length};
    }
    return std::nullopt;
}

// The value of a SAMI tag's attribute ("Start=1000", "Class=\"KRCC\""), given
// by a pattern made with AttributePattern; empty when the tag has none.
QRegularExpression AttributePattern(const char* name)
{
    return QRegularExpression(
        QStringLiteral("\\b%1\\s*=\\s*[\"']?([^\"'\\s>]*)").arg(QLatin1String(name)),
        QRegularExpression::CaseInsensitiveOption);
}

QString AttributeOf(const QString& tag, const QRegularExpression& pattern)
{
    return pattern.match(tag).captured(1);
}

// Builds a SAMI cue's lines from its text and tags.
class SamiLines
{
public:
    void Text(const QString& text, qsizetype from, qsizetype to)
    {
        for (qsizetype i = from; i < to; ++i) {
            const QChar c = text[i];
            if (c == QLatin1Char('&')) {
                if (const auto entity = EntityAt(text, i)) {
                    Append(entity->first);
                    i += entity->second - 1;
                    continue;
                }
            }
            if (IsBlank(c)) {
                m_bBlank = true;
                m_bLineEnd = m_bLineEnd || c == QLatin1Char('\n') || c == QLatin1Char('\r');
                continue;
            }
            Append(QString(c));
        }
    }
    void NewLine()
    {
        m_lines << m_line;
        m_line.clear();
        m_bBlank = false;
        m_bLineEnd = false;
    }
    QStringList Take()
    {
        NewLine();
        QStringList lines;
        std::swap(lines, m_lines);
        return lines;
    }

private:
    void Append(const QString& piece)
    {
        // A line end of the file between two Chinese or Japanese characters
        // joins them: that text has no spaces.
        if (m_bBlank && !m_line.isEmpty()) {
            const bool join = m_bLineEnd && IsChineseOrJapanese(m_line.back().unicode()) &&
                              IsChineseOrJapanese(piece.front().unicode());
            if (!join)
                m_line += QLatin1Char(' ');
        }
        m_bBlank = false;
        m_bLineEnd = false;
        m_line += piece;
    }

    QStringList m_lines;
    QString m_line;
    bool m_bBlank = false;
    bool m_bLineEnd = false;
};

} // namespace

std::vector<SubtitleCue> ReadSamiCues(const QString& text)
{
    static const QRegularExpression startPattern = AttributePattern("start");
    static const QRegularExpression classPattern = AttributePattern("class");
    const qsizetype body = text.indexOf(QLatin1String("<body"), 0, Qt::CaseInsensitive);
    std::vector<TimedText> timed;
    std::optional<qint64> start;
    SamiLines lines;
    QString firstClass;
    bool wanted = true;
    const auto finishCue = [&] {
        QStringList cueLines = lines.Take();
        if (start)
            timed.push_back({*start, cueLines});
    };
    qsizetype at = body < 0 ? 0 : body;
    while (at < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('<'), at);
        if (start && wanted)
            lines.Text(text, at, open < 0 ? text.size() : open);
        if (open < 0)
            break;
        if (text.mid(open, 4) == QLatin1String("<!--")) {
            const qsizetype close = text.indexOf(QLatin1String("-->"), open);
            at = close < 0 ? text.size() : close + 3;
            continue;
        }
        const qsizetype close = text.indexOf(QLatin1Char('>'), open);
        const QString tag = text.mid(open, (close < 0 ? text.size() : close + 1) - open);
        at = close < 0 ? text.size() : close + 1;
        static const QRegularExpression nameOf(QStringLiteral("^<\\s*(/?[A-Za-z]+)"));
        const QString name = nameOf.match(tag).captured(1).toLower();
        if (name == QLatin1String("sync")) {
            finishCue();
            bool ok = false;
            const qint64 ms = AttributeOf(tag, startPattern).toLongLong(&ok);
            start = ok ? std::optional<qint64>(std::max<qint64>(ms, 0)) : std::nullopt;
            wanted = true;
        } else if (name == QLatin1String("p")) {
            lines.NewLine();
            const QString cls = AttributeOf(tag, classPattern).toLower();
            if (firstClass.isEmpty())
                firstClass = cls;
            wanted = cls.isEmpty() || cls == firstClass;
        } else if (name == QLatin1String("br") || name == QLatin1String("/p")) {
            lines.NewLine();
        } else if (name == QLatin1String("/body")) {
            break;
        }
    }
    finishCue();
    return CuesUntilNext(std::move(timed), OpenEndMs);
}

std::vector<SubtitleCue> ReadMicroDvdCues(const QString& text, double frameRate)
{
    static const QRegularExpression cueLine(QStringLiteral("^\\{(\\d+)\\}\\{(\\d*)\\}(.*)$"));
    static const QRegularExpression codes(QStringLiteral("\\{[A-Za-z]:[^}]*\\}"));
    double rate = frameRate > 0 && std::isfinite(frameRate) ? frameRate : 25.0;
    struct Frames
    {
        qint64 start;
        std::optional<qint64> end;
        QStringList lines;
    };
    std::vector<Frames> read;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QRegularExpressionMatch match = cueLine.match(line);
        if (!match.hasMatch())
            continue;
        const qint64 start = match.captured(1).toLongLong();
        const QString body = match.captured(3);
        if (read.empty() && start == 1 && match.captured(2) == QLatin1String("1")) {
            // "{1}{1}23.976": the frames' rate.
            bool ok = false;
            const double given = body.trimmed().toDouble(&ok);
            if (ok && given > 0 && std::isfinite(given)) {
                rate = given;
                continue;
            }
        }
        QStringList lines;
        for (QString part : QString(body).remove(codes).split(QLatin1Char('|'))) {
            part = TrimmedLine(part);
            if (part.startsWith(QLatin1Char('/')))
                part.remove(0, 1);
            lines << part;
        }
        read.push_back({start,
                        match.captured(2).isEmpty()
                            ? std::nullopt
                            : std::optional<qint64>(match.captured(2).toLongLong()),
                        CueLines(lines)});
    }
    std::stable_sort(read.begin(), read.end(),
                     [](const Frames& a, const Frames& b) { return a.start < b.start; });
    const auto ms = [rate](qint64 frame) { return qint64(std::llround(frame * 1000.0 / rate)); };
    std::vector<SubtitleCue> cues;
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (read[i].lines.isEmpty())
            continue;
        const qint64 end = read[i].end           ? ms(*read[i].end)
                           : i + 1 < read.size() ? ms(read[i + 1].start)
                                                 : OpenEndMs;
        cues.push_back({ms(read[i].start), end, read[i].lines});
    }
    return cues;
}

std::vector<SubtitleCue> ReadSubRipCues(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    std::vector<std::optional<std::pair<qint64, qint64>>> timings;
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        timings.push_back(line.contains(QLatin1String("-->")) ? SubRipTimingOf(line.toUtf8())
                                                              : std::nullopt);
    }
    std::vector<SubtitleCue> cues;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!timings[std::size_t(i)])
            continue;
        SubtitleCue cue{timings[std::size_t(i)]->first, timings[std::size_t(i)]->second, {}};
        qsizetype j = i + 1;
        for (; j < lines.size() && !TrimmedLine(lines[j]).isEmpty() && !timings[std::size_t(j)];
             ++j)
            cue.lines << lines[j];
        // A next cue without a blank line before it: its number is not text.
        if (j < lines.size() && timings[std::size_t(j)] && !cue.lines.isEmpty()) {
            bool number = false;
            cue.lines.back().trimmed().toLongLong(&number);
            if (number)
                cue.lines.removeLast();
        }
        cue.lines = CueLines(cue.lines);
        if (!cue.lines.isEmpty())
            cues.push_back(cue);
        i = j - 1;
    }
    return cues;
}

QByteArray SubRipText(const std::vector<SubtitleCue>& cues, qint64 lastMs)
{
    QByteArray text;
    int number = 0;
    for (const SubtitleCue& cue : cues) {
        const QStringList lines = CueLines(cue.lines);
        const qint64 start = std::max<qint64>(cue.startMs, 0);
        const qint64 end = std::min({cue.endMs, lastMs, OpenEndMs});
        if (lines.isEmpty() || end <= start)
            continue;
        text += QByteArray::number(++number) + '\n' + SubRipTime(start) + " --> " +
                SubRipTime(end) + '\n' + lines.join(QLatin1Char('\n')).toUtf8() + "\n\n";
    }
    return text;
}

bool BreakLongLines(std::vector<SubtitleCue>& cues, int maxHalfWidths)
{
    bool broken = false;
    for (SubtitleCue& cue : cues) {
        QStringList lines;
        for (const QString& line : cue.lines) {
            const QStringList pieces = BreakLongLine(line, maxHalfWidths);
            broken = broken || pieces.size() > 1;
            lines << pieces;
        }
        cue.lines = lines;
    }
    return broken;
}
