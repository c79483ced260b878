#pragma once

#include "engine/SegmentCommand.h"
#include "engine/SegmentPlan.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

// The work folder of one segmented encode: its finished segments and sound,
// kept until the output is finished, with what they were made from, so that an
// encode ended by a crash, a kill, a reboot or Stop continues from its first
// unfinished segment, and one whose movie or profile changed starts over.
//
// The folder holds manifest.json (the movie's path, size and time, the profile's
// fingerprint and the plan's cut points), the finished pieces under their own
// names (SegmentCommand's file names) and beside each a record of what it holds
// (video-0001.json: its bytes, frames, checksum and codec configuration). A
// piece's run writes it under a temporary name (PartPath); Finish checks it,
// writes its record and renames it, so that a piece under its own name with its
// record was written whole, and a half-written one is never taken. Several
// processes (two encodes at once, cluster tasks with the folder on a shared
// disk) may work in one folder: each writes only its own pieces, and every
// file is written whole under another name and renamed.
class CSegmentWork final
{
public:
    // What the pieces are made from.
    struct Source
    {
        QString strMovie;
        std::uint64_t ullBytes = 0;
        std::int64_t llModifiedMs = 0;
        // SegmentCommand::ProfileFingerprint.
        QByteArray profile;

        // The movie's size and modification time as the file system tells now.
        static Source Of(const QString& moviePath, const QByteArray& profile);
        bool operator==(const Source&) const = default;
    };

    // A job's work folder: segments/<a hash of the movie's and the output's
    // paths> in stateDir (GetStateDir() for the program's own).
    static QString FolderFor(const QString& stateDir, const QString& moviePath,
                             const QString& outputPath);

    // The work of request's segmented encode by plan, in folder: the source is
    // the request's movie as it is now and its profile's fingerprint.
    CSegmentWork(const QString& folder, const FfmpegCommand::Request& request,
                 const SegmentPlan& plan);

    // Takes the folder for this source and plan: when its manifest names another
    // movie, size, time, profile or plan, or there is none, the folder is
    // emptied and this one written; otherwise each piece under its own name
    // with a record that matches its size is kept. False, with the reason, when
    // the folder cannot be made or written.
    bool Open(QString* error = nullptr);
    // What Open would keep, as ResumePercent, without changing the folder: 0
    // when it holds nothing of this source and plan.
    int StoredResumePercent() const;

    // What the folder's manifest says of this work, changing nothing: there is
    // none, it is this source's and plan's, or another's. A process that must
    // not start the work over (a cluster task beside others) looks before it
    // opens.
    enum class Stored
    {
        Nothing,
        Same,
        Other
    };
    Stored Inspect() const;

    bool IsFinished(int index) const;
    bool IsSoundFinished() const { return m_bSoundFinished; }
    // The segments kept by Open and the share of the movie they hold, a whole
    // percentage: the row's "Resumes at 63 %".
    int ReusedCount() const { return m_nReused; }
    int ResumePercent() const;
    // The segments still to make, in order.
    std::vector<int> Unfinished() const;

    QString Folder() const { return m_strFolder; }
    QString SegmentPath(int index) const;
    QString SoundPath() const;
    // Where a piece's run writes it: a name of this host's and process's own
    // beside the piece's, which Finish checks and renames; what a killed
    // process left under such a name goes with Remove.
    QString PartPath(int index) const;
    QString SoundPartPath() const;

    // After a segment's run ended well: checks what it wrote (it opens, its
    // index lies inside the file, its first picture decodes, it holds the
    // planned frames: the first one from its planned first frame), records it
    // and gives it its own name. What is wrong otherwise, naming the segment;
    // the part is then removed.
    std::optional<QString> Finish(int index);
    std::optional<QString> FinishSound();

    // Before the join: every segment and the sound present and as recorded
    // (bytes, checksum, frames, the same codec configuration throughout); the
    // join's list written. What is wrong otherwise, naming the first missing or
    // damaged piece; a damaged one is removed, so that the next run makes it
    // again.
    std::optional<QString> CheckJoin(SegmentCommand::JoinPieces& pieces);

    // Removes what the work wrote, and the folder when nothing else is left in
    // it (once the output is finished). Nothing but the work's own files is
    // ever removed, from here or by Open.
    bool Remove();

private:
    struct Record
    {
        std::int64_t nBytes = -1;
        std::int64_t nFrames = 0;
        QByteArray md5;
        QByteArray config;
        // A segment's first picture; the sound's SoundCopy.
        double dFirstSeconds = 0;
        double dDelaySeconds = 0;
    };

    QString PieceName(int index) const;
    QString PiecePath(int index) const;
    QString RecordPath(int index) const;
    std::optional<Record> ReadRecord(int index) const;
    bool WriteRecord(int index, const Record& record) const;
    std::optional<QString> Problem(int index, const QString& path, Record& record) const;
    std::optional<QString> Keep(int index, const QString& part);
    QString Name(int index) const;
    QByteArray Manifest() const;
    bool ManifestMatches() const;
    // A piece under its own name with a record of its size.
    bool IsKept(int index) const;

    QString m_strFolder;
    Source m_source;
    SegmentPlan m_plan;
    // The sound's file name; empty for a movie without sound.
    QString m_strSoundName;
    std::vector<bool> m_finished;
    bool m_bSoundFinished = false;
    int m_nReused = 0;
};
