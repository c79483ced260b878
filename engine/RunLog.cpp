#include "RunLog.h"

#include "engine/EncodeProfile.h"
#include "shell/AppFolder.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// The start time in a log's file name, and a time in its text.
const QString NameTimeFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");
const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
// Enough for every run one machine can start within one second.
constexpr int MaxNamesPerSecond = 1000;

// The logs of the folder, oldest first: by start time, then by the number that
// tells runs of the same second apart ("_10" comes after "_9").
QStringList LogsOldestFirst(const QString& folder)
{
    static const QRegularExpression name(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d)(?:_(\\d+))?\\.log$"));
    std::vector<std::pair<std::pair<QString, int>, QString>> logs;
    for (const QString& file : QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files)) {
        const QRegularExpressionMatch match = name.match(file);
        if (match.hasMatch())
            logs.push_back({{match.captured(1), match.captured(2).toInt()}, file});
    }
    std::sort(logs.begin(), logs.end());
    QStringList files;
    for (const auto& log : logs)
        files << log.second;
    return files;
}

} // namespace

QString CRunLog::Folder()
{
    return GetStateDir() + QStringLiteral("/logs");
}

QString CRunLog::TimeText(const QDateTime& time)
{
    return time.toString(TimeFormat);
}

QString CRunLog::FileName(const QDateTime& start, int n)
{
    const QString stem = start.toString(NameTimeFormat);
    return n > 1 ? QStringLiteral("%1_%2.log").arg(stem).arg(n) : stem + QStringLiteral(".log");
}

bool CRunLog::Begin(const QDateTime& start, bool sampling)
{
    m_file.close();
    const QString folder = Folder();
    if (!QDir().mkpath(folder))
        return false;
    // Made only if the name is new, so that two runs (of two programs, say) that
    // start in the same second never share a log.
    for (int n = 1; n <= MaxNamesPerSecond && !m_file.isOpen(); ++n) {
        m_file.setFileName(folder + QLatin1Char('/') + FileName(start, n));
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !m_file.exists())
            return false;
    }
    if (!m_file.isOpen())
        return false;

    // By name, which is by local time: the log just made is never among the
    // removed, even when the clock went back (summer time ends) since older runs.
    const QString own = QFileInfo(m_file.fileName()).fileName();
    const QStringList logs = LogsOldestFirst(folder);
    for (qsizetype i = 0; i < logs.size() - KeptLogs; ++i) {
        if (logs[i] != own)
            QFile::remove(folder + QLatin1Char('/') + logs[i]);
    }

    Write(QStringLiteral("Clipvane run started %1%2\n")
              .arg(TimeText(start),
                   sampling ? QStringLiteral(" (sampling: the first %1 seconds of each movie)")
                                  .arg(SampleSeconds)
                            : QString()));
    return m_file.isOpen();
}

void CRunLog::WriteJob(const RunLogJob& job)
{
    QString text = QStringLiteral("\nJob %1 of %2\n").arg(job.nIndex + 1).arg(job.nCount);
    text += QStringLiteral("  Input:   %1\n").arg(job.strInput);
    text += QStringLiteral("  Output:  %1\n").arg(job.strOutput);
    for (const QString& note : job.arrNotes)
        text += QStringLiteral("  %1\n").arg(note);
    // A job that could not start has no command line; one of two passes has two.
    for (const QString& commandLine : job.arrCommandLines)
        text += QStringLiteral("  Command: %1\n").arg(commandLine);
    text += QStringLiteral("  End:     %1\n").arg(job.strEnd);
    if (job.bOutputRemoved)
        text += QStringLiteral("  Removed: the incomplete output file\n");
    text += QStringLiteral("  Time:    %1\n").arg(job.strTime);
    if (!job.arrLines.isEmpty()) {
        text += QStringLiteral("  The encoder's last lines:\n");
        for (const QString& line : job.arrLines)
            text += QStringLiteral("    ") + line + QLatin1Char('\n');
    }
    Write(text);
}

void CRunLog::End(const QString& text)
{
    Write(QLatin1Char('\n') + text + QLatin1Char('\n'));
    m_file.close();
}

void CRunLog::Write(const QString& text)
{
    if (!m_file.isOpen())
        return;
    const QByteArray bytes = text.toUtf8();
    // A full disk or a vanished folder ends the log, never the run.
    if (m_file.write(bytes) != bytes.size() || !m_file.flush())
        m_file.close();
}
