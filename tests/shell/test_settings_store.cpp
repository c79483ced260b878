// The settings file read and written by key: what it holds byte for byte, the
// texts and numbers it gives back, and files it cannot use.
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

TEST_F(SettingsStore, ReadingWithoutAFileGivesNothingAndCreatesNothing)
{
    EXPECT_FALSE(GetRegText("Started").has_value());
    EXPECT_FALSE(GetRegText("Option").has_value());
    EXPECT_FALSE(QFile::exists(ConfFile()));
}

TEST_F(SettingsStore, FirstWriteCreatesTheFileAndValuesRoundTrip)
{
    SetRegString("Started", QStringLiteral("Yes"));
    SetRegDWORD("Minior Version", 0);
    SetRegDWORD("Build Version", 314);
    SetRegDWORD("Bit", 4294967295u);
    SetRegString("Prefix", QStringLiteral("  [Tolva], \"x\" %1 ; # = @"));
    SetRegString("Width", QString());

    ASSERT_TRUE(QFile::exists(ConfFile()));
    EXPECT_EQ(GetRegText("Started"), QStringLiteral("Yes"));
    EXPECT_EQ(GetRegText("Build Version"), QStringLiteral("314"));
    EXPECT_EQ(DwordFromText(*GetRegText("Bit")), 4294967295u);
    // No trimming, and characters that mean something in an INI file survive.
    EXPECT_EQ(GetRegText("Prefix"), QStringLiteral("  [Tolva], \"x\" %1 ; # = @"));
    // An empty stored string reads as empty, not as missing.
    EXPECT_EQ(GetRegText("Width"), QString());

    // The names on disk are the program's own, "Minior" spelling included, and
    // a DWORD is its decimal number.
    const QByteArray text = MediaFactory::ReadFile(ConfFile());
    EXPECT_TRUE(text.contains("Minior%20Version=0\n")) << text.constData();
    EXPECT_TRUE(text.contains("Build%20Version=314\n")) << text.constData();
    EXPECT_TRUE(text.contains("Bit=4294967295\n")) << text.constData();
}

TEST_F(SettingsStore, LongNonAsciiMovieDirReadsBackWhole)
{
    QString dir = QStringLiteral("/home/사용자/");
    while (dir.size() < 300)
        dir += QStringLiteral("인코딩된 영화 ");
    dir.truncate(300);
    SetRegString("MovieDir", dir);
    EXPECT_EQ(GetRegText("MovieDir"), dir);
}

TEST_F(SettingsStore, HandWrittenTextsAndTheNumbersTheyHold)
{
    QDir().mkpath(m_home.ConfigDir() + QLatin1String("/Tolva"));
    ASSERT_TRUE(MediaFactory::WriteFile(ConfFile(), "[General]\n"
                                                    "Option=abc\n"
                                                    "Encoder=12abc\n"
                                                    "Bit=-1\n"
                                                    "Fps=4294967296\n"
                                                    "Ratio=0\n"
                                                    "UseSub= 0\n"
                                                    "Parallel=4294967295\n"
                                                    "Height=\n"
                                                    "Width=\"a, b\"\n"
                                                    "Prefix=a, b\n"));
    const struct
    {
        const char* key;
        const char* text;
        std::optional<DWORD> number;
    } cases[] = {
        {"Option", "abc", std::nullopt},
        {"Encoder", "12abc", std::nullopt},
        {"Bit", "-1", std::nullopt},
        {"Fps", "4294967296", std::nullopt},
        {"Ratio", "0", 0},
        // The INI reader takes the spaces round a value away.
        {"UseSub", "0", 0},
        {"Parallel", "4294967295", 4294967295u},
        {"Height", "", std::nullopt},
        // A value with commas is one text, quoted or not.
        {"Width", "a, b", std::nullopt},
        {"Prefix", "a, b", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const std::optional<QString> text = GetRegText(c.key);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, QLatin1String(c.text));
        EXPECT_EQ(DwordFromText(*text), c.number);
    }
    EXPECT_EQ(DwordFromText(QStringLiteral(" 7 ")), 7u);
}

TEST_F(SettingsStore, AFileItCannotUseGivesNothingAndLosesNothingElse)
{
    // Garbage: nothing is read, and writes still work.
    QDir().mkpath(m_home.ConfigDir() + QLatin1String("/Tolva"));
    ASSERT_TRUE(MediaFactory::WriteFile(ConfFile(), QByteArray("\x00\xff\xfe[[[=\n\x01", 9)));
    EXPECT_FALSE(GetRegText("Bit").has_value());
    SetRegDWORD("Bit", 3);
    EXPECT_EQ(GetRegText("Bit"), QStringLiteral("3"));

    // The configuration folder is a file: the write is dropped quietly.
    ScopedTempHome unwritable;
    ASSERT_TRUE(MediaFactory::WriteFile(unwritable.ConfigDir() + QLatin1String("/Tolva"), "x"));
    SetRegString("MovieDir", QStringLiteral("/movies"));
    EXPECT_FALSE(GetRegText("MovieDir").has_value());
}

TEST_F(SettingsStore, EachHomeHasItsOwnFile)
{
    SetRegDWORD("Option", 1);
    {
        ScopedTempHome other;
        EXPECT_FALSE(GetRegText("Option").has_value());
    }
    EXPECT_EQ(GetRegText("Option"), QStringLiteral("1"));
}
