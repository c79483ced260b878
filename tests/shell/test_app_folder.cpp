#include "shell/AppFolder.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <memory>

#include <QCoreApplication>
#include <QTimer>

TEST(AppFolder, IsTheExecutablesFolderUnchanged)
{
    const QString dir = GetAppDir();
    EXPECT_EQ(dir, TestEnvironment::BinDir());
    EXPECT_FALSE(dir.endsWith(QLatin1Char('/')));
    // The build folder name carries no upper case on every machine, but the path
    // must never be lowered: compare with what the kernel reports.
    EXPECT_EQ(dir, QCoreApplication::applicationDirPath());
}

TEST(AppFolder, FormatsNumbersWithoutLocale)
{
    EXPECT_EQ(FormatInt(-1), QStringLiteral("-1"));
    EXPECT_EQ(FormatInt(0), QStringLiteral("0"));
    EXPECT_EQ(FormatInt(2147483647), QStringLiteral("2147483647"));
    EXPECT_EQ(FormatReal(15), QStringLiteral("15.000"));
    EXPECT_EQ(FormatReal(29.97), QStringLiteral("29.970"));
    EXPECT_EQ(FormatReal(0.0005), QStringLiteral("0.001"));
    EXPECT_EQ(FormatDuration(0), "00:00:00");
    EXPECT_EQ(FormatDuration(3725), "01:02:05");
    EXPECT_EQ(FormatDuration(360000), "100:00:00");
}

TEST(AppFolder, SplitsPathsIntoNameAndExtension)
{
    EXPECT_EQ(PathFileName(QStringLiteral("/home/u/Movies/a b.MPG")), QStringLiteral("a b.MPG"));
    EXPECT_EQ(PathExtension(QStringLiteral("/home/u/Movies/a b.MPG")), QStringLiteral(".MPG"));
    EXPECT_EQ(PathExtension(QStringLiteral("/x/movie.tar.gz")), QStringLiteral(".gz"));
    // A dot in a folder name is not an extension.
    EXPECT_EQ(PathExtension(QStringLiteral("/x/my.clips/movie")), QString());
    EXPECT_EQ(PathFileName(QStringLiteral("/x/my.clips/movie")), QStringLiteral("movie"));
    EXPECT_EQ(PathFileName(QStringLiteral("movie.avi")), QStringLiteral("movie.avi"));
    EXPECT_EQ(PathFileName(QStringLiteral("/x/dir/")), QString());
    EXPECT_EQ(PathExtension(QStringLiteral("/x/영화 파일.smi")), QStringLiteral(".smi"));
}

TEST(AppFolder, ResultsAreIndependentValues)
{
    // A result never refers to its argument's text: the argument overwritten in
    // place, then gone, leaves each result as it was.
    auto path = std::make_unique<QString>(QString::fromUtf8("/a/first.avi"));
    const QString name = PathFileName(*path);
    const QString extension = PathExtension(*path);
    path->fill(QLatin1Char('x'));
    path.reset();
    EXPECT_EQ(name, QStringLiteral("first.avi"));
    EXPECT_EQ(extension, QStringLiteral(".avi"));
}

TEST(AppFolder, PumpMessagesRunsPendingEvents)
{
    int calls = 0;
    QTimer::singleShot(0, [&calls] { ++calls; });
    PumpMessages();
    EXPECT_EQ(calls, 1);
}
