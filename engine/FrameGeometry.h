#pragma once

#include "engine/EncodeProfile.h"

#include <QString>

// Where a picture goes in a Frame profile's fixed frame (the handhelds'
// screens), as both back ends draw it: cropped, centred, to the aspect's
// shape, scaled to the frame's width (to its height where the frame is wider
// than the aspect) and padded, centred, to the frame by the encoder's expand
// or pad filter.
struct FrameGeometry
{
    int scaleW = 0;
    int scaleH = 0;
    // 0 x 0: no crop (a picture of unknown size).
    int cropW = 0;
    int cropH = 0;

    // The geometry of a picture shownWidth x shownHeight as a player shows it
    // (either 0: unknown) in a frameWidth x frameHeight frame of the aspect in
    // aspectText ("1.77", read up to the first character that ends a number;
    // text that gives no positive number crops to a band 999 times as wide as
    // high).
    static FrameGeometry Of(int frameWidth, int frameHeight, const QString& aspectText,
                            int shownWidth, int shownHeight);
    // The same in the profile's frame (nWidth x nHeight, strAspect).
    static FrameGeometry Of(const EncodeProfile& profile, int shownWidth, int shownHeight)
    {
        return Of(profile.nWidth, profile.nHeight, profile.strAspect, shownWidth, shownHeight);
    }
};
