#pragma once

#include <cstdint>

#include <QByteArray>

// Builds AVI files byte by byte, so that tests can make headers that are valid,
// unusual, truncated or hostile exactly as they need them.
namespace AviBuilder {

QByteArray Le32(std::uint32_t value);

// A chunk: id, little-endian size, body, a pad byte when the size is odd.
QByteArray Chunk(const char* id, const QByteArray& body);

// A "LIST" chunk of the given type.
QByteArray List(const char* type, const QByteArray& body);

// "RIFF" <size> "AVI " body.
QByteArray Riff(const QByteArray& body);

// A 56-byte main header with the given picture size.
QByteArray Avih(std::uint32_t width, std::uint32_t height, std::uint32_t frames = 0);

// A 56-byte stream header of type "vids" or "auds".
QByteArray Strh(const char* type, std::uint32_t scale, std::uint32_t rate, std::uint32_t start,
                std::uint32_t length);

// A BITMAPINFOHEADER stream format for a video stream of the given fourcc.
QByteArray VideoStrf(std::int32_t width, std::int32_t height, const char* fourcc = "XVID");

// A WAVEFORMATEX stream format for PCM audio.
QByteArray PcmStrf(std::uint32_t sampleRate = 8000);

struct AudioStream
{
    std::uint32_t scale = 1;
    std::uint32_t rate = 8000;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
};

// A whole file: header list with the main header, a video stream whose own format
// gives videoWidth x videoHeight, optionally an audio stream, and an empty "movi"
// list.
QByteArray MakeAvi(std::uint32_t width, std::uint32_t height, std::int32_t videoWidth,
                   std::int32_t videoHeight, const AudioStream* audio);

} // namespace AviBuilder
