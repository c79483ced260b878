#include "OutputNamer.h"

#include "jobs/MovieFolder.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

// The longest file name the file systems take, in bytes.
constexpr qsizetype MaxFileNameBytes = 255;
// How many existing outputs the overwrite question names.
constexpr int NamedExistingOutputs = 5;

// prefix + stem + suffix + extension, the stem cut at its end (between two
// characters, never inside one) so that the file name proper, the part after
// the last "/", fits the file system.
QString FittedFileName(const QString& prefix, const QString& stem, const QString& tail)
{
    const QString prefixName = prefix.mid(prefix.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype budget =
        MaxFileNameBytes - QFile::encodeName(prefixName).size() - QFile::encodeName(tail).size();
    qsizetype used = 0;
    qsizetype keep = 0;
    while (keep < stem.size()) {
        const qsizetype width = stem.at(keep).isHighSurrogate() && keep + 1 < stem.size() ? 2 : 1;
        const qsizetype bytes = QFile::encodeName(stem.mid(keep, width)).size();
        if (used + bytes > budget)
            break;
        used += bytes;
        keep += width;
    }
    return prefix + stem.left(keep) + tail;
}

} // namespace

namespace OutputNamer {

QString PathKey(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toCaseFolded();
}

QString PathFor(const QString& folder, const QString& prefix, const QString& extension,
                const StreamFile& job, int copy)
{
    // The extension is the movie name's: a "." in the folder or the prefix of a
    // name without extension is not one.
    const QString& name = job.strFileName;
    const QString stem =
        name.contains(QLatin1Char('.')) ? name.left(name.lastIndexOf(QLatin1Char('.'))) : name;
    const QString suffix = copy > 1 ? QStringLiteral(" (%1)").arg(copy) : QString();
    // A movie added through a folder keeps its place in that folder's tree.
    const QString subfolder = MovieFolder::CleanRelativeDir(job.strRelativeDir);
    return folder + QLatin1Char('/') +
           (subfolder.isEmpty() ? QString() : subfolder + QLatin1Char('/')) +
           FittedFileName(prefix, stem, suffix + extension);
}

QStringList PathsFor(const QString& folder, const QString& prefix, const QString& extension,
                     const std::vector<StreamFile>& jobs, bool keepExisting)
{
    QStringList paths;
    // A movie of the batch that lies in the output folder under an output's name
    // would be overwritten by its own encode: inputs are taken too.
    QSet<QString> taken;
    for (const StreamFile& job : jobs) {
        if (!job.strFilePath.isEmpty())
            taken.insert(PathKey(job.strFilePath));
    }
    for (const StreamFile& job : jobs) {
        QString path;
        for (int copy = 1;; ++copy) {
            path = PathFor(folder, prefix, extension, job, copy);
            if (!taken.contains(PathKey(path)) && !(keepExisting && QFileInfo::exists(path)))
                break;
        }
        taken.insert(PathKey(path));
        paths << path;
    }
    return paths;
}

QString ExistingOutputsQuestion(const QStringList& existing)
{
    if (existing.size() == 1)
        return QStringLiteral("The output file %1 already exists.\nWould you want to overwrite it?")
            .arg(existing.front());
    QStringList lines{QStringLiteral("%1 output files already exist in %2:")
                          .arg(existing.size())
                          .arg(QFileInfo(existing.front()).absolutePath())};
    for (qsizetype i = 0; i < std::min<qsizetype>(existing.size(), NamedExistingOutputs); ++i)
        lines << QStringLiteral("    ") + QFileInfo(existing[i]).fileName();
    if (existing.size() > NamedExistingOutputs)
        lines << QStringLiteral("    and %1 more").arg(existing.size() - NamedExistingOutputs);
    lines << QStringLiteral("Would you want to overwrite them?");
    return lines.join(QLatin1Char('\n'));
}

QString IncompleteOutputsQuestion(const QStringList& incomplete)
{
    if (incomplete.size() == 1)
        return QStringLiteral("Below file is incomplete encoding. Delete this file?\n%1")
            .arg(incomplete.front());
    return QStringLiteral("Below files are incomplete encoding. Delete these files?\n") +
           incomplete.join(QLatin1Char('\n'));
}

} // namespace OutputNamer
