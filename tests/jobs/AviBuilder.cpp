#include "tests/jobs/AviBuilder.h"

namespace AviBuilder {

QByteArray Le32(std::uint32_t value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xff);
    return bytes;
}

namespace {

QByteArray Le16(std::uint16_t value)
{
    QByteArray bytes(2, '\0');
    bytes[0] = char(value & 0xff);
    bytes[1] = char(value >> 8);
    return bytes;
}

} // namespace

QByteArray Chunk(const char* id, const QByteArray& body)
{
    QByteArray bytes = QByteArray(id, 4) + Le32(std::uint32_t(body.size())) + body;
    if (body.size() % 2)
        bytes.append('\0');
    return bytes;
}

QByteArray List(const char* type, const QByteArray& body)
{
    return Chunk("LIST", QByteArray(type, 4) + body);
}

QByteArray Riff(const QByteArray& body)
{
    return QByteArray("RIFF") + Le32(std::uint32_t(body.size() + 4)) + QByteArray("AVI ") + body;
}

QByteArray Avih(std::uint32_t width, std::uint32_t height, std::uint32_t frames)
{
    QByteArray body;
    body += Le32(40000);  // dwMicroSecPerFrame
    body += Le32(0);      // dwMaxBytesPerSec
    body += Le32(0);      // dwPaddingGranularity
    body += Le32(0x10);   // dwFlags: has index
    body += Le32(frames); // dwTotalFrames
    body += Le32(0);      // dwInitialFrames
    body += Le32(2);      // dwStreams
    body += Le32(0);      // dwSuggestedBufferSize
    body += Le32(width);
    body += Le32(height);
    body += QByteArray(16, '\0'); // dwReserved[4]
    return Chunk("avih", body);
}

QByteArray Strh(const char* type, std::uint32_t scale, std::uint32_t rate, std::uint32_t start,
                std::uint32_t length)
{
    QByteArray body = QByteArray(type, 4);
    body += QByteArray(4, '\0'); // fccHandler
    body += Le32(0);             // dwFlags
    body += Le16(0) + Le16(0);   // wPriority, wLanguage
    body += Le32(0);             // dwInitialFrames
    body += Le32(scale);
    body += Le32(rate);
    body += Le32(start);
    body += Le32(length);
    body += Le32(0);             // dwSuggestedBufferSize
    body += Le32(0xffffffff);    // dwQuality
    body += Le32(0);             // dwSampleSize
    body += QByteArray(8, '\0'); // rcFrame
    return Chunk("strh", body);
}

QByteArray VideoStrf(std::int32_t width, std::int32_t height, const char* fourcc)
{
    QByteArray body;
    body += Le32(40);
    body += Le32(std::uint32_t(width));
    body += Le32(std::uint32_t(height));
    body += Le16(1) + Le16(24);
    body += QByteArray(fourcc, 4);
    body += QByteArray(20, '\0');
    return Chunk("strf", body);
}

QByteArray PcmStrf(std::uint32_t sampleRate)
{
    QByteArray body;
    body += Le16(1) + Le16(1); // PCM, mono
    body += Le32(sampleRate);
    body += Le32(sampleRate * 2);
    body += Le16(2) + Le16(16);
    return Chunk("strf", body);
}

QByteArray MakeAvi(std::uint32_t width, std::uint32_t height, std::int32_t videoWidth,
                   std::int32_t videoHeight, const AudioStream* audio)
{
    QByteArray hdrl = Avih(width, height, 50);
    hdrl += List("strl", Strh("vids", 1, 25, 0, 50) + VideoStrf(videoWidth, videoHeight));
    if (audio)
        hdrl += List("strl", Strh("auds", audio->scale, audio->rate, audio->start, audio->length) +
                                 PcmStrf(audio->rate));
    return Riff(List("hdrl", hdrl) + List("movi", QByteArray()));
}

} // namespace AviBuilder
