#include "CommandLine.h"

#include <QFile>

namespace {

bool IsSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

QStringList SplitCommandLine(const QString& commandLine)
{
    QStringList arguments;
    QString current;
    // An argument exists once any character of it, or a quote, has been seen: ""
    // alone is an empty argument, not nothing.
    bool inArgument = false;
    bool quoted = false;
    const qsizetype length = commandLine.size();
    qsizetype i = 0;
    while (i < length) {
        const QChar c = commandLine.at(i);
        if (c == QLatin1Char('\\')) {
            qsizetype slashes = 0;
            while (i < length && commandLine.at(i) == QLatin1Char('\\')) {
                ++slashes;
                ++i;
            }
            inArgument = true;
            if (i < length && commandLine.at(i) == QLatin1Char('"')) {
                current.append(QString(slashes / 2, QLatin1Char('\\')));
                if (slashes % 2 == 1) {
                    current.append(QLatin1Char('"'));
                    ++i;
                }
                // With an even count the quote is left for the next round, where
                // it toggles quoting.
            } else {
                current.append(QString(slashes, QLatin1Char('\\')));
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inArgument = true;
            ++i;
            continue;
        }
        if (!quoted && IsSeparator(c)) {
            if (inArgument) {
                arguments.append(current);
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        current.append(c);
        inArgument = true;
        ++i;
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}

QString EscapeQuotedValue(const QString& value)
{
    if (!value.contains(QLatin1Char('"')) && !value.endsWith(QLatin1Char('\\')))
        return value;

    QString escaped;
    escaped.reserve(value.size() + 8);
    const qsizetype length = value.size();
    qsizetype i = 0;
    while (i < length) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\')) {
            qsizetype slashes = 0;
            while (i < length && value.at(i) == QLatin1Char('\\')) {
                ++slashes;
                ++i;
            }
            // Backslashes count only before a quote, and the value's end is
            // followed by the closing quote: both runs are doubled there.
            if (i == length || value.at(i) == QLatin1Char('"'))
                slashes *= 2;
            escaped.append(QString(slashes, QLatin1Char('\\')));
            continue;
        }
        if (c == QLatin1Char('"'))
            escaped.append(QLatin1Char('\\'));
        escaped.append(c);
        ++i;
    }
    return escaped;
}

QString MakeProcessCommandLine(const QString& programPath, const QString& arguments)
{
    return QLatin1Char('"') + EscapeQuotedValue(programPath) + QLatin1String("\" ") + arguments;
}

NativeArgv::NativeArgv(const QStringList& arguments)
{
    m_storage.reserve(static_cast<std::size_t>(arguments.size()));
    for (const QString& argument : arguments)
        m_storage.push_back(QFile::encodeName(argument));
    for (QByteArray& argument : m_storage)
        m_pointers.push_back(argument.data());
    m_pointers.push_back(nullptr);
}

QString QuotedCommandLine(const QString& programPath, const QStringList& arguments)
{
    QStringList quoted;
    for (const QString& argument : arguments)
        quoted << QLatin1Char('"') + EscapeQuotedValue(argument) + QLatin1Char('"');
    return MakeProcessCommandLine(programPath, QLatin1Char(' ') + quoted.join(QLatin1Char(' ')));
}
