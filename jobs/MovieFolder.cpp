#include "jobs/MovieFolder.h"

#include "jobs/MovieFileTypes.h"

#include <algorithm>

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace MovieFolder {

namespace {

void Collect(const QString& folder, const QString& relativeDir, const std::function<bool()>& stop,
             const QCollator& order, QVector<MovieSource>& movies)
{
    if (stop && stop())
        return;
    const QDir dir(folder);
    const auto sorted = [&order](QStringList names) {
        std::sort(names.begin(), names.end(), order);
        return names;
    };
    // Without QDir::Hidden: names that start with "." are left out. Files that
    // cannot be read are listed: the probe finds them out, and the user is told.
    for (const QString& name : sorted(dir.entryList(QDir::Files))) {
        if (MovieFileTypes::IsMovieFile(name))
            movies.append({dir.filePath(name), relativeDir});
    }
    for (const QString& name : sorted(dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))) {
        const QString path = dir.filePath(name);
        if (!QFileInfo(path).isSymLink())
            Collect(path, JoinRelativeDirs(relativeDir, name), stop, order, movies);
    }
}

} // namespace

QVector<MovieSource> CollectMovies(const QString& folder, const QString& relativeDir,
                                   const std::function<bool()>& stop)
{
    // The C locale's collation knows no numbers: English order then.
    const QLocale system = QLocale::system();
    QCollator order(system.language() == QLocale::C ? QLocale(QLocale::English) : system);
    order.setNumericMode(true);
    order.setCaseSensitivity(Qt::CaseInsensitive);
    QVector<MovieSource> movies;
    const QString name = QFileInfo(QDir::cleanPath(folder)).fileName();
    Collect(folder, JoinRelativeDirs(relativeDir, name), stop, order, movies);
    return movies;
}

QVector<MovieSource> FilesOf(const MovieSource& source, const std::function<bool()>& stop)
{
    const QFileInfo info(source.strPath);
    if (info.isDir() && info.isReadable())
        return CollectMovies(source.strPath, source.strRelativeDir, stop);
    return {source};
}

QString CleanRelativeDir(const QString& text)
{
    if (text.startsWith(QLatin1Char('/')))
        return QString();
    QStringList parts;
    for (const QString& part : text.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return QString();
        if (part != QLatin1String("."))
            parts << part;
    }
    return parts.join(QLatin1Char('/'));
}

QString JoinRelativeDirs(const QString& first, const QString& second)
{
    if (first.isEmpty() || second.isEmpty())
        return first + second;
    return first + QLatin1Char('/') + second;
}

} // namespace MovieFolder
