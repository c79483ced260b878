#pragma once

#include <cstdint>

#include <QString>

// The texts of the job list's cells and the output-size estimate behind the
// "Encoding Size(MB)" column.

// The encoding settings the output-size estimate depends on.
struct EncodingRates
{
    double dVidFps = 0.0; // output frames per second
    int nVidBitrate = 0;  // video kbit/s (1 kbit = 1024 bits)
    int nAudBitrate = 0;  // audio kbit/s
};

// Estimated output size in MiB of a movie of d seconds: 32 bytes of container
// overhead per output frame plus the two streams at their bit rates.
int EstimateEncodingSizeMB(int d, const EncodingRates& rates);

// "WxH", or "unknown" when both are 0.
QString DimensionsText(int nWidth, int nHeight);

// "HH:MM:SS" (hours not wrapped), or "unknown" for 0 seconds.
QString DurationText(int nDuration);

// Whole millions of bytes, or "unknown" for StreamFile::UnknownSize.
QString FileSizeText(std::uint64_t dwFileSize);

// The estimate in MiB as text, or "" when the length is unknown (0).
QString EncodingSizeText(int nDuration, const EncodingRates& rates);
