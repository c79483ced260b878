#include "subtitles/SubtitleTiming.h"
#include "tests/engine/QStringPrinter.h"

#include <gtest/gtest.h>

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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        EXPECT_EQ(DelayEarlySamiCues(c.text), c.expected);
    }
}

// Cues that start before the encoder's first picture start at 0.3 s, in frames
// of the movie for MicroDVD; everything else stays byte for byte.
TEST(EarlyCueTimes, MicroDvdAndSubRipCuesStartWhereTheEncoderDrawsThem)
{
    const struct
    {
        QByteArray text;
        double frameRate;
        QByteArray expected;
    } microDvd[] = {
        {"{0}{50}At zero\r\n{75}{175}Later\r\n", 25, "{8}{50}At zero\r\n{75}{175}Later\r\n"},
        {"{7}{}Open end\n{8}{9}x", 25, "{8}{}Open end\n{8}{9}x"},
        {"{0}{50}a", 29.97, "{9}{50}a"},
        // Ending before its new start: it keeps its length.
        {"{0}{5}a\n{2}{3}b", 25, "{8}{13}a\n{8}{9}b"},
        // The first line may give the frame rate; "{1}{1}" later is a cue.
        {"{1}{1}23.976\n{1}{1}x", 25, "{1}{1}23.976\n{8}{8}x"},
        {"{0}{50 not a cue\n}{0}{5}\n 0}{5}", 25, "{0}{50 not a cue\n}{0}{5}\n 0}{5}"},
    };
    for (const auto& c : microDvd) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        EXPECT_EQ(DelayEarlyMicroDvdCues(c.text, c.frameRate), c.expected);
    }
    const struct
    {
        QByteArray text;
        QByteArray expected;
    } subRip[] = {
        {"1\r\n00:00:00,000 --> 00:00:02,000\r\nAt zero\r\n\r\n2\r\n00:00:03,000 --> "
         "00:00:07,000\r\n",
         "1\r\n00:00:00,300 --> 00:00:02,000\r\nAt zero\r\n\r\n2\r\n00:00:03,000 --> "
         "00:00:07,000\r\n"},
        {"0:0:0.299-->0:0:0.400 X1:1 Y1:1\n", "00:00:00,300 --> 00:00:00,400 X1:1 Y1:1\n"},
        {"00:00:00,100 --> 00:00:00,250\n", "00:00:00,300 --> 00:00:00,450\n"},
        // Not timing lines.
        {"00:00:00,000\n00:00 --> 00:01\n-->\n", "00:00:00,000\n00:00 --> 00:01\n-->\n"},
        {"", ""},
    };
    for (const auto& c : subRip) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        EXPECT_EQ(DelayEarlySubRipCues(c.text), c.expected);
    }
}
