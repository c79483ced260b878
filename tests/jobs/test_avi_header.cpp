// The AVI header reader on buffers: what it takes from sound headers, and that no
// truncated or hostile header makes it read outside the bytes it was given (each
// case runs on an exactly sized heap copy, so AddressSanitizer sees any overrun).
#include "jobs/AviHeader.h"
#include "tests/jobs/AviBuilder.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>

#include <QList>

namespace {

using namespace AviBuilder;

// An exact copy: a read one byte past the end is a heap overflow.
std::unique_ptr<std::uint8_t[]> ExactCopy(const QByteArray& bytes)
{
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[std::size_t(bytes.size())]);
    std::memcpy(copy.get(), bytes.constData(), std::size_t(bytes.size()));
    return copy;
}

bool Parse(const QByteArray& bytes, AviHeaderInfo& info)
{
    return ParseAviHeader(ExactCopy(bytes).get(), std::size_t(bytes.size()), info);
}

std::uint64_t HeaderEnd(const QByteArray& bytes)
{
    return AviHeaderEnd(ExactCopy(bytes).get(), std::size_t(bytes.size()));
}

// Both readers on bytes where only their safety matters.
void ReadBoth(const QByteArray& bytes)
{
    AviHeaderInfo info;
    Parse(bytes, info);
    HeaderEnd(bytes);
}

// What the reader takes from a header: "refused", or the picture size and, when
// there is an audio stream, where it ends.
std::string Read(const QByteArray& bytes)
{
    AviHeaderInfo info;
    if (!Parse(bytes, info))
        return "refused";
    const std::string size = std::to_string(info.nWidth) + "x" + std::to_string(info.nHeight);
    return info.bHasAudio ? size + ", audio to " + std::to_string(info.nAudioEndMs) + " ms" : size;
}

TEST(AviHeader, MainHeaderAndFirstAudioStream)
{
    const QByteArray hdrl = Avih(720, 576) +
                            List("strl", Strh("vids", 1, 25, 0, 250) + VideoStrf(720, 576)) +
                            List("strl", Strh("auds", 1152, 48000, 0, 417) + PcmStrf(48000)) +
                            List("strl", Strh("auds", 1, 8000, 0, 8000 * 99) + PcmStrf());
    // 417 frames of 1152 samples at 48 kHz end at 10008 ms; the second audio
    // stream (99 s) is not looked at.
    EXPECT_EQ(Read(Riff(List("hdrl", hdrl) + List("movi", {}))), "720x576, audio to 10008 ms");
}

TEST(AviHeader, VideoOnlyHeaderHasNoAudio)
{
    EXPECT_EQ(Read(MakeAvi(352, 288, 352, 288, nullptr)), "352x288");
}

TEST(AviHeader, ChunksBeforeTheHeaderListAndOddSizesAreWalked)
{
    // A chunk of odd size is followed by a pad byte; a JUNK chunk before "hdrl"
    // and one inside it are skipped.
    const QByteArray hdrl = Chunk("JUNK", QByteArray(3, 'j')) + Avih(100, 50) +
                            List("strl", Strh("auds", 1, 1000, 500, 1500));
    EXPECT_EQ(Read(Riff(Chunk("JUNK", QByteArray(5, 'j')) + List("hdrl", hdrl))),
              "100x50, audio to 2000 ms");
}

TEST(AviHeader, PictureSizesBeyondIntAreClamped)
{
    EXPECT_EQ(Read(Riff(List("hdrl", Avih(0xffffffffu, 0x80000000u)))), "2147483647x2147483647");
}

TEST(AviHeader, WhatIsNotAnAviMainHeaderIsRefused)
{
    const QByteArray shortAvih = Chunk("avih", QByteArray(39, '\0'));
    const QList<QByteArray> refused = {
        QByteArray(),
        QByteArray("RIFF"),
        QByteArray("RIFF\x10\0\0\0WAVE", 12) + List("hdrl", Avih(1, 1)),
        QByteArray("RIFX\x10\0\0\0AVI ", 12) + List("hdrl", Avih(1, 1)),
        Riff(List("movi", Avih(1, 1))),       // main header outside "hdrl"
        Riff(List("hdrl", shortAvih)),        // main header too short
        Riff(List("hdrl", List("strl", {}))), // no main header at all
        Riff(Chunk("hdrl", Avih(1, 1))),      // "hdrl" not as a list
        // An audio stream list before a main header that is too short.
        Riff(List("hdrl", List("strl", Strh("auds", 1, 8000, 0, 8000)) + shortAvih)),
    };
    for (int i = 0; i < refused.size(); ++i) {
        SCOPED_TRACE(i);
        AviHeaderInfo info;
        info.nWidth = 7;
        EXPECT_FALSE(Parse(refused[i], info));
        EXPECT_EQ(info.nWidth, 0);
        EXPECT_FALSE(info.bHasAudio);
    }
}

TEST(AviHeader, EveryTruncationIsSafeAndKeepsWhatWasWhole)
{
    const QByteArray whole =
        Riff(List("hdrl", Avih(640, 480) +
                              List("strl", Strh("vids", 1, 25, 0, 50) + VideoStrf(640, 480)) +
                              List("strl", Strh("auds", 1, 8000, 0, 16000) + PcmStrf())) +
             List("movi", QByteArray(64, 'm')));
    const int mainHeaderEnd = 12 + 12 + 8 + 40; // RIFF, hdrl list head, avih head, 40 bytes
    for (int length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        AviHeaderInfo info;
        const bool ok = Parse(whole.left(length), info);
        EXPECT_EQ(ok, length >= mainHeaderEnd);
        if (ok) {
            EXPECT_EQ(info.nWidth, 640);
            EXPECT_EQ(info.nHeight, 480);
        }
        if (info.bHasAudio) {
            EXPECT_EQ(info.nAudioEndMs, 2000);
        }
        HeaderEnd(whole.left(length));
    }
}

TEST(AviHeader, HostileSizesAreCutAtTheBuffer)
{
    // Every size field of a sound header in turn set to values that would point
    // far past the buffer, to zero, or wrap 32-bit arithmetic.
    const QByteArray whole = Riff(
        List("hdrl", Avih(640, 480) + List("strl", Strh("auds", 1, 8000, 0, 16000) + PcmStrf())));
    QList<int> sizeOffsets;
    for (int pos = 0; pos + 8 <= whole.size(); ++pos) {
        const QByteArray id = whole.mid(pos, 4);
        if (id == "RIFF" || id == "LIST" || id == "avih" || id == "strh" || id == "strf")
            sizeOffsets.append(pos + 4);
    }
    ASSERT_EQ(sizeOffsets.size(), 6);
    for (const int offset : sizeOffsets) {
        for (const std::uint32_t size :
             {0u, 1u, 3u, 0x7fffffffu, 0x80000000u, 0xfffffff0u, 0xfffffff8u, 0xffffffffu}) {
            SCOPED_TRACE(testing::Message() << offset << " " << size);
            QByteArray bytes = whole;
            bytes.replace(offset, 4, Le32(size));
            ReadBoth(bytes);
        }
    }
}

TEST(AviHeader, RandomBytesAfterAValidStartAreSafe)
{
    std::mt19937 random(20240601);
    const QByteArray start = QByteArray("RIFF") + Le32(0xffffffff) + QByteArray("AVI ");
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes = start;
        const int length = int(random() % 300);
        for (int i = 0; i < length; ++i)
            bytes.append(char(random()));
        // Plant the tags so that the walk goes deep, not just past garbage.
        for (const char* tag : {"LIST", "hdrl", "avih", "strl", "strh", "auds"})
            if (length > 8)
                bytes.replace(12 + int(random() % (length - 4)), 4, tag);
        ReadBoth(bytes);
    }
}

TEST(AviHeader, SampleToTimeIsTruncatedAndNeverOverflows)
{
    EXPECT_EQ(AviSampleToMs(28000, 1, 8000), 3500);
    EXPECT_EQ(AviSampleToMs(1, 1, 3), 333);
    EXPECT_EQ(AviSampleToMs(0, 1, 8000), 0);
    EXPECT_EQ(AviSampleToMs(100, 1, 0), -1);
    // Largest header values: (2^32 - 1) * 2 samples of 2^32 - 1 units per second.
    EXPECT_EQ(AviSampleToMs(0x1fffffffeull, 0xffffffffu, 1), INT64_MAX);
    EXPECT_EQ(AviSampleToMs(0x1fffffffeull, 0xffffffffu, 0xffffffffu), 0x1fffffffeull * 1000);
}

TEST(AviHeader, HeaderEndComesFromTheChunkHeads)
{
    const QByteArray hdrl = List("hdrl", Avih(1, 1) + Chunk("JUNK", QByteArray(1000, 'j')));
    const QByteArray file = Riff(Chunk("JUNK", QByteArray(3, 'j')) + hdrl + List("movi", {}));
    const std::uint64_t expected = 12 + 12 + std::uint64_t(hdrl.size());
    EXPECT_EQ(HeaderEnd(file), expected);
    // The heads are all in the first bytes, so a short prefix is enough to know.
    EXPECT_EQ(HeaderEnd(file.left(12 + 12 + 12)), expected);
    EXPECT_EQ(HeaderEnd(file.left(20)), 0u);
    EXPECT_EQ(HeaderEnd(QByteArray("RIFF\0\0\0\0WAVE", 12) + hdrl), 0u);
    // The RIFF size bounds the answer.
    QByteArray lying = file;
    lying.replace(4, 4, Le32(100));
    EXPECT_EQ(HeaderEnd(lying), 108u);
}

} // namespace
