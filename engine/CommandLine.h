#pragma once

#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

// The encoder is started from one command-line string, split into arguments by the
// Windows command-line quoting rules and run directly, never through a shell.

// Splits a command line into its arguments: white space separates arguments, double
// quotes group, 2n backslashes before a quote give n backslashes and the quote
// toggles quoting, 2n+1 backslashes before a quote give n backslashes and a literal
// quote, other backslashes are literal.
QStringList SplitCommandLine(const QString& commandLine);

// Escapes a value that is placed between double quotes so that SplitCommandLine
// gives it back exactly. Values without double quotes and without trailing
// backslashes are returned unchanged.
QString EscapeQuotedValue(const QString& value);

// "\"%s\" %s" with the (escaped) program path and the argument string.
QString MakeProcessCommandLine(const QString& programPath, const QString& arguments);

// A process command line of the program and the arguments, each quoted so that
// SplitCommandLine gives it back whole.
QString QuotedCommandLine(const QString& programPath, const QStringList& arguments);

// Arguments in the file-name encoding, as the NULL-terminated array exec and
// posix_spawn take. Built before a fork, since only async-signal-safe calls may
// run between fork and exec.
class NativeArgv
{
public:
    explicit NativeArgv(const QStringList& arguments);
    NativeArgv(const NativeArgv&) = delete;
    NativeArgv& operator=(const NativeArgv&) = delete;

    char** Data() { return m_pointers.data(); }
    // The first argument (the program), empty when there are no arguments.
    QByteArray Program() const { return m_storage.empty() ? QByteArray() : m_storage.front(); }

private:
    std::vector<QByteArray> m_storage;
    std::vector<char*> m_pointers;
};
