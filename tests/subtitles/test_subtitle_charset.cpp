#include "subtitles/SubtitleCharset.h"
#include "subtitles/SubtitleCopy.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <QDir>
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

// UTF-8 text in another charset, as glibc's iconv writes it.
QByteArray Encoded(const QByteArray& utf8, const char* charset)
{
    iconv_t cd = ::iconv_open(charset, "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << charset;
    QByteArray out(utf8.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(utf8.constData());
    char* to = out.data();
    size_t inLeft = size_t(utf8.size());
    size_t outLeft = size_t(out.size());
    EXPECT_NE(::iconv(cd, &in, &inLeft, &to, &outLeft), size_t(-1)) << charset;
    ::iconv_close(cd);
    out.truncate(out.size() - qsizetype(outLeft));
    return out;
}

// A subtitle file of a few cues, as people have them, in SubRip or SAMI form.
QByteArray SubtitleFile(const std::vector<const char*>& cues, bool sami)
{
    QByteArray text =
        sami ? "<SAMI>\r\n<HEAD>\r\n<TITLE>Clip</TITLE>\r\n</HEAD>\r\n<BODY>\r\n" : "";
    for (size_t i = 0; i < cues.size(); ++i) {
        const QByteArray start = QByteArray::number(1 + int(i) * 3);
        const QByteArray end = QByteArray::number(3 + int(i) * 3);
        if (sami)
            text += "<SYNC Start=" + start + "000><P Class=KRCC>" + cues[i] +
                    "\r\n<SYNC Start=" + end + "500><P Class=KRCC>&nbsp;\r\n";
        else
            text += QByteArray::number(qulonglong(i + 1)) + "\r\n00:00:0" + start +
                    ",000 --> 00:00:0" + end + ",500\r\n" + cues[i] + "\r\n\r\n";
    }
    return sami ? text + "</BODY>\r\n</SAMI>\r\n" : text;
}

} // namespace

// Subtitle files in the charsets people write them in, each read on a system
// whose language uses another one: the text comes out right, and the letters
// tell the language for the font. A file too short for the detector is read
// in the code page of the system's language.
TEST(SubtitleCharsets, AreDetectedOnASystemOfAnotherLanguage)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale korean(QLocale::Korean, QLocale::SouthKorea);
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    const struct
    {
        const char* charset;
        std::vector<const char*> cues;
        QLocale system;
        QLocale::Language language;
    } cases[] = {
        {"CP949",
         {"안녕하세요. 오늘 날씨가 정말 좋네요.", "어디 가세요?", "학교에 가요."},
         english,
         QLocale::Korean},
        {"CP932",
         {"こんにちは。今日はいい天気ですね。", "どこへ行きますか？", "学校へ行きます。"},
         korean,
         QLocale::Japanese},
        {"GB18030",
         {"你好。今天天气真好。", "你去哪儿？", "我去学校。"},
         japanese,
         QLocale::Chinese},
        {"BIG5", {"你好。今天天氣真好。", "你去哪裡？", "我去學校。"}, korean, QLocale::Chinese},
        {"CP1251",
         {"Куда ты идёшь?", "Я иду в школу.", "Большое спасибо."},
         chinese,
         QLocale::AnyLanguage},
        // The detector takes this one for Central European (Mac).
        {"CP1252",
         {"Qu'est-ce qui s'est passé ?", "Viens vite !", "Je t'aime."},
         korean,
         QLocale::AnyLanguage},
        {"CP1252",
         {"Schönes Wetter heute.", "Wohin gehst du, Jürgen?", "Zur Schule."},
         chinese,
         QLocale::AnyLanguage},
        {"UTF-16", {"안녕하세요.", "Größe", "你好"}, japanese, QLocale::Korean},
        {"UTF-16LE", {"Привет", "Größe", "Ok"}, korean, QLocale::AnyLanguage},
        // Too short for the detector (no answer, or Western European): the
        // system's code page, which reads the bytes as text of its language.
        {"GB18030", {"你去哪儿？"}, chinese, QLocale::Chinese},
        {"CP949", {"안녕하세요."}, korean, QLocale::Korean},
        {"BIG5", {"你去哪裡？"}, QLocale(QLocale::Chinese, QLocale::Taiwan), QLocale::Chinese},
    };
    for (const auto& c : cases) {
        for (const bool sami : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c.charset << (sami ? " SAMI" : " SubRip") << " on "
                                              << c.system.name().toStdString());
            const QByteArray utf8 = SubtitleFile(c.cues, sami);
            const std::optional<SubtitleText> text =
                DecodeSubtitle(Encoded(utf8, c.charset), 0, c.system);
            ASSERT_TRUE(text);
            EXPECT_EQ(text->utf8, utf8);
            EXPECT_EQ(text->language, c.language);
        }
    }
}

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

TEST(SubtitleCodePages, MapToIconvNames)
{
    EXPECT_EQ(CodePageCharset(0, QLocale::Korean), QByteArray("CP949"));
    EXPECT_EQ(CodePageCharset(0, QLocale::Japanese), QByteArray("CP932"));
    EXPECT_EQ(CodePageCharset(0, QLocale::English), QByteArray("CP1252"));
    EXPECT_EQ(CodePageCharset(0, QLocale::German), QByteArray("CP1252"));
    EXPECT_EQ(CodePageCharset(0, QLocale::Chinese), QByteArray("GB18030"));
    EXPECT_EQ(CodePageCharset(0, QLocale(QLocale::Chinese, QLocale::HongKong)),
              QByteArray("CP950"));
    EXPECT_EQ(CodePageCharset(0, QLocale::Russian), QByteArray("CP1251"));
    EXPECT_EQ(CodePageCharset(0, QLocale(QLocale::Serbian, QLocale::LatinScript, QLocale::Serbia)),
              QByteArray("CP1250"));
    EXPECT_EQ(CodePageCharset(949, QLocale::English), QByteArray("CP949"));
    EXPECT_EQ(CodePageCharset(1251, QLocale::Korean), QByteArray("CP1251"));
    EXPECT_EQ(CodePageCharset(65001, QLocale::Korean), QByteArray("UTF-8"));
}
