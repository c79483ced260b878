#include "OutputClaim.h"

#include "engine/Redirect.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>

namespace {

using FileId = COutputClaim::FileId;

// The longest file name the file systems take, in bytes.
constexpr qsizetype MaxNameBytes = 255;
// A claim's record is a few short lines: a larger file is not one.
constexpr qint64 MaxRecordBytes = 2048;
constexpr char RecordMagic[] = "Clipvane output claim\n";
constexpr char TempLine[] = "\ntemp: ";
// How many names a claim tries for its own hidden files, and how many copies
// of an output's name TakeFree tries.
constexpr int MaxTags = 100;
constexpr int MaxCopies = 100000;

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray ReadSmallFile(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.read(256).trimmed() : QByteArray();
}

// The owner a record names: the host (its name and machine id), the host's
// boot, the process namespace and the process (CRedirect::OwnMark).
struct Owner
{
    QByteArray host;
    QByteArray machine;
    QByteArray boot;
    QByteArray pids;
    QByteArray process;
};

const Owner& Me()
{
    static const Owner me = [] {
        Owner owner;
        owner.host = QSysInfo::machineHostName().toUtf8();
        owner.machine = ReadSmallFile("/etc/machine-id");
        owner.boot = ReadSmallFile("/proc/sys/kernel/random/boot_id");
        char link[PATH_MAX];
        const ssize_t length = ::readlink("/proc/self/ns/pid", link, sizeof link);
        owner.pids = length > 0 ? QByteArray(link, length) : QByteArray();
        owner.process = CRedirect::OwnMark();
        return owner;
    }();
    return me;
}

struct Record
{
    Owner owner;
    QByteArray tempName;
};

// The record's text. The temporary file's name comes last, on a line of its
// own to the end: a movie's name may hold any character but "/".
QByteArray RecordText(const QString& tempName)
{
    const Owner& me = Me();
    return RecordMagic + ("host: " + me.host) + ("\nmachine: " + me.machine) +
           ("\nboot: " + me.boot) + ("\npids: " + me.pids) + ("\nowner: " + me.process) + TempLine +
           Native(tempName) + '\n';
}

std::optional<Record> ParseRecord(const QByteArray& text)
{
    const qsizetype temp = text.indexOf(TempLine);
    if (!text.startsWith(RecordMagic) || temp < 0 || !text.endsWith('\n'))
        return std::nullopt;
    Record record;
    const std::pair<const char*, QByteArray*> fields[] = {{"host: ", &record.owner.host},
                                                          {"machine: ", &record.owner.machine},
                                                          {"boot: ", &record.owner.boot},
                                                          {"pids: ", &record.owner.pids},
                                                          {"owner: ", &record.owner.process}};
    for (const QByteArray& line : text.left(temp).split('\n')) {
        for (const auto& [key, value] : fields) {
            if (line.startsWith(key))
                *value = line.mid(qsizetype(std::strlen(key)));
        }
    }
    record.tempName = text.mid(temp + qsizetype(sizeof TempLine) - 1).chopped(1);
    if (record.owner.process.isEmpty())
        return std::nullopt;
    return record;
}

// The record of a claim at path and which file held it; nothing when the file
// is not a claim. Never blocks: only small regular files are read.
std::optional<Record> ReadRecord(const QString& path, FileId* id = nullptr)
{
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st = {};
    QByteArray text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxRecordBytes) {
        text.resize(MaxRecordBytes + 1);
        const ssize_t got = ::read(fd, text.data(), size_t(text.size()));
        text.resize(got > 0 ? got : 0);
    }
    ::close(fd);
    if (id)
        *id = {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
    return ParseRecord(text);
}

// Whether the process a record names has ended: told only on its own host
// (the same name and machine id), where a boot since or a process id that is
// gone or stands for a later process says so. Another host's owner, and one
// in another process namespace (a container), may live.
bool OwnerGone(const Owner& owner)
{
    const Owner& me = Me();
    if (owner.host != me.host || owner.machine != me.machine || me.boot.isEmpty())
        return false;
    if (owner.boot != me.boot)
        return true;
    return owner.pids == me.pids && !CRedirect::MarkOwnerAlive(owner.process);
}

std::optional<FileId> IdOf(const QString& path)
{
    struct stat st;
    if (::lstat(Native(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

bool Exists(const QString& path)
{
    struct stat st;
    return ::lstat(Native(path).constData(), &st) == 0 || errno != ENOENT;
}

// ".<name>.<tag>" beside path. A name that would not fit the file system loses
// the end of the output's name (cut between two characters) and gets a hash of
// the whole instead, so that names that start alike stay apart.
QString HiddenName(const QString& path, const QString& tag)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype suffix = Native(QLatin1Char('.') + tag).size();
    QString kept = name;
    if (1 + Native(name).size() + suffix > MaxNameBytes) {
        const QString hash =
            QLatin1Char('~') +
            QString::fromLatin1(
                QCryptographicHash::hash(Native(name), QCryptographicHash::Sha1).toHex().left(8));
        const qsizetype budget = MaxNameBytes - 1 - suffix - hash.size();
        qsizetype used = 0;
        qsizetype keep = 0;
        while (keep < name.size()) {
            const qsizetype width =
                name.at(keep).isHighSurrogate() && keep + 1 < name.size() ? 2 : 1;
            const qsizetype bytes = Native(name.mid(keep, width)).size();
            if (used + bytes > budget)
                break;
            used += bytes;
            keep += width;
        }
        kept = name.left(keep) + hash;
    }
    return info.path() + QStringLiteral("/.") + kept + QLatin1Char('.') + tag;
}

// This process's id, then "-2", "-3"... when an earlier process of that id
// left a file of that name.
QString Tag(int attempt)
{
    const QString pid = QString::number(::getpid());
    return attempt == 0 ? pid : pid + QLatin1Char('-') + QString::number(attempt + 1);
}

// Whether name is one that the owner of a record (its process id) gives its
// temporary files: ".<output's name>.<pid>.part" or ".<...>.<pid>-<n>.part".
bool IsTempNameOf(const QByteArray& name, const Owner& owner)
{
    const QByteArray pid = owner.process.left(owner.process.indexOf(':'));
    static const QRegularExpression tail(QStringLiteral("\\.(\\d+)(-\\d+)?\\.part$"));
    const QRegularExpressionMatch match = tail.match(QString::fromLatin1(name.right(40)));
    return name.startsWith('.') && !name.contains('/') && match.hasMatch() &&
           match.captured(1).toLatin1() == pid;
}

// Removes the file at path if it is the file id stands for. It is moved aside
// first and looked at there, so that a file another process put under the
// name meanwhile is never removed: it is put back.
bool RemoveIfSame(const QString& path, const FileId& id)
{
    QString aside;
    for (int attempt = 0; attempt < MaxTags && (aside.isEmpty() || Exists(aside)); ++attempt)
        aside = HiddenName(path, Tag(attempt) + QStringLiteral(".gone"));
    if (Exists(aside) || IdOf(path) != id ||
        ::rename(Native(path).constData(), Native(aside).constData()) != 0)
        return false;
    if (IdOf(aside) == id)
        return ::unlink(Native(aside).constData()) == 0;
    if (::link(Native(aside).constData(), Native(path).constData()) == 0)
        ::unlink(Native(aside).constData());
    return false;
}

// Makes path exclusively with text in it; the file's id, or the error (EEXIST
// when the name is taken).
std::optional<FileId> MakeFile(const QString& path, const QByteArray& text, int* error)
{
    const int fd = ::open(Native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = errno;
        return std::nullopt;
    }
    struct stat st;
    errno = 0;
    const bool written =
        ::write(fd, text.constData(), size_t(text.size())) == text.size() && ::fstat(fd, &st) == 0;
    *error = written ? 0 : (errno ? errno : EIO);
    if (::close(fd) != 0 && written)
        *error = errno;
    if (*error != 0) {
        ::unlink(Native(path).constData());
        return std::nullopt;
    }
    return FileId{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

} // namespace

COutputClaim::Found COutputClaim::Inspect(const QString& path)
{
    struct stat st;
    if (::lstat(Native(path).constData(), &st) != 0)
        return errno == ENOENT ? Found::Nothing : Found::Other;
    if (!S_ISREG(st.st_mode))
        return Found::Other;
    return st.st_size <= MaxRecordBytes && ReadRecord(path) ? Found::Claim : Found::Movie;
}

QString COutputClaim::InUseReason(Found held)
{
    return held == Found::Claim ? QStringLiteral("Another process is writing the output file.")
                                : QStringLiteral("The output file exists already.");
}

COutputClaim::Attempt COutputClaim::Take(const QString& path, bool replaceMovie)
{
    Attempt attempt;
    attempt.held = Inspect(path);
    const bool replacing = attempt.held == Found::Movie && replaceMovie;
    if (attempt.held != Found::Nothing && !replacing)
        return attempt;
    std::unique_ptr<COutputClaim> claim(new COutputClaim);
    claim->m_strPath = path;
    claim->m_bReplacing = replacing;
    if (replacing) {
        claim->m_replacedId = IdOf(path).value_or(FileId());
        claim->m_strClaimPath = HiddenName(path, QStringLiteral("claim"));
    } else {
        claim->m_strClaimPath = path;
    }

    // The record, naming the temporary file, under names of this process's
    // own. The encoder makes the temporary file: until it does, there is none,
    // and an encoder that wrote nothing is told from one that wrote an empty
    // file. No other process writes that name: it is this claim's.
    QString record;
    int error = EEXIST;
    for (int tag = 0; tag < MaxTags && error == EEXIST; ++tag) {
        claim->m_strTempPath = HiddenName(path, Tag(tag) + QStringLiteral(".part"));
        if (Exists(claim->m_strTempPath))
            continue;
        record = HiddenName(path, Tag(tag) + QStringLiteral(".claim"));
        if (const std::optional<FileId> made =
                MakeFile(record, RecordText(QFileInfo(claim->m_strTempPath).fileName()), &error))
            claim->m_claimId = *made;
    }
    if (error != 0) {
        attempt.strError = SystemError(error);
        return attempt;
    }

    // The claim itself: one link, made or refused as one step, over NFS too.
    // A server that made the link may lose its answer: the record then has
    // two names.
    const QByteArray privateName = Native(record);
    error =
        ::link(privateName.constData(), Native(claim->m_strClaimPath).constData()) == 0 ? 0 : errno;
    struct stat st;
    const bool made = error == 0 || (error != EEXIST && ::stat(privateName.constData(), &st) == 0 &&
                                     st.st_nlink == 2);
    ::unlink(privateName.constData());
    if (!made) {
        ::unlink(Native(claim->m_strTempPath).constData());
        if (error == EEXIST) {
            // Taken a moment ago; what holds it may have gone since.
            attempt.held = replacing ? Found::Claim : Inspect(path);
            if (attempt.held == Found::Nothing)
                attempt.held = Found::Claim;
        } else {
            attempt.strError = SystemError(error);
        }
        return attempt;
    }
    attempt.claim = std::move(claim);
    return attempt;
}

COutputClaim::Attempt COutputClaim::TakeFree(const std::function<QString(int copy)>& named,
                                             const std::function<bool(const QString&)>& skip)
{
    for (int copy = 1; copy <= MaxCopies; ++copy) {
        const QString path = named(copy);
        if (skip(path))
            continue;
        Attempt attempt = Take(path, false);
        if (attempt.claim || !attempt.strError.isEmpty())
            return attempt;
    }
    Attempt none;
    none.held = Found::Claim;
    none.strError = QStringLiteral("No free name for the output file.");
    return none;
}

COutputClaim::~COutputClaim()
{
    Release();
}

bool COutputClaim::Publish(QString* error, const QString& from)
{
    const QString source = from.isEmpty() ? m_strTempPath : from;
    const QString taken = QStringLiteral("Another process took the output's name.");
    if (m_bDone || IdOf(m_strClaimPath) != m_claimId) {
        *error = taken;
        return false;
    }
    const QByteArray target = Native(m_strPath);
    int result = 0;
    if (!m_bReplacing) {
        result = ::rename(Native(source).constData(), target.constData());
    } else if (const std::optional<FileId> now = IdOf(m_strPath)) {
        // Only the movie that was to be replaced gives way.
        if (*now != m_replacedId) {
            *error = taken;
            return false;
        }
        result = ::rename(Native(source).constData(), target.constData());
    } else {
        // The movie is gone: the name is taken as a free one, exclusively.
        result = ::link(Native(source).constData(), target.constData());
        if (result == 0)
            ::unlink(Native(source).constData());
    }
    if (result != 0) {
        *error = errno == EEXIST ? taken : SystemError(errno);
        return false;
    }
    if (source != m_strTempPath)
        ::unlink(Native(m_strTempPath).constData());
    if (m_bReplacing)
        RemoveIfSame(m_strClaimPath, m_claimId);
    m_bDone = true;
    return true;
}

bool COutputClaim::Release()
{
    if (m_bDone)
        return false;
    m_bDone = true;
    const QByteArray temp = Native(m_strTempPath);
    struct stat st;
    const bool held = ::lstat(temp.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    const bool removed = ::unlink(temp.constData()) == 0;
    RemoveIfSame(m_strClaimPath, m_claimId);
    return held && removed;
}

int COutputClaim::RemoveLeftovers(const QString& folder)
{
    int removed = 0;
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& file : files) {
        if (file.size() > MaxRecordBytes)
            continue;
        FileId id;
        const std::optional<Record> record = ReadRecord(file.filePath(), &id);
        if (!record || !OwnerGone(record->owner))
            continue;
        // The temporary file the record names, if its name is one that owner
        // gives.
        if (IsTempNameOf(record->tempName, record->owner)) {
            const QString temp = folder + QLatin1Char('/') + QFile::decodeName(record->tempName);
            if (::unlink(Native(temp).constData()) == 0)
                ++removed;
        }
        if (RemoveIfSame(file.filePath(), id))
            ++removed;
    }
    return removed;
}

int COutputClaim::RemoveLeftoversFor(const QStringList& outputs)
{
    QSet<QString> folders;
    for (const QString& output : outputs)
        folders.insert(QFileInfo(output).absolutePath());
    int removed = 0;
    for (const QString& folder : folders)
        removed += QFileInfo(folder).isDir() ? RemoveLeftovers(folder) : 0;
    return removed;
}
