#pragma once

#include <cstddef>
#include <cstdint>

// Clipvane's own reader of the AVI RIFF header: the picture size of the main
// header ("avih") and the end time of the first audio stream ("strh"). It works on
// a byte buffer only, with no file or Qt access, so that it can be fed any bytes;
// every read is checked against the buffer and against the enclosing chunk.

struct AviHeaderInfo
{
    int nWidth = 0;               // avih dwWidth (clamped to int)
    int nHeight = 0;              // avih dwHeight (clamped to int)
    bool bHasAudio = false;       // an "auds" stream header was found
    std::int64_t nAudioEndMs = 0; // time of sample (dwStart + dwLength) of that stream
};

// How many bytes from the start of a file tell whether it is an AVI file.
constexpr std::size_t AviSignatureBytes = 12;

// Whether the buffer starts with the signature of an AVI file: "RIFF", a 4-byte
// size, "AVI ".
bool HasAviSignature(const std::uint8_t* data, std::size_t size);

// Parses a buffer holding the start of an AVI file. Returns false when the bytes
// are not an AVI file with a readable main header ("RIFF" ... "AVI ", a "hdrl"
// list with an "avih" chunk of at least 40 bytes); nothing in info is then valid.
// A truncated or damaged stream list only means that no audio stream is reported.
bool ParseAviHeader(const std::uint8_t* data, std::size_t size, AviHeaderInfo& info);

// How many bytes from the start of the file the header list occupies, taken from
// the chunk sizes found in the first bytes of the file: the end offset of the
// "hdrl" list, or 0 when the bytes do not show one. Lets a reader fetch exactly
// the header after looking at a short prefix.
std::uint64_t AviHeaderEnd(const std::uint8_t* data, std::size_t size);

// Milliseconds of a stream position, as the AVI library's sample-to-time
// conversion gives them: sample * scale * 1000 / rate, truncated. -1 when the
// rate is 0 (the library's error value).
std::int64_t AviSampleToMs(std::uint64_t sample, std::uint32_t scale, std::uint32_t rate);
