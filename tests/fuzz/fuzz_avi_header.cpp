// libFuzzer entry: the AVI header reader on arbitrary bytes. Whatever it reports
// must be consistent; any read outside the buffer is caught by AddressSanitizer.
#include "jobs/AviHeader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    AviHeaderInfo info;
    const bool ok = ParseAviHeader(data, size, info);
    if (!ok && (info.nWidth != 0 || info.nHeight != 0 || info.bHasAudio))
        std::abort();
    if (info.nWidth < 0 || info.nHeight < 0 || info.nAudioEndMs < -1)
        std::abort();
    // The header end is taken from chunk heads only and never lies before the
    // first chunk.
    const std::uint64_t end = AviHeaderEnd(data, size);
    if (end != 0 && end < 20)
        std::abort();
    return 0;
}
