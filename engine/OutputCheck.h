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
    // The input's length in seconds: the probe's, to the frame, else the job
    // record's whole seconds; 0 when it is unknown.
    static double InputSeconds(const StreamFile& job, const MovieTiming& probed);
    // How long the output must last, from the input's length: the length, or
    // on a Sampling run at most SampleSeconds. 0 when the length is unknown, and
    // then only the open-and-pictures part applies.
    static double ExpectedSeconds(double inputSeconds, bool sampling);
    // How much shorter than expected a whole output may be.
    static double Tolerance(double expectedSeconds);

    // What is wrong with an output of this content, in the program's words
    // ("The output holds 0.9 s of a 2.0 s movie."); nothing for a whole movie.
    // An output longer than expected is whole.
    static std::optional<QString> Problem(const MovieContent& content, double expectedSeconds,
                                          bool sampling);

    // Whether the disk that holds folder has (next to) no space left: less than
    // one of the encoder's writes.
    static bool DiskFull(const QString& folder);
};
