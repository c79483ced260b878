#include "jobs/JobCellText.h"

#include "jobs/StreamFile.h"
#include "shell/AppFolder.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

const QString Unknown = QStringLiteral("unknown");

// Truncates toward zero; values outside the 32-bit range saturate and NaN gives 0,
// where a plain conversion would be undefined.
int TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return INT_MAX;
    if (value <= -2147483648.0)
        return INT_MIN;
    return int(value);
}

} // namespace

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    const std::int64_t product = std::int64_t(number) * numerator;
    std::int64_t quotient = product / denominator;
    const std::int64_t remainder = product % denominator;
    if (2 * std::llabs(remainder) >= std::llabs(std::int64_t(denominator)))
        quotient += ((product < 0) == (denominator < 0)) ? 1 : -1;
    if (quotient > INT_MAX || quotient < INT_MIN)
        return -1;
    return int(quotient);
}

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
    const QString text = QString::asprintf("%02d:%02d:%02d", nDuration / 3600,
                                           (nDuration % 3600) / 60, nDuration % 60);
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
