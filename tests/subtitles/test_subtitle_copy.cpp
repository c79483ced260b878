#include "subtitles/EncoderSubtitle.h"
#include "subtitles/SubtitleCopy.h"
#include "tests/engine/QStringPrinter.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

// The copy each renderer reads: libass gets SubRip from every format, with the
// cue times as written; mencoder keeps the file's own format unless a Chinese
// or Japanese line must be broken, and then gets SubRip with its early cues
// moved to where it draws them.
TEST(SubtitleCues, EachRendererGetsTheCopyItReadsRight)
{
    const QByteArray japaneseSami =
        "<SAMI><BODY>\r\n<SYNC Start=0><P>今日はとてもいい天気ですね\r\n"
        "<SYNC Start=2000><P>&nbsp;\r\n</BODY></SAMI>\r\n";
    QByteArray shiftJis(256, '\0');
    {
        iconv_t cd = ::iconv_open("CP932", "UTF-8");
        ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
        char* in = const_cast<char*>(japaneseSami.constData());
        char* out = shiftJis.data();
        size_t inLeft = size_t(japaneseSami.size());
        size_t outLeft = size_t(shiftJis.size());
        ASSERT_NE(::iconv(cd, &in, &inLeft, &out, &outLeft), size_t(-1));
        ::iconv_close(cd);
        shiftJis.truncate(shiftJis.size() - qsizetype(outLeft));
    }
    const QByteArray broken = "1\n00:00:00,000 --> 00:00:02,000\n今日はとても\nいい天気ですね\n\n";
    const QByteArray brokenLate =
        "1\n00:00:00,300 --> 00:00:02,000\n今日はとても\nいい天気ですね\n\n";
    const QLocale korean(QLocale::Korean, QLocale::SouthKorea);
    const struct
    {
        const char* name;
        QByteArray raw;
        SubtitleFormat format;
        SubtitleRenderer renderer;
        int halfWidths;
        std::optional<QByteArray> utf8; // nothing: no copy
        SubtitleFormat copyFormat;
    } cases[] = {
        {"libass, Shift-JIS SAMI", shiftJis, SubtitleFormat::Sami, SubtitleRenderer::Libass, 20,
         broken, SubtitleFormat::SubRip},
        {"libass, room enough", shiftJis, SubtitleFormat::Sami, SubtitleRenderer::Libass, 40,
         QByteArray("1\n00:00:00,000 --> 00:00:02,000\n今日はとてもいい天気ですね\n\n"),
         SubtitleFormat::SubRip},
        {"libass, MicroDVD at the movie's rate", "{25}{50}Hello\n", SubtitleFormat::MicroDvd,
         SubtitleRenderer::Libass, 0, QByteArray("1\n00:00:01,000 --> 00:00:02,000\nHello\n\n"),
         SubtitleFormat::SubRip},
        {"libass, nothing to draw", "<SAMI><BODY></BODY></SAMI>", SubtitleFormat::Sami,
         SubtitleRenderer::Libass, 0, std::nullopt, SubtitleFormat::SubRip},
        // Not cleared: it ends with the movie (10 s), not hours after it.
        {"libass, last cue open", "<SAMI><BODY><SYNC Start=9000><P>Bye</BODY></SAMI>",
         SubtitleFormat::Sami, SubtitleRenderer::Libass, 0,
         QByteArray("1\n00:00:09,000 --> 00:00:10,000\nBye\n\n"), SubtitleFormat::SubRip},
        {"mencoder, broken", shiftJis, SubtitleFormat::Sami, SubtitleRenderer::Mencoder, 20,
         brokenLate, SubtitleFormat::SubRip},
        {"mencoder, room enough", japaneseSami, SubtitleFormat::Sami, SubtitleRenderer::Mencoder,
         40, QByteArray(japaneseSami).replace("Start=0>", "Start=300>"), SubtitleFormat::Sami},
    };
    for (const auto& c : cases) {
        SubtitleCopyOptions options;
        options.renderer = c.renderer;
        options.frameRate = 25;
        options.movieSeconds = 10;
        options.lineHalfWidths = c.halfWidths;
        const std::optional<SubtitleCopy> copy = MakeSubtitleCopy(c.raw, c.format, options, korean);
        ASSERT_EQ(copy.has_value(), c.utf8.has_value()) << c.name;
        if (!copy)
            continue;
        EXPECT_EQ(copy->utf8, *c.utf8) << c.name;
        EXPECT_EQ(copy->format, c.copyFormat) << c.name;
    }
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
