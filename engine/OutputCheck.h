#pragma once

#include "jobs/MediaProbe.h"
#include "jobs/StreamFile.h"

#include <optional>

#include <QString>

// Whether an encode that the encoder reported as a success left a whole movie:
// an output that opens, holds a video stream with a picture that decodes, and
// lasts as long as expected (the input's length, or the sampled seconds on a
// Sampling run of a longer movie), less a tolerance. An encoder exits 0 also
// when the output's disk filled up or its input ended early.
class COutputCheck final
{
public:
    // How long the output of job must last in whole seconds; 0 when the input's
    // length is unknown, and then only the open-and-pictures part applies.
    static int ExpectedSeconds(const StreamFile& job, bool sampling);
    // How much shorter than expected an output may be: max(1.5 s, 3 %).
    static double Tolerance(int expectedSeconds);

    // What is wrong with an output of this content, in the program's words
    // ("The output holds 5 s of a 30 s movie."); nothing for a whole movie.
    // An output longer than expected is whole.
    static std::optional<QString> Problem(const MovieContent& content, int expectedSeconds,
                                          bool sampling);

    // Whether the disk that holds folder has (next to) no space left: less than
    // one of the encoder's writes.
    static bool DiskFull(const QString& folder);
};
