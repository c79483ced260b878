#pragma once

#include "jobs/MovieFolder.h"

#include <optional>

#include <QObject>
#include <QString>
#include <QTimer>

class CMovieJobList;

// The job list kept on disk, so that the next start shows it again: the jobs in
// their order with what was learnt of each movie, its relative output folder,
// each row's status and reason and its "Encoding Size(MB)" text. Every change of the list (a job
// added or removed, a row's status) is saved: the first change starts a short delay and the changes
// made during it are saved together, so that adding a thousand files writes a few times, not a
// thousand. Each save writes a new file and renames it over the old one (QSaveFile), so a crash or
// a full disk in the middle of a save leaves the previous list whole. A save still pending when the
// store goes is made then. Lives on the list's thread; nothing of it is ever
// shown to the user (failures are debug lines).
class CJobListStore final : public QObject
{
    Q_OBJECT

public:
    static constexpr int SaveDelayMs = 200;

    // The saved list for the current environment: jobs.json in GetStateDir()
    // ($XDG_STATE_HOME/Tolva/Clipvane). The path is taken when the store is made.
    static QString FilePath();

    explicit CJobListStore(CMovieJobList& list, QObject* parent = nullptr);
    ~CJobListStore() override;

    // Appends the saved jobs to the list. A job whose movie is gone shows
    // "Missing"; one that was "Encoding..." when the list was saved (the program
    // ended during a run) shows "Ready". A saved file that cannot be read or is
    // not a job list is renamed to "<file>.damaged" (replacing an older one) and
    // the list stays as it is. Returns the number of jobs appended.
    int Load();

    // Writes the list now; false when it could not be written (the old file then
    // stays as it was).
    bool SaveNow();

    // A list saved where the user chose (Save List...), in the same format and
    // written the same way; false, with the reason in *error, when it could not
    // be written.
    static bool WriteListFile(const CMovieJobList& list, const QString& path,
                              QString* error = nullptr);
    // The movies of such a file (or of a kept list) with their relative output
    // folders, in its order (Open List...); nothing, with the reason in *error,
    // when it cannot be read or is not a job list.
    static std::optional<QVector<MovieSource>> ReadListFile(const QString& path,
                                                            QString* error = nullptr);
    bool IsSavePending() const { return m_saveTimer.isActive(); }

private:
    void ScheduleSave();
    // Moves a saved file that could not be loaded out of the way.
    void SetAside(const QString& why);

    CMovieJobList& m_list;
    QString m_strPath;
    QTimer m_saveTimer;
    bool m_bLoading = false;
    bool m_bReportedWriteFailure = false;
};
