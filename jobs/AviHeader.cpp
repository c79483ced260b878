#include "jobs/AviHeader.h"

#include <algorithm>
#include <climits>

namespace {

// A chunk body inside the buffer: [begin, end), end already limited to both the
// buffer and the enclosing chunk.
struct Span
{
    std::size_t begin = 0;
    std::size_t end = 0;
};

std::uint32_t ReadLe32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

bool IsFourCc(const std::uint8_t* p, const char (&tag)[5])
{
    return p[0] == std::uint8_t(tag[0]) && p[1] == std::uint8_t(tag[1]) &&
           p[2] == std::uint8_t(tag[2]) && p[3] == std::uint8_t(tag[3]);
}

int ClampToInt(std::uint32_t value)
{
    return value > std::uint32_t(INT_MAX) ? INT_MAX : int(value);
}

// Walks the chunks of one level. Each call to Next() yields the next chunk whose
// 8-byte head lies inside the level; its body is cut at the level's end, so a
// chunk that claims more bytes than there are is seen truncated, never read past.
class ChunkWalker
{
public:
    ChunkWalker(const std::uint8_t* data, Span level)
        : m_data(data)
        , m_pos(level.begin)
        , m_end(level.end)
    {
    }

    bool Next(const std::uint8_t*& id, Span& body, std::uint64_t& declaredEnd)
    {
        if (m_pos >= m_end || m_end - m_pos < 8)
            return false;
        id = m_data + m_pos;
        const std::uint64_t declared = ReadLe32(m_data + m_pos + 4);
        body.begin = m_pos + 8;
        declaredEnd = std::uint64_t(body.begin) + declared;
        body.end = std::size_t(std::min<std::uint64_t>(declaredEnd, m_end));
        // Chunks are padded to an even length.
        const std::uint64_t next = declaredEnd + (declared & 1);
        m_pos = next >= m_end ? m_end : std::size_t(next);
        return true;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_pos;
    std::size_t m_end;
};

// A "LIST" chunk of the given type: its body after the 4-byte list type.
bool IsList(const std::uint8_t* data, const std::uint8_t* id, Span body, const char (&type)[5],
            Span& inner)
{
    if (!IsFourCc(id, "LIST") || body.end - body.begin < 4 || !IsFourCc(data + body.begin, type))
        return false;
    inner = {body.begin + 4, body.end};
    return true;
}

// The "RIFF" form of an AVI file: the level that holds its top chunks.
bool RiffAviLevel(const std::uint8_t* data, std::size_t size, Span& level)
{
    if (!HasAviSignature(data, size))
        return false;
    const std::uint64_t declaredEnd = 8 + std::uint64_t(ReadLe32(data + 4));
    level = {12, std::size_t(std::min<std::uint64_t>(declaredEnd, size))};
    return true;
}

// The first audio stream header in a "strl" list, if this list describes one.
bool ReadAudioStream(const std::uint8_t* data, Span strl, AviHeaderInfo& info)
{
    ChunkWalker walker(data, strl);
    const std::uint8_t* id = nullptr;
    Span body;
    std::uint64_t declaredEnd = 0;
    while (walker.Next(id, body, declaredEnd)) {
        if (!IsFourCc(id, "strh"))
            continue;
        // fccType, fccHandler, dwFlags, wPriority, wLanguage, dwInitialFrames,
        // dwScale (20), dwRate (24), dwStart (28), dwLength (32).
        if (body.end - body.begin < 36 || !IsFourCc(data + body.begin, "auds"))
            return false;
        const std::uint8_t* strh = data + body.begin;
        const std::uint32_t scale = ReadLe32(strh + 20);
        const std::uint32_t rate = ReadLe32(strh + 24);
        const std::uint64_t start = ReadLe32(strh + 28);
        const std::uint64_t length = ReadLe32(strh + 32);
        info.bHasAudio = true;
        info.nAudioEndMs = AviSampleToMs(start + length, scale, rate);
        return true;
    }
    return false;
}

} // namespace

bool HasAviSignature(const std::uint8_t* data, std::size_t size)
{
    return data && size >= AviSignatureBytes && IsFourCc(data, "RIFF") &&
           IsFourCc(data + 8, "AVI ");
}

std::int64_t AviSampleToMs(std::uint64_t sample, std::uint32_t scale, std::uint32_t rate)
{
    if (rate == 0)
        return -1;
    const unsigned __int128 ms = (unsigned __int128)sample * scale * 1000u / rate;
    return ms > (unsigned __int128)INT64_MAX ? INT64_MAX : std::int64_t(ms);
}

bool ParseAviHeader(const std::uint8_t* data, std::size_t size, AviHeaderInfo& info)
{
    info = AviHeaderInfo();
    Span top;
    if (!RiffAviLevel(data, size, top))
        return false;

    ChunkWalker walker(data, top);
    const std::uint8_t* id = nullptr;
    Span body;
    std::uint64_t declaredEnd = 0;
    Span hdrl;
    bool found = false;
    while (!found && walker.Next(id, body, declaredEnd))
        found = IsList(data, id, body, "hdrl", hdrl);
    if (!found)
        return false;

    bool haveMainHeader = false;
    ChunkWalker inner(data, hdrl);
    while (inner.Next(id, body, declaredEnd)) {
        if (!haveMainHeader && IsFourCc(id, "avih")) {
            // dwMicroSecPerFrame ... dwStreams, dwSuggestedBufferSize, then
            // dwWidth (32) and dwHeight (36).
            if (body.end - body.begin < 40)
                break;
            info.nWidth = ClampToInt(ReadLe32(data + body.begin + 32));
            info.nHeight = ClampToInt(ReadLe32(data + body.begin + 36));
            haveMainHeader = true;
            continue;
        }
        Span strl;
        if (!info.bHasAudio && IsList(data, id, body, "strl", strl))
            ReadAudioStream(data, strl, info);
    }
    if (!haveMainHeader) {
        info = AviHeaderInfo();
        return false;
    }
    return true;
}

std::uint64_t AviHeaderEnd(const std::uint8_t* data, std::size_t size)
{
    if (!HasAviSignature(data, size))
        return 0;
    // Only the chunk heads are looked at here, so the walk may pass the end of
    // the buffer as long as each head lies inside it.
    std::uint64_t pos = 12;
    const std::uint64_t riffEnd = 8 + std::uint64_t(ReadLe32(data + 4));
    while (pos + 12 <= size && pos + 8 <= riffEnd) {
        const std::uint64_t declared = ReadLe32(data + pos + 4);
        const std::uint64_t end = pos + 8 + declared;
        if (IsFourCc(data + pos, "LIST") && IsFourCc(data + pos + 8, "hdrl"))
            return std::min(end, riffEnd);
        pos = end + (declared & 1);
    }
    return 0;
}
