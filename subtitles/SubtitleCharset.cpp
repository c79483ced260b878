#include "SubtitleCharset.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <iterator>
#include <memory>
#include <type_traits>
#include <uchardet.h>

#include <QString>
#include <QStringDecoder>

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

} // namespace

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
