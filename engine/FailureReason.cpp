#include "FailureReason.h"

#include <algorithm>
#include <cstring>

namespace {

// Words of the encoder's failure messages, as mencoder and the libraries under it
// print them: "Cannot open file/device.", "Cannot open demuxer.", "Failed to
// open the encoder.", "Couldn't open video filter", "File not found", "Sorry,
// this file format is not recognized/supported", "AVI: Missing video stream!?",
// "Exiting...", "Error while decoding frame!", "Filters have not been
// configured! Empty file?". Its everyday chatter ("Skipping frame!", "Forcing
// output FourCC", "duplicate frame(s)!") has none of them.
const char* const ErrorWords[] = {
    "error",      "fail",    "cannot",        "can't",          "couldn't",
    "could not",  "unable",  "not found",     "not recognized", "unsupported",
    "invalid",    "no such", "missing",       "denied",         "exiting",
    "empty file", "fatal",   "no space left", "corrupt",        "broken",
};

bool IsExitingLine(const QString& line)
{
    return line.startsWith(QLatin1String("Exiting"), Qt::CaseInsensitive);
}

// The line without the "=====" frames round some of the encoder's messages,
// cut to a length a tooltip can show.
QString Shown(const QString& line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    const auto frame = [](QChar c) { return c == QLatin1Char('=') || c.isSpace(); };
    while (begin < end && frame(line[begin]))
        ++begin;
    while (end > begin && frame(line[end - 1]))
        --end;
    QString text = begin < end ? line.mid(begin, end - begin) : line.trimmed();
    if (text.size() > CFailureReason::MaxShownLineLength)
        text = text.left(CFailureReason::MaxShownLineLength - 1) + QChar(0x2026);
    return text;
}

QString ExitHeadline(const ChildExit& exit)
{
    switch (exit.kind) {
    case ChildExit::Kind::Exited:
        return QStringLiteral("The encoder ended with exit code %1.").arg(exit.code);
    case ChildExit::Kind::Signalled: {
        const char* name = ::strsignal(exit.code);
        return QStringLiteral("The encoder was ended by signal %1 (%2).")
            .arg(exit.code)
            .arg(name ? QString::fromLocal8Bit(name) : QStringLiteral("unknown"));
    }
    case ChildExit::Kind::Unknown:
        break;
    }
    return QStringLiteral("The encoder's end could not be read.");
}

} // namespace

CFailureReason::CFailureReason(QString cause, QString headline, QStringList lines)
    : m_strCause(std::move(cause))
    , m_strHeadline(std::move(headline))
    , m_arrLines(std::move(lines))
{
}

std::optional<CFailureReason> CFailureReason::ForEnd(const ChildExit& exit, Output output,
                                                     const QStringList& kept,
                                                     std::span<const EncoderCause> causes)
{
    QString headline;
    if (!exit.Succeeded())
        headline = ExitHeadline(exit);
    else if (output == Output::Missing)
        headline = QStringLiteral("The encoder exited with code 0 but wrote no output file.");
    else if (output == Output::Empty)
        headline = QStringLiteral("The encoder exited with code 0 but left an empty output file.");
    else if (WroteNoPicture(kept))
        headline = QStringLiteral("The encoder exited with code 0 but wrote no picture.");
    else
        return std::nullopt;
    return CFailureReason(CauseIn(kept, causes), headline, PickLines(kept));
}

QString CFailureReason::CauseIn(const QStringList& lines, std::span<const EncoderCause> causes)
{
    for (const EncoderCause& cause : causes) {
        const QLatin1String words(cause.words);
        if (std::any_of(lines.cbegin(), lines.cend(),
                        [&words](const QString& line) { return line.contains(words); }))
            return QString::fromLatin1(cause.sentence);
    }
    return QString();
}

bool CFailureReason::WroteNoPicture(const QStringList& kept)
{
    // The encoder's closing summary, e.g. "Video stream:     -nan kbit/s
    // (-2147483648 B/s)  size: 0 bytes  0.000 secs  1 frames" for a movie whose
    // pictures could not be decoded: the file holds a header and no picture.
    return std::any_of(kept.cbegin(), kept.cend(), [](const QString& line) {
        return line.startsWith(QLatin1String("Video stream:")) &&
               line.contains(QLatin1String(" size: 0 bytes"));
    });
}

CFailureReason CFailureReason::ForIncompleteOutput(const QString& problem, bool diskFull,
                                                   const QStringList& kept,
                                                   std::span<const EncoderCause> causes)
{
    return CFailureReason(diskFull ? QString::fromLatin1(DiskFullCause) : CauseIn(kept, causes),
                          problem, PickLines(kept));
}

bool CFailureReason::SaysDiskFull(const QStringList& kept)
{
    return std::any_of(kept.cbegin(), kept.cend(), [](const QString& line) {
        return line.contains(QLatin1String("No space left on device"), Qt::CaseInsensitive);
    });
}

CFailureReason CFailureReason::NotStarted(const QString& encoderPath, const QString& error)
{
    // The path goes on a line of its own: the headline stays the program's words.
    return CFailureReason(
        QString(), QStringLiteral("The encoder could not be started."),
        {error.isEmpty() ? encoderPath : encoderPath + QStringLiteral(": ") + error});
}

CFailureReason CFailureReason::BeforeStart(const QString& why, const QStringList& lines)
{
    return CFailureReason(QString(), why, lines);
}

CFailureReason CFailureReason::OverBudget(std::uint64_t bytes, std::uint64_t budget,
                                          const QStringList& kept)
{
    const auto megabytes = [](std::uint64_t n) { return QString::number(double(n) / 1e6, 'f', 1); };
    return CFailureReason(QString(),
                          QStringLiteral("The output is %1 MB, over its %2 MB.")
                              .arg(megabytes(bytes), megabytes(budget)),
                          PickLines(kept));
}

bool CFailureReason::LooksLikeError(const QString& line)
{
    for (const char* word : ErrorWords) {
        if (line.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QStringList CFailureReason::PickLines(const QStringList& kept)
{
    QStringList errors;
    for (const QString& line : kept) {
        if (LooksLikeError(line))
            errors << line;
    }
    const QStringList& source = errors.isEmpty() ? kept : errors;
    QStringList shown;
    for (qsizetype i = std::max<qsizetype>(0, source.size() - MaxShownLines); i < source.size();
         ++i)
        shown << Shown(source[i]);
    return shown;
}

QString CFailureReason::Details() const
{
    QStringList all{m_strHeadline};
    if (!m_strCause.isEmpty())
        all.prepend(m_strCause);
    all += m_arrLines;
    return all.join(QLatin1Char('\n'));
}

QString CFailureReason::OneLine() const
{
    return m_strCause.isEmpty() ? m_strHeadline : m_strCause + QLatin1Char(' ') + m_strHeadline;
}

QString CFailureReason::Summary() const
{
    if (!m_strCause.isEmpty())
        return m_strCause;
    for (auto it = m_arrLines.crbegin(); it != m_arrLines.crend(); ++it) {
        if (!LooksLikeError(*it) || IsExitingLine(*it))
            continue;
        const QChar last = it->back();
        const bool ended =
            last == QLatin1Char('.') || last == QLatin1Char('!') || last == QLatin1Char('?');
        return ended ? *it : *it + QLatin1Char('.');
    }
    return m_strHeadline;
}
