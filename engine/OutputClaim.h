#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QByteArray>
#include <QString>
#include <QStringList>

// An output name held by this process while its movie is being made, so that
// no two processes (two clipvane-batch, cluster tasks on a shared folder, the
// window beside a batch; on one machine or over NFS) write the same output,
// and only a whole movie ever carries an output's name.
//
// A free name is claimed by making the output's own name, exclusively (a link
// to a private file, which is atomic over NFS too), holding a small record of
// its owner: the host, its boot, its process namespace, and the process id with
// its start time, so that a later process with the same id is not taken for
// the owner. A finished movie that is to be replaced stays under its name until
// the new one is whole; its claim is the hidden ".<name>.claim" beside it. The
// encoder writes a hidden file beside the name, ".<name>.<pid>.part", which the
// record names; Publish renames it over the name once the movie has passed the
// whole-movie check, so that a crash or a kill never leaves half a movie under
// an output's name. A claim that is let go (Release, or the object's end)
// removes what it made.
//
// Before a file is moved or removed it is checked to be the very file that was
// looked at (its device and inode): another process's claim, and a movie
// another process has just made, are never taken over.
class COutputClaim final
{
public:
    // What lies under an output's name.
    enum class Found
    {
        Nothing,
        // A finished file.
        Movie,
        // A claim: another process is making this output (or, from another
        // host, made it and ended without letting go).
        Claim,
        // Not a regular file (a folder, a link, a device).
        Other
    };
    static Found Inspect(const QString& path);

    // Why a job leaves out an output whose name is in use, in the program's
    // words.
    static QString InUseReason(Found held);

    // An attempt to claim a name.
    struct Attempt
    {
        // The claim; null when the name is in use or an error stopped it.
        std::unique_ptr<COutputClaim> claim;
        // What held the name.
        Found held = Found::Nothing;
        // Why the claim could not be made, in the system's words; empty when
        // it was made or the name is in use.
        QString strError;
    };
    // Claims path, with the temporary file beside it. With replaceMovie, a
    // finished file under the name does not hold it: it is replaced when the
    // new movie is published. A claim never gives way.
    static Attempt Take(const QString& path, bool replaceMovie);
    // Claims the first free name of named(1), named(2)... (the output's name
    // and its " (2)" copies), passing over those for which skip is true.
    static Attempt TakeFree(const std::function<QString(int copy)>& named,
                            const std::function<bool(const QString&)>& skip);

    ~COutputClaim();
    COutputClaim(const COutputClaim&) = delete;
    COutputClaim& operator=(const COutputClaim&) = delete;

    // The output's name, and the hidden file the encoder writes.
    const QString& Path() const { return m_strPath; }
    const QString& TempPath() const { return m_strTempPath; }

    // Renames from (by default the temporary file) to the output's name: the
    // output now is that movie, and the claim is done. False, with why in
    // *error, when the name is no longer this claim's (another process took
    // it) or the rename failed; nothing has moved then.
    bool Publish(QString* error, const QString& from = QString());

    // Lets the name go unpublished: removes the temporary file and the claim.
    // True when the temporary file held something (an incomplete movie).
    bool Release();

    // Removes what processes of this host that have ended left in folder:
    // claims whose owner is gone and the temporary files they name. Another
    // host's claims are left alone (whether their owner lives cannot be told
    // from here), and so is every file that is not such a claim or one that a
    // claim names. Returns how many files were removed.
    static int RemoveLeftovers(const QString& folder);
    // RemoveLeftovers for the folders of these outputs, each once.
    static int RemoveLeftoversFor(const QStringList& outputs);

    // Which file a name stands for: its device and inode.
    struct FileId
    {
        std::uint64_t nDevice = 0;
        std::uint64_t nInode = 0;
        bool operator==(const FileId&) const = default;
    };

private:
    COutputClaim() = default;

    QString m_strPath;
    QString m_strTempPath;
    // The file that holds the record: the output's name, or beside a movie
    // that is being replaced the hidden claim file.
    QString m_strClaimPath;
    FileId m_claimId;
    // The movie being replaced, as it was when the claim was made.
    bool m_bReplacing = false;
    FileId m_replacedId;
    bool m_bDone = false;
};
