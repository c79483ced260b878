#include "ProgressTally.h"

#include <algorithm>

void CProgressTally::Start(std::int64_t now)
{
    m_tStart = now;
    m_ullDoneBytes = 0;
}

CProgressTally::Reading CProgressTally::Read(std::uint64_t runningBytes, std::uint64_t totalBytes,
                                             std::int64_t now) const
{
    Reading reading;
    reading.elapsed = std::max<std::int64_t>(0, now - m_tStart);
    if (totalBytes == 0)
        return reading;
    const std::int64_t totalPercent = static_cast<std::int64_t>(runningBytes + m_ullDoneBytes) *
                                      100 / static_cast<std::int64_t>(totalBytes);
    reading.remaining =
        totalPercent == 0
            ? 0
            : reading.elapsed * 100 / static_cast<std::int32_t>(totalPercent) - reading.elapsed;
    reading.totalPercent = static_cast<int>(std::clamp<std::int64_t>(totalPercent, 0, 100));
    return reading;
}

CProgressTally::Reading CProgressTally::ReadStopped(std::uint64_t totalBytes,
                                                    std::int64_t now) const
{
    Reading reading;
    reading.elapsed = std::max<std::int64_t>(0, now - m_tStart);
    if (totalBytes > 0)
        reading.totalPercent =
            static_cast<int>(std::min<std::uint64_t>(100, m_ullDoneBytes * 100 / totalBytes));
    return reading;
}
