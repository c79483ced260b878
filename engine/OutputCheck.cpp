#include "OutputCheck.h"

#include "engine/EncodeProfile.h"

#include <algorithm>
#include <cmath>
#include <sys/statvfs.h>

#include <QFile>

namespace {

// Below this much free space the encoder's next write fails.
constexpr unsigned long long FullDiskBytes = 1024 * 1024;

} // namespace

double COutputCheck::InputSeconds(const StreamFile& job, const MovieTiming& probed)
{
    return probed.dSeconds > 0 ? probed.dSeconds : std::max(job.nDuration, 0);
}

double COutputCheck::ExpectedSeconds(double inputSeconds, bool sampling)
{
    const double input = std::max(inputSeconds, 0.0);
    return sampling ? std::min<double>(input, SampleSeconds) : input;
}

double COutputCheck::Tolerance(double expectedSeconds)
{
    // Whole outputs of every input kind the tests make, from mencoder and from
    // each ffmpeg preset, 1, 2 and 10 s long or sampled, are at most 0.16 s
    // shorter than the input's length (bench/lengths.sh; the figures are in
    // bench/README.md): that is the encoders' last frames and the sound that
    // outlasts the picture by a frame or two. Half a second leaves a margin of
    // three times that and still finds a short clip that lost a second; a long
    // movie keeps the 3 % it always had.
    return std::max(0.5, 0.03 * expectedSeconds);
}

std::optional<QString> COutputCheck::Problem(const MovieContent& content, double expectedSeconds,
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
    // What it holds is never rounded up to what it should hold.
    const double held = std::floor(content.dSeconds * 10 + 1e-6) / 10;
    return (sampling && expectedSeconds == SampleSeconds
                ? QStringLiteral("The output holds %1 s of a %2 s sample.")
                : QStringLiteral("The output holds %1 s of a %2 s movie."))
        .arg(held, 0, 'f', 1)
        .arg(expectedSeconds, 0, 'f', 1);
}

bool COutputCheck::DiskFull(const QString& folder)
{
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) != 0)
        return false;
    return static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < FullDiskBytes;
}
