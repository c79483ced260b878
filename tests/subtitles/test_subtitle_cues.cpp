#include "subtitles/SubtitleCues.h"
#include "subtitles/SubtitleLines.h"
#include "tests/engine/QStringPrinter.h"

#include <gtest/gtest.h>

// Found by googletest beside SubtitleCue, so that a failed comparison shows the cues.
void PrintTo(const SubtitleCue& cue, std::ostream* os)
{
    *os << cue.startMs << "-" << cue.endMs << " [" << cue.lines.join(" | ").toStdString() << "]";
}

// Each format as real files have it: CRLF line ends, a SAMI header with a style
// sheet, two languages and clearing cues, MicroDVD with its frame-rate line and
// style codes, SubRip with markup and a missing blank line.
TEST(SubtitleCues, AreReadFromEachFormatAsTheFilesMeanThem)
{
    const QString sami = QStringLiteral(
        "<SAMI>\r\n<HEAD>\r\n<TITLE>Clip</TITLE>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
        ".KRCC { Name:Korean; lang:ko-KR; }\r\n.ENCC { Name:English; lang:en-US; }\r\n"
        "-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n"
        "<SYNC Start=1000><P Class=KRCC>안녕하세요<br>반갑습니다\r\n"
        "<P Class=ENCC>Hello<br>Nice to meet you\r\n"
        "<SYNC Start=2500><P Class=KRCC>&nbsp;\r\n<P Class=ENCC>&nbsp;\r\n"
        "<SYNC Start=\"3000\"><P Class=KRCC><font color=\"#ffff00\">Tom &amp; Jerry</font>\r\n"
        "  &lt;3&gt; &#44608;밥\r\n"
        // Replaced at once, without a clearing cue; the file's line end joins
        // the Japanese text.
        "<SYNC Start=4000><P Class=KRCC>今日は\r\nいい天気\r\n"
        "<SYNC Start=6000><P Class=KRCC>The end\r\n</BODY>\r\n</SAMI>\r\n");
    const QString microDvd = QStringLiteral("{1}{1}10\r\n{0}{15}{y:i}First|/second line\r\n"
                                            "{20}{}Until the next\r\n{30}{40}Last\r\n");
    const QString subRip =
        QStringLiteral("1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Hello</i>\r\nthere\r\n\r\n\r\n"
                       "2\r\n00:00:03,000 --> 00:00:04,000\r\nNo blank line after\r\n"
                       "3\r\n00:00:05,000 --> 00:00:06,000\r\n{\\an8}On top\r\n");
    const struct
    {
        const char* name;
        std::vector<SubtitleCue> read;
        std::vector<SubtitleCue> expected;
    } cases[] = {
        {"sami",
         ReadSamiCues(sami),
         {{1000, 2500, {QStringLiteral("안녕하세요"), QStringLiteral("반갑습니다")}},
          {3000, 4000, {QStringLiteral("Tom & Jerry <3> 김밥")}},
          {4000, 6000, {QStringLiteral("今日はいい天気")}},
          {6000, OpenEndMs, {QStringLiteral("The end")}}}},
        {"microdvd",
         ReadMicroDvdCues(microDvd, 25),
         {{0, 1500, {QStringLiteral("First"), QStringLiteral("second line")}},
          {2000, 3000, {QStringLiteral("Until the next")}},
          {3000, 4000, {QStringLiteral("Last")}}}},
        {"subrip",
         ReadSubRipCues(subRip),
         {{1000, 2500, {QStringLiteral("<i>Hello</i>"), QStringLiteral("there")}},
          {3000, 4000, {QStringLiteral("No blank line after")}},
          {5000, 6000, {QStringLiteral("{\\an8}On top")}}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.read, c.expected) << c.name;
}

// Lines wider than the room are broken into as few lines of about equal width
// as fit, where a reader expects the break; Korean (it has spaces) and Latin
// text are left to the renderer, which wraps them at their spaces.
TEST(SubtitleCues, LongChineseAndJapaneseLinesAreBrokenWhereTheyRead)
{
    const struct
    {
        const char* line;
        int halfWidths;
        QStringList expected;
    } cases[] = {
        // After the phrase's comma, not in the middle of a word.
        {"今天天气很好，我们一起去公园散步，然后去饭馆吃午饭吧。",
         40,
         {"今天天气很好，我们一起去公园散步，", "然后去饭馆吃午饭吧。"}},
        // Without punctuation about halves, as many lines as it takes; small
        // kana do not start a line, opening brackets do not end one.
        {"一二三四五六七八九十一二三四五六七八九十",
         16,
         {"一二三四五六七", "八九十一二三四", "五六七八九十"}},
        {"あいうえおかきくけちゃさしすせそたちつて",
         24,
         {"あいうえおかきくけ", "ちゃさしすせそたちつて"}},
        {"あいうえおかきくけ「こさしすせそ」たちつ",
         24,
         {"あいうえおかきくけ", "「こさしすせそ」たちつ"}},
        // A Latin word is never cut, a space is a break, markup takes no room.
        {"<i>これはTelevisionの話です</i>", 20, {"<i>これは", "Televisionの話です</i>"}},
        {"日本語の字幕 スペースあり", 16, {"日本語の字幕", "スペースあり"}},
        {"今日はいい天気ですね。", 40, {"今日はいい天気ですね。"}},
        {"안녕하세요반갑습니다오늘날씨가정말좋네요",
         20,
         {"안녕하세요반갑습니다오늘날씨가정말좋네요"}},
        {"A long Latin line that the renderer wraps itself",
         20,
         {"A long Latin line that the renderer wraps itself"}},
        {"一二三四五六七八九十", 0, {"一二三四五六七八九十"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BreakLongLine(QString::fromUtf8(c.line), c.halfWidths), c.expected) << c.line;
}
