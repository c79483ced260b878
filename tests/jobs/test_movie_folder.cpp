// Which files are movies: a folder tree with hidden folders, files that are not
// movies, links and two movies of one name; the relative folders that keep the
// tree in the output folder; and the desktop entry's MIME types against the
// kinds Clipvane reads.
#include "jobs/MovieFileTypes.h"
#include "jobs/MovieFolder.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

namespace {

TEST(MovieFolder, CollectsEveryMovieOfTheTreeWithItsRelativeFolderInNameOrder)
{
    QTemporaryDir dir;
    const QString trip = dir.filePath("Trip");
    // Movies, hidden folders and files, and files that are not movies.
    const QStringList files =
        QStringLiteral(
            "Day 10/a.mov|Day 2/a.mov|Day 2/B.MTS|Day 2/notes.txt|z.webm|a.mp4|.hidden/c.mp4|"
            "Day 2/.d.mov|Day 2/._e.mov|Day 2/Deep/f.ts|Day 2/.cache/g.mkv|readme|x.mov.part|"
            "Day 2/subtitle.srt")
            .split(QLatin1Char('|'));
    for (const QString& file : files) {
        const QString path = trip + QLatin1Char('/') + file;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        ASSERT_TRUE(MediaFactory::WriteFile(path, "x"));
    }
    // A folder named like a movie is looked into, a link to a folder is not
    // (it could lead back up the tree).
    ASSERT_TRUE(QDir().mkpath(trip + "/old.avi"));
    ASSERT_TRUE(MediaFactory::WriteFile(trip + "/old.avi/h.avi", "x"));
    ASSERT_TRUE(QFile::link(trip, trip + "/Day 2/loop"));

    // "<relative folder>|<path under Trip>"; through a list file that gave the
    // folder a relative folder of its own, that one first.
    const QStringList expected = {"Trip|a.mp4",
                                  "Trip|z.webm",
                                  "Trip/Day 2|Day 2/a.mov",
                                  "Trip/Day 2|Day 2/B.MTS",
                                  "Trip/Day 2/Deep|Day 2/Deep/f.ts",
                                  "Trip/Day 10|Day 10/a.mov",
                                  "Trip/old.avi|old.avi/h.avi"};
    for (const QString& base : {QString(), QStringLiteral("Holidays")}) {
        QStringList found, wanted;
        for (const MovieSource& movie : MovieFolder::CollectMovies(trip + "/", base))
            found << movie.strRelativeDir + QLatin1Char('|') + movie.strPath.mid(trip.size() + 1);
        for (const QString& row : expected)
            wanted << MovieFolder::JoinRelativeDirs(base, row);
        EXPECT_EQ(found, wanted) << base.toStdString();
    }
    // Stopped at once: nothing.
    EXPECT_TRUE(MovieFolder::CollectMovies(trip, QString(), [] { return true; }).isEmpty());
}

TEST(MovieFolder, RelativeFoldersCannotLeaveTheOutputFolder)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Trip/Day 1", "Trip/Day 1"},
        {"Trip//Day 1/", "Trip/Day 1"},
        {"./Trip/./Day 1", "Trip/Day 1"},
        {"", ""},
        {"..", ""},
        {"Trip/../../etc", ""},
        {"/etc/cron.d", ""},
        {"Trip/..hidden..", "Trip/..hidden.."},
        {"Über 100% \"x\"", "Über 100% \"x\""},
    };
    for (const auto& [text, cleaned] : cases)
        EXPECT_EQ(MovieFolder::CleanRelativeDir(QString::fromUtf8(text)),
                  QString::fromUtf8(cleaned))
            << text;
}

// Every kind Clipvane reads that the system's MIME database knows is named in
// the desktop entry's MimeType, so that a file manager offers Clipvane for it;
// and the entry names nothing else.
TEST(MovieFileTypes, TheDesktopEntryOpensEveryKindAndNothingElse)
{
    QFile entry(QStringLiteral(CLIPVANE_SOURCE_DIR "/res/desktop/clipvane.desktop.in"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    const QRegularExpressionMatch line =
        QRegularExpression(QStringLiteral("^MimeType=(.*)$"), QRegularExpression::MultilineOption)
            .match(text);
    ASSERT_TRUE(line.hasMatch());
    const QStringList listed = line.captured(1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    EXPECT_TRUE(text.contains(
        QRegularExpression(QStringLiteral("^Exec=.* %F$"), QRegularExpression::MultilineOption)));

    const QMimeDatabase mime;
    QSet<QString> claimed;
    for (const QString& extension : MovieFileTypes::Extensions()) {
        SCOPED_TRACE(extension.toStdString());
        const QList<QMimeType> types = mime.mimeTypesForFileName("movie." + extension);
        bool named = types.isEmpty(); // .ifo and .dat have no MIME type
        for (const QMimeType& type : types) {
            claimed.insert(type.name());
            for (const QString& alias : type.aliases())
                claimed.insert(alias);
            named = named || listed.contains(type.name());
        }
        EXPECT_TRUE(named) << "none of the MIME types of ." << extension.toStdString()
                           << " is in the desktop entry";
    }
    for (const QString& type : listed)
        EXPECT_TRUE(claimed.contains(type))
            << type.toStdString() << " is not a kind Clipvane reads";
}

} // namespace
