#pragma once

#include <cstdint>

#include <QString>

// One movie job: a file the user put in the job list, with what was learnt about
// it when it was added. A plain record, copied by value.
struct StreamFile
{
    // Size of a file that could not be opened. Distinct from every real size, so
    // that a 4 GiB - 1 byte movie is not taken for an unreadable one.
    static constexpr std::uint64_t UnknownSize = UINT64_MAX;

    QString strFilePath;          // full path, exactly as the user chose it
    QString strFileName;          // last path component: name and extension
    int nWidth = 0;               // picture width in pixels, 0 when unknown
    int nHeight = 0;              // picture height in pixels, 0 when unknown
    int nDuration = 0;            // play length in whole seconds, 0 when unknown
    std::uint64_t dwFileSize = 0; // full 64-bit size in bytes, or UnknownSize
    bool bHasSubtitle = false;    // a subtitle file lies beside the movie (FindSubtitleFile)
    // The folder under the output folder that the output goes to, "/"-separated:
    // the movie's folder relative to the folder the user added it through, that
    // folder's own name first ("Trip/Day 1" for Trip/Day 1/a.mov added through
    // Trip); "" for a movie added by itself.
    QString strRelativeDir;

    bool HasKnownSize() const { return dwFileSize != UnknownSize; }

    // The size as it counts in byte totals and progress: an unknown size is 0.
    std::uint64_t CountedSize() const { return HasKnownSize() ? dwFileSize : 0; }
};
