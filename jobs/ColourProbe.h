#pragma once

struct AVFormatContext;
struct MovieTiming;

// Reads the colours of the video stream video into timing: its transfer,
// primaries, matrix and range tags, its bit depth, the HDR10 metadata (from the
// container, else from the first picture of a PQ or HLG stream, whose packets
// are then read again from the start) and the Dolby Vision configuration.
void ReadColour(AVFormatContext* ctx, int video, MovieTiming& timing);
