#include "MovieFileTypes.h"

#include "shell/AppFolder.h"

namespace MovieFileTypes {

const QStringList& Extensions()
{
    static const QStringList extensions = {
        QStringLiteral("asf"),  QStringLiteral("mpeg"), QStringLiteral("mpg"),
        QStringLiteral("avi"),  QStringLiteral("wmv"),  QStringLiteral("vob"),
        QStringLiteral("ogm"),  QStringLiteral("mkv"),  QStringLiteral("ifo"),
        QStringLiteral("dat"),  QStringLiteral("mp4"),  QStringLiteral("mov"),
        QStringLiteral("m4v"),  QStringLiteral("3gp"),  QStringLiteral("mts"),
        QStringLiteral("m2ts"), QStringLiteral("ts"),   QStringLiteral("webm")};
    return extensions;
}

QString DialogFilter()
{
    QStringList patterns;
    for (const QString& extension : Extensions())
        patterns.append(QStringLiteral("*.") + extension);
    return QStringLiteral("Movie Files (%1)").arg(patterns.join(QLatin1Char(' ')));
}

bool IsMovieFile(const QString& path)
{
    // PathExtension keeps the dot.
    const QString extension = PathExtension(path).mid(1);
    return !extension.isEmpty() && Extensions().contains(extension, Qt::CaseInsensitive);
}

} // namespace MovieFileTypes
