#include "SegmentWork.h"

#include "jobs/KeyFrames.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSysInfo>

namespace {

constexpr int ManifestVersion = 1;

QByteArray FileMd5(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result().toHex();
}

bool WriteWhole(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// Renames over an existing file in one step (QFile::rename would not replace it).
bool RenameOver(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The names of what a work folder holds (QSaveFile's temporary files
// included): only these are ever removed, whatever folder it is given.
const QStringList OwnFiles = {QStringLiteral("manifest.json*"), QStringLiteral("video-*"),
                              QStringLiteral("sound.*"), QStringLiteral("segments.ffconcat*")};

bool RemoveOwnFiles(const QDir& dir)
{
    bool removed = true;
    for (const QString& name : dir.entryList(OwnFiles, QDir::Files | QDir::Hidden | QDir::System))
        removed = QFile::remove(dir.filePath(name)) && removed;
    return removed;
}

QJsonArray Pair(std::int64_t a, std::int64_t b)
{
    return QJsonArray{qint64(a), qint64(b)};
}

} // namespace

CSegmentWork::Source CSegmentWork::Source::Of(const QString& moviePath, const QByteArray& profile)
{
    const QFileInfo info(moviePath);
    // From stat itself: a QDateTime in local time would read the time zone,
    // which the run's worker thread does too.
    struct stat st = {};
    const std::int64_t modified =
        ::stat(QFile::encodeName(info.absoluteFilePath()).constData(), &st) == 0
            ? std::int64_t(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000
            : std::int64_t(-1);
    return {info.absoluteFilePath(), std::uint64_t(std::max<qint64>(info.size(), 0)), modified,
            profile};
}

QString CSegmentWork::FolderFor(const QString& stateDir, const QString& moviePath,
                                const QString& outputPath)
{
    const QByteArray key = QFileInfo(moviePath).absoluteFilePath().toUtf8() + '\n' +
                           QFileInfo(outputPath).absoluteFilePath().toUtf8();
    return stateDir + QStringLiteral("/segments/") +
           QString::fromLatin1(
               QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

CSegmentWork::CSegmentWork(const QString& folder, const FfmpegCommand::Request& request,
                           const SegmentPlan& plan)
    : m_strFolder(folder)
    , m_source(Source::Of(request.strInput, SegmentCommand::ProfileFingerprint(request)))
    , m_plan(plan)
    , m_finished(std::size_t(plan.Count()), false)
{
    if (request.source.nAudioStream >= 0)
        m_strSoundName = SegmentCommand::SoundFileName(request.profile);
}

QByteArray CSegmentWork::Manifest() const
{
    QJsonArray segments;
    for (const SegmentPlan::Segment& segment : m_plan.arrSegments)
        segments.append(QJsonArray{qint64(segment.nKeyPts), qint64(segment.nFirstFrame),
                                   qint64(segment.nEndFrame)});
    const QJsonObject plan{
        {QStringLiteral("timeBase"), Pair(m_plan.nTimeBaseNum, m_plan.nTimeBaseDen)},
        {QStringLiteral("rate"), Pair(m_plan.nRateNum, m_plan.nRateDen)},
        {QStringLiteral("seekBase"), qint64(m_plan.nSeekBaseUs)},
        {QStringLiteral("shift"), qint64(m_plan.nVideoShift)},
        {QStringLiteral("segments"), segments}};
    const QJsonObject manifest{{QStringLiteral("version"), ManifestVersion},
                               {QStringLiteral("movie"), m_source.strMovie},
                               {QStringLiteral("bytes"), qint64(m_source.ullBytes)},
                               {QStringLiteral("modified"), qint64(m_source.llModifiedMs)},
                               {QStringLiteral("profile"), QString::fromLatin1(m_source.profile)},
                               {QStringLiteral("sound"), m_strSoundName},
                               {QStringLiteral("plan"), plan}};
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented);
}

CSegmentWork::Stored CSegmentWork::Inspect() const
{
    QFile stored(m_strFolder + QStringLiteral("/manifest.json"));
    if (!stored.open(QIODevice::ReadOnly))
        return Stored::Nothing;
    return QJsonDocument::fromJson(stored.readAll()) == QJsonDocument::fromJson(Manifest())
               ? Stored::Same
               : Stored::Other;
}

bool CSegmentWork::Open(QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    QDir dir(m_strFolder);
    if (!dir.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("The work folder %1 cannot be made.").arg(m_strFolder));
    const QString manifestPath = dir.filePath(QStringLiteral("manifest.json"));
    const QByteArray wanted = Manifest();
    const bool same = ManifestMatches();
    m_finished.assign(m_finished.size(), false);
    m_bSoundFinished = false;
    m_nReused = 0;
    if (!same) {
        // Made from another movie, profile or plan: nothing in it is of use.
        if (!RemoveOwnFiles(dir) || !WriteWhole(manifestPath, wanted))
            return fail(QStringLiteral("The work folder %1 cannot be written.").arg(m_strFolder));
        return true;
    }
    for (int i = 0; i < m_plan.Count(); ++i) {
        m_finished[i] = IsKept(i);
        m_nReused += m_finished[i] ? 1 : 0;
    }
    m_bSoundFinished = !m_strSoundName.isEmpty() && IsKept(m_plan.Count());
    return true;
}

bool CSegmentWork::ManifestMatches() const
{
    QFile stored(m_strFolder + QStringLiteral("/manifest.json"));
    return stored.open(QIODevice::ReadOnly) &&
           QJsonDocument::fromJson(stored.readAll()) == QJsonDocument::fromJson(Manifest());
}

bool CSegmentWork::IsKept(int index) const
{
    const std::optional<Record> record = ReadRecord(index);
    return record && QFileInfo(PiecePath(index)).size() == record->nBytes;
}

int CSegmentWork::StoredResumePercent() const
{
    if (!ManifestMatches())
        return 0;
    std::vector<bool> kept(std::size_t(m_plan.Count()), false);
    for (int i = 0; i < m_plan.Count(); ++i)
        kept[i] = IsKept(i);
    return m_plan.PercentOf(kept);
}

bool CSegmentWork::IsFinished(int index) const
{
    return index >= 0 && std::size_t(index) < m_finished.size() && m_finished[index];
}

int CSegmentWork::ResumePercent() const
{
    return m_nReused > 0 ? m_plan.PercentOf(m_finished) : 0;
}

std::vector<int> CSegmentWork::Unfinished() const
{
    std::vector<int> left;
    for (int i = 0; i < m_plan.Count(); ++i) {
        if (!m_finished[i])
            left.push_back(i);
    }
    return left;
}

// Index Count() stands for the sound.
QString CSegmentWork::PieceName(int index) const
{
    return index == m_plan.Count() ? m_strSoundName : SegmentCommand::SegmentFileName(index);
}

QString CSegmentWork::PiecePath(int index) const
{
    return m_strFolder + QLatin1Char('/') + PieceName(index);
}

QString CSegmentWork::RecordPath(int index) const
{
    const QString name = PieceName(index);
    return m_strFolder + QLatin1Char('/') + name.left(name.lastIndexOf(QLatin1Char('.'))) +
           QStringLiteral(".json");
}

QString CSegmentWork::SegmentPath(int index) const
{
    return PiecePath(index);
}

QString CSegmentWork::SoundPath() const
{
    return PiecePath(m_plan.Count());
}

QString CSegmentWork::PartPath(int index) const
{
    // Of this process's own: an encoder that a killed run left writing (it
    // ends at its next progress line) or another host's task given the same
    // piece never writes the file this one checks and keeps.
    const QString path = PiecePath(index);
    return path.left(path.lastIndexOf(QLatin1Char('.'))) +
           QStringLiteral(".%1-%2.part")
               .arg(QSysInfo::machineHostName())
               .arg(QCoreApplication::applicationPid());
}

QString CSegmentWork::SoundPartPath() const
{
    return PartPath(m_plan.Count());
}

QString CSegmentWork::Name(int index) const
{
    if (index == m_plan.Count())
        return QStringLiteral("The sound (%1)").arg(PieceName(index));
    return QStringLiteral("Segment %1 of %2 (%3)")
        .arg(index + 1)
        .arg(m_plan.Count())
        .arg(PieceName(index));
}

std::optional<CSegmentWork::Record> CSegmentWork::ReadRecord(int index) const
{
    QFile file(RecordPath(index));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    if (object.isEmpty())
        return std::nullopt;
    Record record;
    record.nBytes = object.value(QStringLiteral("bytes")).toInteger(-1);
    record.nFrames = object.value(QStringLiteral("frames")).toInteger();
    record.md5 = object.value(QStringLiteral("md5")).toString().toLatin1();
    record.config = object.value(QStringLiteral("config")).toString().toLatin1();
    record.dFirstSeconds = object.value(QStringLiteral("first")).toDouble();
    record.dDelaySeconds = object.value(QStringLiteral("delay")).toDouble();
    return record;
}

bool CSegmentWork::WriteRecord(int index, const Record& record) const
{
    const QJsonObject object{{QStringLiteral("bytes"), qint64(record.nBytes)},
                             {QStringLiteral("frames"), qint64(record.nFrames)},
                             {QStringLiteral("md5"), QString::fromLatin1(record.md5)},
                             {QStringLiteral("config"), QString::fromLatin1(record.config)},
                             {QStringLiteral("first"), record.dFirstSeconds},
                             {QStringLiteral("delay"), record.dDelaySeconds}};
    return WriteWhole(RecordPath(index), QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<QString> CSegmentWork::Problem(int index, const QString& path, Record& record) const
{
    if (index == m_plan.Count()) {
        const std::optional<SoundCopy> copy = ProbeSoundCopy(path);
        if (!copy)
            return Name(index) + QStringLiteral(" cannot be read.");
        record.dFirstSeconds = copy->dOffsetSeconds;
        record.dDelaySeconds = copy->dPictureDelaySeconds;
        return std::nullopt;
    }
    const PieceContent piece = ProbePiece(path);
    if (!piece.bOpened || !piece.bIndexed || !piece.bDecodes || piece.nTimeBaseDen <= 0)
        return Name(index) + QStringLiteral(" cannot be read.");
    const SegmentPlan::Segment& segment = m_plan.arrSegments[index];
    record.nFrames = piece.nFrames;
    record.config = QCryptographicHash::hash(piece.codecConfig, QCryptographicHash::Sha1).toHex();
    record.dFirstSeconds = double(piece.nFirstPts) * piece.nTimeBaseNum / piece.nTimeBaseDen;
    if (index == 0) {
        // It keeps the whole encode's time: its first picture is on its first frame.
        const auto first = static_cast<std::int64_t>(
            std::llround(record.dFirstSeconds * m_plan.nRateNum / m_plan.nRateDen));
        if (first != segment.nFirstFrame)
            return Name(index) + QStringLiteral(" starts at frame %1, not %2.")
                                     .arg(first)
                                     .arg(segment.nFirstFrame);
    }
    const std::int64_t planned = segment.Frames();
    if ((planned >= 0 && piece.nFrames != planned) || piece.nFrames <= 0)
        return Name(index) +
               QStringLiteral(" holds %1 frames, not %2.").arg(piece.nFrames).arg(planned);
    return std::nullopt;
}

std::optional<QString> CSegmentWork::Keep(int index, const QString& part)
{
    Record record;
    if (const std::optional<QString> problem = Problem(index, part, record)) {
        QFile::remove(part);
        return problem;
    }
    record.nBytes = QFileInfo(part).size();
    record.md5 = FileMd5(part);
    // The piece and the record of an earlier run go first: a record never
    // stands beside a piece it does not describe.
    QFile::remove(PiecePath(index));
    if (record.md5.isEmpty() || !WriteRecord(index, record) || !RenameOver(part, PiecePath(index)))
        return Name(index) + QStringLiteral(" cannot be written.");
    if (index == m_plan.Count())
        m_bSoundFinished = true;
    else
        m_finished[index] = true;
    return std::nullopt;
}

std::optional<QString> CSegmentWork::Finish(int index)
{
    if (index < 0 || index >= m_plan.Count())
        return QStringLiteral("There is no segment %1.").arg(index + 1);
    return Keep(index, PartPath(index));
}

std::optional<QString> CSegmentWork::FinishSound()
{
    return Keep(m_plan.Count(), SoundPartPath());
}

std::optional<QString> CSegmentWork::CheckJoin(SegmentCommand::JoinPieces& pieces)
{
    QByteArray config;
    std::optional<Record> first;
    std::optional<Record> sound;
    const int pieceCount = m_plan.Count() + (m_strSoundName.isEmpty() ? 0 : 1);
    for (int i = 0; i < pieceCount; ++i) {
        const QString path = PiecePath(i);
        const std::optional<Record> record = ReadRecord(i);
        if (!record || !QFileInfo::exists(path))
            return Name(i) + QStringLiteral(" is missing.");
        const bool segment = i < m_plan.Count();
        const bool whole = QFileInfo(path).size() == record->nBytes && FileMd5(path) == record->md5;
        const bool agrees = !segment || config.isEmpty() || record->config == config;
        if (!whole || !agrees) {
            QFile::remove(path);
            QFile::remove(RecordPath(i));
            if (segment)
                m_finished[i] = false;
            else
                m_bSoundFinished = false;
            return Name(i) + (whole ? QStringLiteral(" was made with other settings.")
                                    : QStringLiteral(" is damaged."));
        }
        if (segment && config.isEmpty())
            config = record->config;
        if (i == 0)
            first = record;
        if (!segment)
            sound = record;
    }
    pieces.strList = m_strFolder + QLatin1Char('/') + SegmentCommand::ListFileName();
    if (!WriteWhole(pieces.strList, SegmentCommand::ConcatList(m_plan)))
        return QStringLiteral("The list of segments cannot be written in %1.").arg(m_strFolder);
    pieces.strSound = sound ? SoundPath() : QString();
    pieces.dFirstPictureSeconds = first ? first->dFirstSeconds : 0;
    if (sound)
        pieces.sound = SoundCopy{sound->dFirstSeconds, sound->dDelaySeconds};
    return std::nullopt;
}

bool CSegmentWork::Remove()
{
    QDir dir(m_strFolder);
    return RemoveOwnFiles(dir) && (!dir.isEmpty() || QDir().rmdir(m_strFolder));
}
