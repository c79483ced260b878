#include "SubtitleTiming.h"

#include "shell/Numbers.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include <QString>

namespace {

// The position just after the line that starts at from (its "\n" included).
qsizetype LineEnd(const QByteArray& text, qsizetype from)
{
    const qsizetype newline = text.indexOf('\n', from);
    return newline < 0 ? text.size() : newline + 1;
}

// A number at text[at], before limit, as the encoder's sscanf("%d") reads it;
// its length in *length (0: none).
qint64 NumberAt(const QByteArray& text, qsizetype at, qsizetype limit, qsizetype* length)
{
    std::size_t taken = 0;
    const std::string_view rest(text.constData() + at,
                                std::size_t(std::max<qsizetype>(limit - at, 0)));
    const qint64 value = LeadingNumber<qint64>(rest.substr(0, 32), 10, &taken);
    *length = qsizetype(taken);
    return value;
}

// Where a cue that starts before the earliest moment starts and ends instead:
// at the earliest moment, ending where it did unless that would be before its
// new start; then it keeps its length.
std::pair<qint64, qint64> DelayedCue(qint64 start, qint64 end, qint64 earliest)
{
    return {earliest, end > earliest ? end : earliest + std::max<qint64>(end - start, 0)};
}

// A SubRip time "h:m:s,ms" (also with "." before the milliseconds, as the
// encoder reads it) at text[at], before limit; its length in *length, 0 when
// there is none.
qint64 SubRipTimeAt(const QByteArray& text, qsizetype at, qsizetype limit, qsizetype* length)
{
    qint64 parts[4] = {};
    qsizetype pos = at;
    *length = 0;
    for (int i = 0; i < 4; ++i) {
        qsizetype taken = 0;
        parts[i] = NumberAt(text, pos, limit, &taken);
        if (taken == 0)
            return 0;
        pos += taken;
        if (i == 3)
            break;
        const char separator = pos < limit ? text[pos] : '\0';
        if (separator != ':' && !(i == 2 && (separator == ',' || separator == '.')))
            return 0;
        ++pos;
    }
    *length = pos - at;
    return ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000 + parts[3];
}

// The times of a SubRip timing line "start --> end" that begins at line and
// ends before next, and where its end time ends.
struct SubRipTiming
{
    qint64 start;
    qint64 end;
    qsizetype endsAt;
};

std::optional<SubRipTiming> SubRipTimingAt(const QByteArray& text, qsizetype line, qsizetype next)
{
    qsizetype length = 0;
    const qint64 start = SubRipTimeAt(text, line, next, &length);
    if (length == 0)
        return std::nullopt;
    qsizetype at = line + length;
    while (at < next && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (text.mid(at, 3) != "-->")
        return std::nullopt;
    at += 3;
    const qint64 end = SubRipTimeAt(text, at, next, &length);
    if (length == 0)
        return std::nullopt;
    return SubRipTiming{start, end, at + length};
}

} // namespace

QByteArray SubRipTime(qint64 ms)
{
    return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60,
                             ms / 1000 % 60, ms % 1000)
        .toLatin1();
}

std::optional<std::pair<qint64, qint64>> SubRipTimingOf(const QByteArray& line)
{
    const std::optional<SubRipTiming> timing = SubRipTimingAt(line, 0, line.size());
    if (!timing)
        return std::nullopt;
    return std::pair{timing->start, timing->end};
}

QByteArray DelayEarlySamiCues(const QByteArray& text)
{
    static constexpr char Key[] = "start=";
    static constexpr qsizetype KeySize = sizeof Key - 1;
    // More than any number the encoder would read here needs.
    static constexpr qsizetype NumberWindow = 64;
    const QByteArray earliest = QByteArray::number(qlonglong(EarliestCueMs));

    // Lower-casing touches ASCII letters only, so positions stay the same.
    const QByteArray lower = text.toLower();
    QByteArray result;
    result.reserve(text.size() + 64);
    qsizetype copied = 0;
    qsizetype at = 0;
    while ((at = lower.indexOf(Key, at)) >= 0) {
        const qsizetype numberAt = at + KeySize;
        const QByteArray window = text.mid(numberAt, NumberWindow);
        std::size_t length = 0;
        const qint64 value = LeadingNumber<qint64>(window.toStdString(), 0, &length);
        if (length > 0 && value < EarliestCueMs) {
            result.append(text.constData() + copied, numberAt - copied);
            result.append(earliest);
            copied = numberAt + length;
        }
        at = numberAt;
    }
    result.append(text.constData() + copied, text.size() - copied);
    return result;
}

QByteArray DelayEarlyMicroDvdCues(const QByteArray& text, double frameRate)
{
    const double rate = frameRate > 0 && std::isfinite(frameRate) ? frameRate : 25.0;
    const qint64 earliest = qint64(std::ceil(EarliestCueMs * rate / 1000.0 - 1e-9));
    QByteArray result;
    result.reserve(text.size() + 64);
    bool firstCue = true;
    for (qsizetype line = 0; line < text.size();) {
        const qsizetype next = LineEnd(text, line);
        // "{start}{end}" or "{start}{}" at the start of the line.
        qsizetype startLength = 0;
        qsizetype endLength = 0;
        const qint64 start = text[line] == '{' ? NumberAt(text, line + 1, next, &startLength) : 0;
        const qsizetype endAt = line + 1 + startLength + 2;
        const bool opened = startLength > 0 && text.mid(line + 1 + startLength, 2) == "}{";
        const qint64 end = opened ? NumberAt(text, endAt, next, &endLength) : 0;
        const bool cue = opened && endAt + endLength < next && text[endAt + endLength] == '}';
        const bool rateLine = firstCue && start == 1 && end == 1;
        if (cue && !rateLine && start < earliest) {
            const auto [newStart, newEnd] =
                DelayedCue(start, endLength > 0 ? end : start, earliest);
            result += '{' + QByteArray::number(newStart) + "}{";
            if (endLength > 0)
                result += QByteArray::number(newEnd);
            result.append(text.constData() + endAt + endLength, next - endAt - endLength);
        } else {
            result.append(text.constData() + line, next - line);
        }
        firstCue = firstCue && !cue;
        line = next;
    }
    return result;
}

QByteArray DelayEarlySubRipCues(const QByteArray& text)
{
    QByteArray result;
    result.reserve(text.size() + 64);
    for (qsizetype line = 0; line < text.size();) {
        const qsizetype next = LineEnd(text, line);
        const std::optional<SubRipTiming> timing = SubRipTimingAt(text, line, next);
        if (timing && timing->start < EarliestCueMs) {
            const auto [start, end] = DelayedCue(timing->start, timing->end, EarliestCueMs);
            result += SubRipTime(start) + " --> " + SubRipTime(end);
            result.append(text.constData() + timing->endsAt, next - timing->endsAt);
        } else {
            result.append(text.constData() + line, next - line);
        }
        line = next;
    }
    return result;
}
