#include "SubtitleConverter.h"

#include "shell/Numbers.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

namespace {

const char ReplacementUtf8[] = "\xEF\xBF\xBD";

// Converts bytes in the given charset to UTF-8 with iconv. Undefined or
// truncated sequences become U+FFFD, one per offending byte, and conversion
// goes on, so one bad byte does not cost the rest of the file.
bool IconvToUtf8(const QByteArray& charset, const QByteArray& input, QByteArray* output)
{
    iconv_t cd = ::iconv_open("UTF-8", charset.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;

    QByteArray out;
    out.resize(input.size() * 3 + 16);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    size_t used = 0;
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
        ++in;
        --inLeft;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(cd);
    out.truncate(static_cast<qsizetype>(used));
    *output = out;
    return true;
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

} // namespace

QByteArray CodePageCharset(int codePage, QLocale::Language language)
{
    switch (codePage) {
    case 0:
        if (language == QLocale::Korean)
            return "CP949";
        if (language == QLocale::Japanese)
            return "CP932";
        return "CP1252";
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

bool ConvertSubtitleToUtf8(const QString& sourcePath, const QString& destinationPath, int codePage)
{
    if (sourcePath.isEmpty() || destinationPath.isEmpty())
        return false;
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;

    const QByteArray raw = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return false;

    QByteArray utf8;
    if (raw.startsWith("\xEF\xBB\xBF")) {
        // Marked as UTF-8: stray invalid bytes become U+FFFD rather than reaching
        // the encoder.
        utf8 = QString::fromUtf8(UpToFirstZero(raw.mid(3))).toUtf8();
    } else if (raw.startsWith("\xFF\xFE")) {
        utf8 = Utf16ToUtf8(raw.mid(2), QStringDecoder::Utf16LE);
    } else if (raw.startsWith("\xFE\xFF")) {
        utf8 = Utf16ToUtf8(raw.mid(2), QStringDecoder::Utf16BE);
    } else {
        const QByteArray text = UpToFirstZero(raw);
        if (IsValidUtf8(text)) {
            utf8 = text;
        } else {
            const QByteArray charset = CodePageCharset(codePage, QLocale::system().language());
            if (!IconvToUtf8(charset, text, &utf8))
                return false;
        }
    }
    utf8 = DelayEarlySamiCues(utf8);
    return destination.write(utf8) == utf8.size() && destination.flush();
}

QByteArray DelayEarlySamiCues(const QByteArray& text)
{
    static constexpr char Key[] = "start=";
    static constexpr qsizetype KeySize = sizeof Key - 1;
    // More than any number the encoder would read here needs.
    static constexpr qsizetype NumberWindow = 64;
    const QByteArray earliest = QByteArray::number(qlonglong(EarliestSamiCueMs));

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
        if (length > 0 && value < EarliestSamiCueMs) {
            result.append(text.constData() + copied, numberAt - copied);
            result.append(earliest);
            copied = numberAt + length;
        }
        at = numberAt;
    }
    result.append(text.constData() + copied, text.size() - copied);
    return result;
}

QString SubtitleWorkDir()
{
    // One folder per process, so two running copies never share a "temp.smi";
    // QTemporaryDir makes it 0700 and removes it at exit.
    static const QTemporaryDir dir(QDir::tempPath() + QLatin1String("/clipvane-XXXXXX"));
    return dir.isValid() ? dir.path() : QString();
}

QString TempSubtitlePath(int slot)
{
    const QString dir = SubtitleWorkDir();
    if (dir.isEmpty())
        return QString();
    return slot > 0 ? dir + QStringLiteral("/temp-%1.smi").arg(slot)
                    : dir + QLatin1String("/temp.smi");
}
