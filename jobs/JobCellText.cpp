#include "jobs/JobCellText.h"

#include "jobs/StreamFile.h"
#include "shell/AppFolder.h"
#include "shell/Numbers.h"

#include <climits>

namespace {

const QString Unknown = QStringLiteral("unknown");

} // namespace

int EstimateEncodingSizeMB(int d, const EncodingRates& rates)
{
    const int frameBytes = TruncateToInt(double(d) * rates.dVidFps * 32.0);
    // The bytes per second of both streams; garbage bit rates whose product does
    // not fit 32 bits give the "does not fit" answer of MulDiv instead of wrapping.
    const std::int64_t bitsPerSecond = (std::int64_t(rates.nVidBitrate) + rates.nAudBitrate) * 1024;
    const int streamBytes = (bitsPerSecond > INT_MAX || bitsPerSecond < INT_MIN)
                                ? -1
                                : MulDiv(d, int(bitsPerSecond), 8);
    const std::int64_t total = std::int64_t(frameBytes) + streamBytes;
    return int(total / 1048576);
}

QString DimensionsText(int nWidth, int nHeight)
{
    const QString text = FormatInt(nWidth) + QLatin1Char('x') + FormatInt(nHeight);
    return text.compare(QLatin1String("0x0"), Qt::CaseInsensitive) == 0 ? Unknown : text;
}

QString DurationText(int nDuration)
{
    const QString text = FormatDuration(nDuration);
    return text == QLatin1String("00:00:00") ? Unknown : text;
}

QString FileSizeText(std::uint64_t dwFileSize)
{
    if (dwFileSize == StreamFile::UnknownSize)
        return Unknown;
    return QString::number(dwFileSize / 1000000);
}

QString EncodingSizeText(int nDuration, const EncodingRates& rates)
{
    if (nDuration == 0)
        return QString();
    return QString::number(EstimateEncodingSizeMB(nDuration, rates));
}
