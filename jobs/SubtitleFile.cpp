#include "jobs/SubtitleFile.h"

#include "shell/AppFolder.h"

#include <algorithm>
#include <optional>
#include <tuple>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace {

// What a file name beside a movie says as the movie's subtitle: its kind (the
// index in SubtitleExtensions) and the language it names, if any.
struct SubtitleName
{
    int kind = 0;
    QLocale::Language language = QLocale::AnyLanguage;
};

// The language a part of a subtitle's name stands for: an ISO 639-1 or 639-2
// code, or a language's English name. AnyLanguage for anything else ("final",
// "2", "v2"), so that only names of languages make another movie's subtitle.
QLocale::Language LanguageOfNamePart(const QString& part)
{
    const bool letters = std::all_of(part.begin(), part.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
    if (!letters || part.size() < 2)
        return QLocale::AnyLanguage;
    if (part.size() <= 3) {
        const QLocale::Language language =
            QLocale::codeToLanguage(part.toLower(), QLocale::ISO639Part1 | QLocale::ISO639Part2);
        if (language != QLocale::AnyLanguage && language != QLocale::C)
            return language;
    }
    for (int i = QLocale::C + 1; i <= QLocale::LastLanguage; ++i) {
        const auto language = static_cast<QLocale::Language>(i);
        if (QLocale::languageToString(language).compare(part, Qt::CaseInsensitive) == 0)
            return language;
    }
    return QLocale::AnyLanguage;
}

// name as a subtitle of the movie whose name without extension is base:
// base.<ext> or base.<language>.<ext>, <ext> one of SubtitleExtensions in any
// letter case. Nothing for any other name.
std::optional<SubtitleName> ParseSubtitleName(const QString& base, const QString& name)
{
    if (name.size() <= base.size() + 1 || !name.startsWith(base) || name[base.size()] != u'.')
        return std::nullopt;
    const QString rest = name.mid(base.size() + 1);
    const qsizetype dot = rest.lastIndexOf(u'.');
    const QString extension = rest.mid(dot + 1);
    for (std::size_t kind = 0; kind < std::size(SubtitleExtensions); ++kind) {
        const QLatin1String known(SubtitleExtensions[kind] + 1); // without its "."
        if (extension.compare(known, Qt::CaseInsensitive) != 0)
            continue;
        SubtitleName parsed{int(kind), QLocale::AnyLanguage};
        if (dot < 0)
            return parsed;
        parsed.language = LanguageOfNamePart(rest.left(dot));
        if (parsed.language == QLocale::AnyLanguage)
            return std::nullopt;
        return parsed;
    }
    return std::nullopt;
}

} // namespace

QString FindSubtitleFile(const QString& path)
{
    const QString fileName = PathFileName(path);
    if (fileName.isEmpty())
        return {};
    const QString folder = path.left(path.size() - fileName.size());
    const QString base = fileName.left(fileName.size() - PathExtension(fileName).size());
    const QLocale::Language system = QLocale().language();
    // The best so far: its rank (system language, none, another), kind and name.
    std::optional<std::tuple<int, int, QString>> best;
    QDirIterator entries(folder.isEmpty() ? QStringLiteral(".") : folder,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        const QString name = PathFileName(entries.next());
        const std::optional<SubtitleName> parsed = ParseSubtitleName(base, name);
        if (!parsed)
            continue;
        const int rank = parsed->language == system                 ? 0
                         : parsed->language == QLocale::AnyLanguage ? 1
                                                                    : 2;
        std::tuple<int, int, QString> key{rank, parsed->kind, name};
        if (best && !(key < *best))
            continue;
        const QFileInfo info(folder + name);
        if (info.exists() && !info.isDir())
            best = std::move(key);
    }
    return best ? folder + std::get<2>(*best) : QString();
}

QLocale::Language SubtitleNameLanguage(const QString& moviePath, const QString& subtitlePath)
{
    const QString movie = PathFileName(moviePath);
    const std::optional<SubtitleName> parsed = ParseSubtitleName(
        movie.left(movie.size() - PathExtension(movie).size()), PathFileName(subtitlePath));
    return parsed ? parsed->language : QLocale::AnyLanguage;
}

bool ProbeSubtitle(const QString& path)
{
    return !FindSubtitleFile(path).isEmpty();
}
