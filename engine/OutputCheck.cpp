#include "OutputCheck.h"

#include "engine/EncodeSetting.h"

#include <algorithm>
#include <cmath>
#include <sys/statvfs.h>

#include <QFile>

namespace {

// Below this much free space the encoder's next write fails.
constexpr unsigned long long FullDiskBytes = 1024 * 1024;

} // namespace

int COutputCheck::ExpectedSeconds(const StreamFile& job, bool sampling)
{
    const int input = std::max(job.nDuration, 0);
    return sampling ? std::min(input, SampleSeconds) : input;
}

double COutputCheck::Tolerance(int expectedSeconds)
{
    return std::max(1.5, 0.03 * expectedSeconds);
}

std::optional<QString> COutputCheck::Problem(const MovieContent& content, int expectedSeconds,
                                             bool sampling)
{
    if (!content.bOpened)
        return QStringLiteral("The output file is not a movie that can be read.");
    if (!content.bHasVideo)
        return QStringLiteral("The output holds no video.");
    if (!content.bHasPicture)
        return QStringLiteral("The output holds no picture that can be decoded.");
    if (expectedSeconds <= 0)
        return std::nullopt;
    if (content.dSeconds < 0)
        return QStringLiteral("The output's length cannot be read.");
    if (content.dSeconds >= expectedSeconds - Tolerance(expectedSeconds))
        return std::nullopt;
    const auto held = static_cast<long long>(std::floor(content.dSeconds));
    return (sampling && expectedSeconds == SampleSeconds
                ? QStringLiteral("The output holds %1 s of a %2 s sample.")
                : QStringLiteral("The output holds %1 s of a %2 s movie."))
        .arg(held)
        .arg(expectedSeconds);
}

bool COutputCheck::DiskFull(const QString& folder)
{
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return false;
    return static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < FullDiskBytes;
}
