#pragma once

#include "engine/FfmpegCommand.h"

#include <QString>
#include <QStringList>

// What an ffmpeg run does with its source's colours: tone mapping HDR and
// converting BT.2020 to BT.709 for 8-bit outputs, keeping HDR in 10 bits with
// its metadata for H.265 and AV1.
namespace FfmpegCommand {

// What a source's colours ask of an encode.
enum class SourceColour
{
    // Standard range in BT.709 or BT.601 colours, or untagged: kept as it is.
    Standard,
    // Standard range in BT.2020's wider colours (10-bit SDR): an 8-bit output
    // gets them converted to BT.709.
    WideGamut,
    // HDR10 and HLG, from the transfer tag, or from a Dolby Vision base layer
    // that says it is one (profile 8.1 and 7 are HDR10, 8.4 from iPhones HLG):
    // an 8-bit output gets them tone mapped to BT.709, a 10-bit one keeps them.
    Pq,
    Hlg,
    // A Dolby Vision movie without a base layer other players show right
    // (profile 5): its colours come out wrong from any encode.
    DolbyVisionOnly,
};
SourceColour ColourOf(const MovieTiming& source);

// Why a job whose movie is SourceColour::DolbyVisionOnly is refused.
inline constexpr char DolbyVisionOnlyReason[] =
    "This movie's colours can only be shown by a Dolby Vision player.";

// Whether the profile's output keeps an HDR source's HDR in 10 bits (H.265 and
// AV1); the others are 8-bit and tone map it.
bool KeepsHdr(const EncodeProfile& profile);

// The brightest light of an HDR source as the tone map takes it (its "peak", in
// units of 100 cd/m², the white of a standard picture): the content light
// level (MaxCLL), else the mastering display's peak, else 1000 cd/m², within
// 100 to 10,000 cd/m². HLG is relative to a 1000 cd/m² display: always 10.
double ToneMapPeak(const MovieTiming& source);

// What an encode does with its source's colours.
enum class ColourWay
{
    Keep,    // the source's colours and tags as they are, 8-bit
    ToBt709, // tone mapped or converted to BT.709, 8-bit, tagged so
    KeepHdr, // 10-bit, the source's HDR tags and metadata
};

// What the request's encode does with its source's colours.
ColourWay WayOf(const Request& request);

// The filters that bring an HDR or BT.2020 source to BT.709 for an 8-bit
// output, sizing the picture in their first step when size is given (zimg
// scales while it converts: 30 pictures a second at 1080p to 720p, against 21
// for scaling after the tone map; bicubic, as the scale filter sizes other
// movies, costs no more than zimg's bilinear); empty when the colours are
// kept. HDR goes to linear light (1.0 being 100 cd/m²), to BT.709's primaries,
// through the Hable curve without desaturation and back to BT.709 in limited
// range.
QString ColourFilters(const Request& request, const PictureSize* size);

// The HDR10 metadata as an encoder's parameters: x265's master-display (in
// units of 0.00002 and 0.0001 cd/m²) and max-cll, SVT-AV1's mastering-display
// and content-light (in plain numbers); empty for a movie without it.
QStringList Hdr10Parameters(const MovieTiming& source, bool x265);

// The picture's sample format and colour tags: 8-bit 4:2:0, which every
// hardware decoder takes, tagged BT.709 when the colours were made so; 10-bit
// with the source's tags for HDR kept.
QStringList PictureFormatArguments(const Request& request);

} // namespace FfmpegCommand
