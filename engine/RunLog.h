#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

// One job's entry in the run log.
struct RunLogJob
{
    int nIndex = 0; // 0-based
    int nCount = 0; // jobs in the list
    QString strInput;
    QString strOutput;
    // The encoder's command lines, one for each of its runs (two passes give two).
    QStringList arrCommandLines;
    // What the encode tells of itself: a long movie's segments ("Segments: 12
    // segments of about 60 s", "Reused 5 of 12 segments (40 %)").
    QStringList arrNotes;
    // "finished", "failed: <why>", "stopped by the user" or "stopped: Clipvane
    // was asked to quit".
    QString strEnd;
    // The incomplete output file was deleted.
    bool bOutputRemoved = false;
    // How long the job took, as the run shows times.
    QString strTime;
    // The encoder's kept lines, written for failed jobs.
    QStringList arrLines;
};

// A plain-text log of one run in $XDG_STATE_HOME/Tolva/Clipvane/logs/ (by
// default ~/.local/state/Tolva/Clipvane/logs/), named by the run's start time
// ("2026-12-08_21-40-52.log", "..._2.log" for a second run in the same second);
// only the KeptLogs newest logs stay. Written on the UI thread in small appends
// at each job's end, without syncing to disk. Writing never fails a run: a log
// whose folder or file cannot be made or written is simply not (or no longer)
// written.
class CRunLog final
{
public:
    static constexpr int KeptLogs = 20;

    // The logs folder for the current environment.
    static QString Folder();
    // A time as the log shows it: "2026-12-08 21:40:52".
    static QString TimeText(const QDateTime& time);
    // "yyyy-MM-dd_HH-mm-ss.log", or with "_<n>" before ".log" for n > 1.
    static QString FileName(const QDateTime& start, int n);

    // Starts a new log for a run that started at start, and removes the oldest
    // logs so that KeptLogs remain. False when no log could be made.
    bool Begin(const QDateTime& start, bool sampling);
    void WriteJob(const RunLogJob& job);
    // Writes the run's last line and closes the log.
    void End(const QString& text);

    bool IsOpen() const { return m_file.isOpen(); }
    QString FilePath() const { return m_file.fileName(); }

private:
    void Write(const QString& text);

    QFile m_file;
};
