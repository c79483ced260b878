#include "engine/SubtitleConverter.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

class SubtitleConversion : public ::testing::Test
{
protected:
    QString Source(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("자막 원본.smi"));
        EXPECT_TRUE(MediaFactory::WriteFile(path, bytes));
        return path;
    }
    QString Destination() const { return m_dir.filePath(QStringLiteral("out/temp.smi")); }

    // Converts bytes and returns what was written; fails the test if the
    // conversion reports failure.
    QByteArray Convert(const QByteArray& bytes, int codePage)
    {
        const QString source = Source(bytes);
        EXPECT_TRUE(ConvertSubtitleToUtf8(source, Destination(), codePage));
        return MediaFactory::ReadFile(Destination());
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("out")));
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SubtitleConversion, GivesExactUtf8)
{
    const struct
    {
        QByteArray source;
        int codePage;
        QByteArray utf8;
    } cases[] = {
        // Korean SAMI from CP949. Line ends are kept as they are: CRLF stays
        // CRLF, a lone LF stays LF.
        {"<SAMI>\r\n<BODY>\r\n<SYNC Start=1000><P Class=KRCC>"
         "\xbe\xc8\xb3\xe7\xc7\xcf\xbc\xbc\xbf\xe4\r\n</BODY>\n</SAMI>",
         949,
         "<SAMI>\r\n<BODY>\r\n<SYNC Start=1000><P Class=KRCC>"
         "\xec\x95\x88\xeb\x85\x95\xed\x95\x98\xec\x84\xb8\xec\x9a\x94\r\n</BODY>\n</SAMI>"},
        // Other legacy code pages.
        {"<P>\x93\xfa\x96{\x8c\xea", 932, "<P>\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},
        {"caf\xe9 \x80", 1252, "caf\xc3\xa9 \xe2\x82\xac"},
        // Valid UTF-8 throughout is taken as it is, whatever the code page says;
        // a byte order mark is not written.
        {"\xec\x95\x88\xeb\x85\x95 <P>\r\n", 949, "\xec\x95\x88\xeb\x85\x95 <P>\r\n"},
        {"\xef\xbb\xbf\xec\x95\x88\xeb\x85\x95 <P>\r\n", 949, "\xec\x95\x88\xeb\x85\x95 <P>\r\n"},
        // UTF-16 in both byte orders, with their marks.
        {QByteArray("\xff\xfe\x48\xc5\x55\xb1\x0d\x00\x0a\x00", 10), 949,
         "\xec\x95\x88\xeb\x85\x95\r\n"},
        {QByteArray("\xfe\xff\xc5\x48\xb1\x55", 6), 949, "\xec\x95\x88\xeb\x85\x95"},
        // Plain ASCII reads the same in every code page.
        {"<SAMI></SAMI>", 949, "<SAMI></SAMI>"},
        // The text ends at the first zero.
        {QByteArray("ab\0\xbe\xc8", 5), 949, "ab"},
        {QByteArray("\xff\xfe\x41\x00\x00\x00\x42\x00", 8), 949, "A"},
        // 0xFF is no lead byte in CP949; the text around it survives. A lead byte
        // cut off by the end of the file is replaced as well.
        {"\xbe\xc8\xff\xb3\xe7\xbe", 949, "\xec\x95\x88\xef\xbf\xbd\xeb\x85\x95\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "code page " << c.codePage << ", " << ::testing::PrintToString(c.source));
        EXPECT_EQ(Convert(c.source, c.codePage), c.utf8);
    }
}

TEST_F(SubtitleConversion, EmptySourceGivesEmptyDestination)
{
    ASSERT_TRUE(MediaFactory::WriteFile(Destination(), "left over from the last job"));
    EXPECT_EQ(Convert(QByteArray(), 949), QByteArray());
    EXPECT_TRUE(QFileInfo::exists(Destination()));
}

TEST_F(SubtitleConversion, FailuresReportFalse)
{
    // A missing source: nothing is created.
    EXPECT_FALSE(
        ConvertSubtitleToUtf8(m_dir.filePath(QStringLiteral("missing.smi")), Destination(), 949));
    EXPECT_FALSE(QFileInfo::exists(Destination()));

    const QString source = Source("\xbe\xc8");
    // Destinations that cannot be written: a missing folder, a folder, no name.
    for (const QString& destination : {m_dir.filePath(QStringLiteral("no/such/temp.smi")),
                                       m_dir.filePath(QStringLiteral("out")), QString()})
        EXPECT_FALSE(ConvertSubtitleToUtf8(source, destination, 949)) << destination.toStdString();
    // An unknown code page.
    EXPECT_FALSE(ConvertSubtitleToUtf8(source, Destination(), 12345));
}

TEST(SamiCueTimes, EarlyCuesStartWhereTheEncoderDrawsThem)
{
    const struct
    {
        QByteArray text;
        QByteArray expected;
    } cases[] = {
        // A cue showing from the first picture; later cues stay where they are.
        {"<SYNC Start=0><P>a\r\n<SYNC Start=1500><P>b",
         "<SYNC Start=300><P>a\r\n<SYNC Start=1500><P>b"},
        {"<sync start=299><p>a", "<sync start=300><p>a"},
        {"<SYNC Start=300><P>a", "<SYNC Start=300><P>a"},
        {"<SYNC START=1000><P>a", "<SYNC START=1000><P>a"},
        // Several early times all become the earliest one, in their order.
        {"<SYNC Start=0><P>&nbsp;<SYNC Start=100><P>a<SYNC Start=2000>",
         "<SYNC Start=300><P>&nbsp;<SYNC Start=300><P>a<SYNC Start=2000>"},
        // The number as the encoder reads it: blanks, a sign, octal and hex.
        {"<SYNC Start= -40>", "<SYNC Start=300>"},
        {"<SYNC Start=0400>", "<SYNC Start=300>"},    // octal 256
        {"<SYNC Start=0x190>", "<SYNC Start=0x190>"}, // 400
        // No number: left alone, like anything that is not a cue time.
        {"<SYNC Start=\"0\"><P>Start= x", "<SYNC Start=\"0\"><P>Start= x"},
        {"\xec\x95\x88 Start=5", "\xec\x95\x88 Start=300"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        EXPECT_EQ(DelayEarlySamiCues(c.text), c.expected);
    }
}

TEST(SubtitleCodePages, MapToIconvNames)
{
    EXPECT_EQ(CodePageCharset(0, QLocale::Korean), QByteArray("CP949"));
    EXPECT_EQ(CodePageCharset(0, QLocale::Japanese), QByteArray("CP932"));
    EXPECT_EQ(CodePageCharset(0, QLocale::English), QByteArray("CP1252"));
    EXPECT_EQ(CodePageCharset(0, QLocale::German), QByteArray("CP1252"));
    EXPECT_EQ(CodePageCharset(949, QLocale::English), QByteArray("CP949"));
    EXPECT_EQ(CodePageCharset(1251, QLocale::Korean), QByteArray("CP1251"));
    EXPECT_EQ(CodePageCharset(65001, QLocale::Korean), QByteArray("UTF-8"));
}

TEST(SubtitleWorkFolder, IsPrivateToTheProcess)
{
    const QString dir = SubtitleWorkDir();
    ASSERT_FALSE(dir.isEmpty());
    EXPECT_EQ(SubtitleWorkDir(), dir);
    EXPECT_TRUE(dir.startsWith(QDir::tempPath() + QLatin1Char('/')));
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());
}
