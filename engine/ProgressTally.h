#pragma once

#include <cstdint>

// The run's count of progress: the bytes of the jobs done, and from them and
// the running jobs' share the total percentage, the elapsed and the remaining
// time. The total counts input bytes, so each job weighs by its size; the
// remaining time assumes the bytes still to do take as long each as those done.
class CProgressTally final
{
public:
    struct Reading
    {
        std::int64_t elapsed = 0;   // seconds since the run started
        std::int64_t remaining = 0; // seconds
        int totalPercent = 0;       // 0 to 100
    };

    // A new run at time now (seconds).
    void Start(std::int64_t now);
    // A job's bytes count as done (finished, failed or left out).
    void AddDone(std::uint64_t bytes) { m_ullDoneBytes += bytes; }
    std::uint64_t DoneBytes() const { return m_ullDoneBytes; }

    // The reading at now, with runningBytes the running jobs' bytes times their
    // percentages (over 100) and totalBytes the whole list's.
    Reading Read(std::uint64_t runningBytes, std::uint64_t totalBytes, std::int64_t now) const;
    // After a Stop: the done jobs' share, nothing remaining.
    Reading ReadStopped(std::uint64_t totalBytes, std::int64_t now) const;

private:
    std::int64_t m_tStart = 0;
    std::uint64_t m_ullDoneBytes = 0;
};
