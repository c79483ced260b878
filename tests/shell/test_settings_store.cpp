#include "shell/SettingsStore.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

class SettingsStore : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_home.IsValid()); }

    QString ConfFile() const { return m_home.ConfigDir() + QLatin1String("/Tolva/Clipvane.conf"); }

    ScopedTempHome m_home;
};

} // namespace

TEST_F(SettingsStore, EveryValueReadsItsDefaultWithoutAFile)
{
    ASSERT_FALSE(QFile::exists(ConfFile()));
    EXPECT_EQ(GetRegString(RegValue::Started), QString());
    EXPECT_EQ(GetMovieDir(), QStringLiteral("./"));
    EXPECT_EQ(GetPrefix(), QStringLiteral("./"));
    EXPECT_EQ(GetRegDWORD(RegValue::Option), 0u);
    EXPECT_EQ(GetRegDWORD(RegValue::Encoder), 0u);
    EXPECT_EQ(GetRegDWORD(RegValue::Bit), 1u);
    EXPECT_EQ(GetRegDWORD(RegValue::Fps), 0u);
    EXPECT_EQ(GetRegString(RegValue::Width), QStringLiteral("320"));
    EXPECT_EQ(GetRegString(RegValue::Height), QStringLiteral("240"));
    EXPECT_EQ(GetRegDWORD(RegValue::Ratio), 1u);
    EXPECT_EQ(GetRegDWORD(RegValue::UseSub), 1u);
    EXPECT_EQ(GetRegDWORD(RegValue::Shutdown), 0u);
    // Reading creates nothing.
    EXPECT_FALSE(QFile::exists(ConfFile()));
}

TEST_F(SettingsStore, FirstWriteCreatesTheFileAndValuesRoundTrip)
{
    SetRegString(RegValue::Started, QStringLiteral("Yes"));
    SetRegDWORD(RegValue::MinorVersion, 0);
    SetRegDWORD(RegValue::BuildVersion, 314);
    SetRegDWORD(RegValue::Bit, 4294967295u);
    SetRegString(RegValue::Prefix, QStringLiteral("  [Tolva], \"x\" %1 ; # = @"));
    SetRegString(RegValue::Width, QString());

    ASSERT_TRUE(QFile::exists(ConfFile()));
    EXPECT_EQ(GetRegString(RegValue::Started), QStringLiteral("Yes"));
    EXPECT_EQ(GetRegDWORD(RegValue::MinorVersion), 0u);
    EXPECT_EQ(GetRegDWORD(RegValue::BuildVersion), 314u);
    EXPECT_EQ(GetRegDWORD(RegValue::Bit), 4294967295u);
    // No trimming, and characters that mean something in an INI file survive.
    EXPECT_EQ(GetPrefix(), QStringLiteral("  [Tolva], \"x\" %1 ; # = @"));
    // An empty stored string reads as empty, not as the default.
    EXPECT_EQ(GetRegString(RegValue::Width), QString());

    // The names on disk are the program's own, "Minior" spelling included.
    const QByteArray text = MediaFactory::ReadFile(ConfFile());
    EXPECT_TRUE(text.contains("Minior%20Version=0")) << text.constData();
    EXPECT_TRUE(text.contains("Build%20Version=314")) << text.constData();
}

TEST_F(SettingsStore, LongNonAsciiMovieDirReadsBackWhole)
{
    QString dir = QStringLiteral("/home/사용자/");
    while (dir.size() < 300)
        dir += QStringLiteral("인코딩된 영화 ");
    dir.truncate(300);
    SetRegString(RegValue::MovieDir, dir);
    EXPECT_EQ(GetMovieDir().size(), 300);
    EXPECT_EQ(GetMovieDir(), dir);
}

TEST_F(SettingsStore, TextWhereANumberIsExpectedGivesTheDefault)
{
    QDir().mkpath(m_home.ConfigDir() + QLatin1String("/Tolva"));
    ASSERT_TRUE(MediaFactory::WriteFile(ConfFile(), "[General]\n"
                                                    "Option=abc\n"
                                                    "Encoder=12abc\n"
                                                    "Bit=-1\n"
                                                    "Fps=4294967296\n"
                                                    "Ratio=0\n"
                                                    "UseSub= 0\n"
                                                    "Width=\"a, b\"\n"));
    EXPECT_EQ(GetRegDWORD(RegValue::Option), 0u);
    EXPECT_EQ(GetRegDWORD(RegValue::Encoder), 0u);
    EXPECT_EQ(GetRegDWORD(RegValue::Bit), 1u);
    EXPECT_EQ(GetRegDWORD(RegValue::Fps), 0u);
    EXPECT_EQ(GetRegDWORD(RegValue::Ratio), 0u);
    EXPECT_EQ(GetRegDWORD(RegValue::UseSub), 0u);
    // A DWORD-stored value read as a string gives its text.
    SetRegDWORD(RegValue::Shutdown, 1);
    EXPECT_EQ(GetRegString(SettingsKey, QStringLiteral("Shutdown"), QStringLiteral("x")),
              QStringLiteral("1"));
    EXPECT_EQ(GetRegString(RegValue::Width), QStringLiteral("a, b"));
}

TEST_F(SettingsStore, GarbageFileYieldsDefaultsAndWritesStillWork)
{
    QDir().mkpath(m_home.ConfigDir() + QLatin1String("/Tolva"));
    ASSERT_TRUE(MediaFactory::WriteFile(ConfFile(), QByteArray("\x00\xff\xfe[[[=\n\x01", 9)));
    EXPECT_EQ(GetRegDWORD(RegValue::Bit), 1u);
    EXPECT_EQ(GetMovieDir(), QStringLiteral("./"));
    SetRegDWORD(RegValue::Bit, 3);
    EXPECT_EQ(GetRegDWORD(RegValue::Bit), 3u);
}

TEST_F(SettingsStore, UnwritableFolderDropsTheWriteQuietly)
{
    // The configuration folder is a file: nothing can be created below it.
    ASSERT_TRUE(MediaFactory::WriteFile(m_home.ConfigDir() + QLatin1String("/Tolva"), "x"));
    SetRegString(RegValue::MovieDir, QStringLiteral("/movies"));
    EXPECT_EQ(GetMovieDir(), QStringLiteral("./"));
}

TEST_F(SettingsStore, EachHomeHasItsOwnFile)
{
    SetRegDWORD(RegValue::Option, 1);
    {
        ScopedTempHome other;
        EXPECT_EQ(GetRegDWORD(RegValue::Option), 0u);
    }
    EXPECT_EQ(GetRegDWORD(RegValue::Option), 1u);
}
