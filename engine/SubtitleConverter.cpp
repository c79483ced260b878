#include "SubtitleConverter.h"

#include "engine/SubtitleCues.h"
#include "jobs/MediaProbe.h"
#include "shell/AppFolder.h"
#include "shell/AppInfo.h"
#include "shell/Numbers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iconv.h>
#include <iterator>
#include <memory>
#include <type_traits>
#include <uchardet.h>

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

namespace {

const char ReplacementUtf8[] = "\xEF\xBF\xBD";

// Converts bytes in the given charset to UTF-8 with iconv. Undefined or
// truncated sequences become U+FFFD, one per offending byte, and conversion
// goes on, so one bad byte does not cost the rest of the file. faults, when
// given, receives how many bytes were replaced.
bool IconvToUtf8(const QByteArray& charset, const QByteArray& input, QByteArray* output,
                 qsizetype* faults = nullptr)
{
    iconv_t cd = ::iconv_open("UTF-8", charset.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;

    QByteArray out;
    out.resize(input.size() * 3 + 16);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    size_t used = 0;
    qsizetype replaced = 0;
    while (inLeft > 0) {
        char* outPtr = out.data() + used;
        size_t outLeft = static_cast<size_t>(out.size()) - used;
        const size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        used = static_cast<size_t>(outPtr - out.data());
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ (an undefined sequence) or EINVAL (a sequence cut off by the
        // end of the file): replace one byte and go on.
        if (static_cast<size_t>(out.size()) - used < sizeof ReplacementUtf8)
            out.resize(out.size() * 2);
        std::copy_n(ReplacementUtf8, sizeof ReplacementUtf8 - 1, out.data() + used);
        used += sizeof ReplacementUtf8 - 1;
        ++replaced;
        ++in;
        --inLeft;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(cd);
    out.truncate(static_cast<qsizetype>(used));
    *output = out;
    if (faults)
        *faults = replaced;
    return true;
}

// Whether at least percent of the two-byte characters of text in a Chinese code
// page lie in the rows of the common characters (leads from leadFrom to leadTo,
// trails from trailFrom).
bool MostlyCommonPairs(const QByteArray& bytes, uchar leadFrom, uchar leadTo, uchar trailFrom,
                       int percent)
{
    qsizetype pairs = 0;
    qsizetype common = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
        const uchar lead = uchar(bytes[i]);
        if (lead < 0x80)
            continue;
        const uchar trail = uchar(bytes[++i]);
        ++pairs;
        if (lead >= leadFrom && lead <= leadTo && trail >= trailFrom)
            ++common;
    }
    return pairs > 0 && common * 100 >= pairs * percent;
}

// Whether bytes read in the Korean, Japanese or Chinese code page give text of
// that language, not just characters: Latin text in Western European bytes
// often reads without a fault in them as well (as katakana, or as rare Chinese
// characters). Korean text is mostly Hangul syllables, Japanese text holds
// kana, Chinese text in GB18030 lies almost wholly in the rows of GB2312 and in
// Big5 mostly in its rows of symbols and common characters.
bool ReadsAsTextOf(const QByteArray& charset, const QByteArray& bytes)
{
    QByteArray utf8;
    qsizetype faults = 0;
    if (!IconvToUtf8(charset, bytes, &utf8, &faults) || faults > 0)
        return false;
    if (charset == "GB18030")
        return MostlyCommonPairs(bytes, 0xA1, 0xF7, 0xA1, 90);
    if (charset == "CP950")
        return MostlyCommonPairs(bytes, 0xA1, 0xC6, 0x40, 67);
    qsizetype letters = 0;
    qsizetype others = 0;
    for (const QChar c : QString::fromUtf8(utf8)) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            continue;
        const bool letter =
            charset == "CP949" ? u >= 0xAC00 && u <= 0xD7A3 : u >= 0x3040 && u <= 0x30FF;
        (letter ? letters : others) += 1;
    }
    return charset == "CP949" ? letters > 0 && letters >= others
                              : letters > 0 && letters * 3 >= others;
}

bool IsValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

QByteArray UpToFirstZero(const QByteArray& bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

// UTF-16 text (without its mark) to UTF-8, ending at the first zero character.
QByteArray Utf16ToUtf8(const QByteArray& bytes, QStringDecoder::Encoding encoding)
{
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    const qsizetype zero = text.indexOf(QChar(0));
    if (zero >= 0)
        text.truncate(zero);
    return text.toUtf8();
}

// UTF-16 without a byte-order mark: subtitle files are mostly markup, digits and
// blanks, each such character one zero byte and one non-zero byte. The byte order
// whose pattern holds for at least a quarter of the characters (up to the first
// zero character) and four times as often as the other one's; nothing for text
// in an 8-bit charset, which has no zero bytes.
std::optional<QStringDecoder::Encoding> MarklessUtf16(const QByteArray& bytes)
{
    qsizetype pairs = 0;
    qsizetype little = 0;
    qsizetype big = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2, ++pairs) {
        const bool lowZero = bytes[i] == '\0';
        const bool highZero = bytes[i + 1] == '\0';
        if (lowZero && highZero)
            break;
        little += highZero ? 1 : 0;
        big += lowZero ? 1 : 0;
    }
    const auto holds = [pairs](qsizetype count, qsizetype other) {
        return count >= 2 && count * 4 >= pairs && count >= other * 4;
    };
    if (holds(little, big))
        return QStringDecoder::Utf16LE;
    if (holds(big, little))
        return QStringDecoder::Utf16BE;
    return std::nullopt;
}

// What libuchardet names for the bytes, in upper case; empty when it is unsure.
QByteArray DetectorAnswer(const QByteArray& bytes)
{
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
        uchardet_new(), uchardet_delete);
    if (!detector ||
        uchardet_handle_data(detector.get(), bytes.constData(), size_t(bytes.size())) != 0)
        return {};
    uchardet_data_end(detector.get());
    return QByteArray(uchardet_get_charset(detector.get())).toUpper();
}

// The kinds of charsets the detector names, by how far its answer holds on a few
// lines of subtitle text (see DetectLegacyCharset).
enum class Family
{
    Cjk,
    Cyrillic,
    Latin,
    Other,
};

struct DetectedCharset
{
    const char* answer;  // the detector's name
    const char* charset; // what to read such a file in (iconv); null: by the system
    Family family;
};

// Windows' supersets where the detector names the standard they extend: files
// are written with the former.
constexpr DetectedCharset DetectedCharsets[] = {
    {"UHC", "CP949", Family::Cjk},
    {"EUC-KR", "CP949", Family::Cjk},
    {"ISO-2022-KR", "ISO-2022-KR", Family::Cjk},
    {"SHIFT_JIS", "CP932", Family::Cjk},
    {"EUC-JP", "EUC-JP", Family::Cjk},
    {"ISO-2022-JP", "ISO-2022-JP", Family::Cjk},
    {"GB18030", "GB18030", Family::Cjk},
    {"GB2312", "GB18030", Family::Cjk},
    {"BIG5", "CP950", Family::Cjk},
    {"EUC-TW", "EUC-TW", Family::Cjk},
    {"ISO-2022-CN", "ISO-2022-CN", Family::Cjk},
    {"WINDOWS-1251", "CP1251", Family::Cyrillic},
    {"MAC-CYRILLIC", "CP1251", Family::Cyrillic},
    {"KOI8-R", "KOI8-R", Family::Cyrillic},
    {"ISO-8859-5", "ISO-8859-5", Family::Cyrillic},
    {"IBM855", "IBM855", Family::Cyrillic},
    {"IBM866", "IBM866", Family::Cyrillic},
    {"WINDOWS-1252", nullptr, Family::Latin},
    {"WINDOWS-1250", nullptr, Family::Latin},
    {"WINDOWS-1254", nullptr, Family::Latin},
    {"WINDOWS-1257", nullptr, Family::Latin},
    {"ISO-8859-1", nullptr, Family::Latin},
    {"ISO-8859-2", nullptr, Family::Latin},
    {"ISO-8859-3", nullptr, Family::Latin},
    {"ISO-8859-4", nullptr, Family::Latin},
    {"ISO-8859-9", nullptr, Family::Latin},
    {"ISO-8859-10", nullptr, Family::Latin},
    {"ISO-8859-13", nullptr, Family::Latin},
    {"ISO-8859-15", nullptr, Family::Latin},
    {"ISO-8859-16", nullptr, Family::Latin},
    {"IBM852", nullptr, Family::Latin},
    {"MAC-CENTRALEUROPE", nullptr, Family::Latin},
};

bool IsOneOf(const QByteArray& charset, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&charset](const char* name) { return charset == name; });
}

// The language of a text's letters (SubtitleText::language).
void FindLanguage(SubtitleText& text)
{
    qsizetype hangul = 0;
    qsizetype kana = 0;
    qsizetype han = 0;
    for (const QChar c : QString::fromUtf8(text.utf8)) {
        const char16_t u = c.unicode();
        if ((u >= 0xAC00 && u <= 0xD7A3) || (u >= 0x1100 && u <= 0x11FF) ||
            (u >= 0x3130 && u <= 0x318F))
            ++hangul;
        else if ((u >= 0x3040 && u <= 0x30FF) || (u >= 0x31F0 && u <= 0x31FF) ||
                 (u >= 0xFF66 && u <= 0xFF9F))
            ++kana;
        else if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3400 && u <= 0x4DBF) ||
                 (u >= 0xF900 && u <= 0xFAFF))
            ++han;
    }
    // Korean text may hold Hanja and Japanese text is mostly Kanji: Hangul
    // and kana tell those two apart from Chinese.
    if (hangul > 0 && hangul >= kana) {
        text.language = QLocale::Korean;
    } else if (kana > 0) {
        text.language = QLocale::Japanese;
    } else if (han > 0) {
        text.language = QLocale::Chinese;
        text.script = IsOneOf(text.charset, {"CP950", "EUC-TW"}) ? QLocale::TraditionalHanScript
                                                                 : QLocale::SimplifiedHanScript;
    }
}

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

SubtitleFormat SubtitleFormatOf(const QString& path)
{
    static_assert(std::size(SubtitleExtensions) == std::size_t(SubtitleFormat::Other));
    const QString extension = PathExtension(path).toLower();
    for (std::size_t i = 0; i < std::size(SubtitleExtensions); ++i) {
        if (extension == QLatin1String(SubtitleExtensions[i]))
            return static_cast<SubtitleFormat>(i);
    }
    return SubtitleFormat::Other;
}

QByteArray LegacyCharsetOf(const QLocale& locale)
{
    switch (locale.language()) {
    case QLocale::Korean:
        return "CP949";
    case QLocale::Japanese:
        return "CP932";
    case QLocale::Chinese:
        return locale.script() == QLocale::TraditionalHanScript ? "CP950" : "GB18030";
    case QLocale::Serbian:
        return locale.script() == QLocale::LatinScript ? "CP1250" : "CP1251";
    case QLocale::Russian:
    case QLocale::Ukrainian:
    case QLocale::Belarusian:
    case QLocale::Bulgarian:
    case QLocale::Macedonian:
    case QLocale::Kazakh:
    case QLocale::Kyrgyz:
    case QLocale::Tatar:
        return "CP1251";
    case QLocale::Polish:
    case QLocale::Czech:
    case QLocale::Slovak:
    case QLocale::Hungarian:
    case QLocale::Slovenian:
    case QLocale::Croatian:
    case QLocale::Bosnian:
    case QLocale::Romanian:
    case QLocale::Albanian:
        return "CP1250";
    case QLocale::Greek:
        return "CP1253";
    case QLocale::Turkish:
    case QLocale::Azerbaijani:
        return "CP1254";
    case QLocale::Hebrew:
        return "CP1255";
    case QLocale::Arabic:
    case QLocale::Persian:
    case QLocale::Urdu:
        return "CP1256";
    case QLocale::Estonian:
    case QLocale::Latvian:
    case QLocale::Lithuanian:
        return "CP1257";
    case QLocale::Vietnamese:
        return "CP1258";
    case QLocale::Thai:
        return "CP874";
    default:
        return "CP1252";
    }
}

QByteArray CodePageCharset(int codePage, const QLocale& locale)
{
    switch (codePage) {
    case 0:
        return LegacyCharsetOf(locale);
    case 65001:
        return "UTF-8";
    case 1200:
        return "UTF-16LE";
    case 1201:
        return "UTF-16BE";
    default:
        return "CP" + QByteArray::number(codePage);
    }
}

QByteArray DetectLegacyCharset(const QByteArray& bytes, const QLocale& system)
{
    const QByteArray own = LegacyCharsetOf(system);
    const QByteArray answer = DetectorAnswer(bytes);
    const auto known =
        std::find_if(std::begin(DetectedCharsets), std::end(DetectedCharsets),
                     [&answer](const DetectedCharset& c) { return answer == c.answer; });
    const Family family = known != std::end(DetectedCharsets) ? known->family : Family::Other;
    if (family == Family::Cjk)
        return known->charset;
    if (answer.isEmpty())
        return own;
    if (family != Family::Cyrillic && IsOneOf(own, {"CP949", "CP932", "GB18030", "CP950"}) &&
        ReadsAsTextOf(own, bytes))
        return own;
    if (family == Family::Latin)
        return IsOneOf(own, {"CP1250", "CP1252", "CP1254", "CP1257", "CP1258"}) ? own : "CP1252";
    const QByteArray charset =
        known != std::end(DetectedCharsets) ? QByteArray(known->charset) : answer;
    QByteArray probe;
    return IconvToUtf8(charset, QByteArray(), &probe) ? charset : own;
}

std::optional<SubtitleText> DecodeSubtitle(const QByteArray& raw, int codePage,
                                           const QLocale& system)
{
    SubtitleText text;
    const std::optional<QStringDecoder::Encoding> markless = MarklessUtf16(raw);
    if (raw.startsWith("\xEF\xBB\xBF")) {
        // Marked as UTF-8: stray invalid bytes become U+FFFD rather than reaching
        // the encoder.
        text.utf8 = QString::fromUtf8(UpToFirstZero(raw.mid(3))).toUtf8();
        text.charset = "UTF-8";
    } else if (raw.startsWith("\xFF\xFE")) {
        text.utf8 = Utf16ToUtf8(raw.mid(2), QStringDecoder::Utf16LE);
        text.charset = "UTF-16LE";
    } else if (raw.startsWith("\xFE\xFF")) {
        text.utf8 = Utf16ToUtf8(raw.mid(2), QStringDecoder::Utf16BE);
        text.charset = "UTF-16BE";
    } else if (markless) {
        text.utf8 = Utf16ToUtf8(raw, *markless);
        text.charset = *markless == QStringDecoder::Utf16LE ? "UTF-16LE" : "UTF-16BE";
    } else {
        const QByteArray bytes = UpToFirstZero(raw);
        if (IsValidUtf8(bytes)) {
            text.utf8 = bytes;
            text.charset = "UTF-8";
        } else {
            text.charset = codePage == 0 ? DetectLegacyCharset(bytes, system)
                                         : CodePageCharset(codePage, system);
            if (!IconvToUtf8(text.charset, bytes, &text.utf8))
                return std::nullopt;
        }
    }
    FindLanguage(text);
    return text;
}

std::optional<SubtitleCopy> MakeSubtitleCopy(const QByteArray& raw, SubtitleFormat format,
                                             const SubtitleCopyOptions& options,
                                             const QLocale& system)
{
    std::optional<SubtitleText> text = DecodeSubtitle(raw, options.codePage, system);
    if (!text)
        return std::nullopt;
    SubtitleCopy copy{text->utf8, format, *text};
    const bool libass = options.renderer == SubtitleRenderer::Libass;
    const bool breaks = options.lineHalfWidths > 0 &&
                        (text->language == QLocale::Japanese || text->language == QLocale::Chinese);
    if (libass || breaks) {
        const QString utf16 = QString::fromUtf8(text->utf8);
        std::vector<SubtitleCue> cues;
        switch (format) {
        case SubtitleFormat::Sami:
            cues = ReadSamiCues(utf16);
            break;
        case SubtitleFormat::MicroDvd:
            cues = ReadMicroDvdCues(utf16, options.frameRate);
            break;
        case SubtitleFormat::SubRip:
            cues = ReadSubRipCues(utf16);
            break;
        case SubtitleFormat::Other:
            break;
        }
        // libass is given nothing rather than a file it would refuse.
        if (libass && cues.empty())
            return std::nullopt;
        if (BreakLongLines(cues, breaks ? options.lineHalfWidths : 0) || libass) {
            qint64 lastMs = 0;
            for (const SubtitleCue& cue : cues)
                lastMs = std::max(lastMs, cue.startMs + 5000);
            if (options.movieSeconds > 0 && std::isfinite(options.movieSeconds))
                lastMs = std::llround(options.movieSeconds * 1000);
            copy.utf8 = SubRipText(cues, lastMs);
            copy.format = SubtitleFormat::SubRip;
        }
    }
    if (libass)
        return copy;
    switch (copy.format) {
    case SubtitleFormat::Sami:
        copy.utf8 = DelayEarlySamiCues(copy.utf8);
        break;
    case SubtitleFormat::MicroDvd:
        copy.utf8 = DelayEarlyMicroDvdCues(copy.utf8, options.frameRate);
        break;
    case SubtitleFormat::SubRip:
        copy.utf8 = DelayEarlySubRipCues(copy.utf8);
        break;
    case SubtitleFormat::Other:
        break;
    }
    return copy;
}

std::optional<SubtitleText> ConvertSubtitleToUtf8(const QString& sourcePath,
                                                  const QString& destinationPath, int codePage,
                                                  double frameRate, const QLocale& system)
{
    if (sourcePath.isEmpty() || destinationPath.isEmpty())
        return std::nullopt;
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return std::nullopt;
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return std::nullopt;

    const QByteArray raw = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return std::nullopt;
    SubtitleCopyOptions options;
    options.codePage = codePage;
    options.frameRate = frameRate;
    const std::optional<SubtitleCopy> copy =
        MakeSubtitleCopy(raw, SubtitleFormatOf(sourcePath), options, system);
    if (!copy || destination.write(copy->utf8) != copy->utf8.size() || !destination.flush())
        return std::nullopt;
    return copy->text;
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

QString SubtitleWorkDir()
{
    // One folder per process, so two running copies never share a subtitle
    // copy; QTemporaryDir makes it 0700 and removes it at exit.
    static const QTemporaryDir dir(QDir::tempPath() + QLatin1Char('/') +
                                   QLatin1String(AppInfo::DesktopId) + QLatin1String("-XXXXXX"));
    return dir.isValid() ? dir.path() : QString();
}
