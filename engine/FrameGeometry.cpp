#include "FrameGeometry.h"

#include "shell/Numbers.h"

#include <algorithm>
#include <cmath>

namespace {

// The aspect of a text that gives none: no source is ever wider than that.
constexpr double NoAspect = 999.0;

// A size for the encoder's scale filter: at most the frame's, and even. The
// filter rounds an odd size up, and a picture larger than the frame makes the
// expand filter grow the frame past the size asked for (a 361-line picture in
// a 360-line frame gives a 362-line movie). At least 2: the filter reads 0 as
// the size of the picture it receives. Crop and expand take odd sizes as they
// are.
int ScaleSize(int size, int frame)
{
    return std::max(std::min(size, frame) / 2 * 2, 2);
}

} // namespace

FrameGeometry FrameGeometry::Of(int frameWidth, int frameHeight, const QString& aspectText,
                                int shownWidth, int shownHeight)
{
    double aspect = LeadingNumber<double>(aspectText.toLatin1().toStdString());
    // An aspect that is not a positive number cannot be honoured (and would
    // divide by zero below).
    if (!(aspect > 0.0) || !std::isfinite(aspect))
        aspect = NoAspect;
    FrameGeometry geometry{frameWidth, frameHeight, 0, 0};
    const int sw = shownWidth;
    const int sh = shownHeight;
    if (sw != 0 && sh != 0) {
        // The largest centred rectangle of the aspect's shape inside the
        // source. A source wider than the aspect keeps its height. One
        // narrower (every 4:3 movie against 1.77) keeps its width instead: its
        // height times the aspect would be a crop wider than the source, which
        // the encoder clamps to the whole picture before squashing that into
        // the aspect's band. A crop of 0 means "all" to the encoder, hence at
        // least 1.
        if (static_cast<double>(sw) / sh > aspect) {
            geometry.cropW = std::max(TruncateToInt(sh * aspect), 1);
            geometry.cropH = sh;
        } else {
            geometry.cropW = sw;
            geometry.cropH = std::max(TruncateToInt(sw / aspect), 1);
        }
        geometry.scaleH = TruncateToInt(frameWidth / aspect);
    }
    // A picture taller than the frame is fitted to the frame's height, its
    // width narrowed in proportion, so that it keeps its shape. Within 1 % it
    // is only cut to the frame, a change of shape nobody sees: the preset's
    // 1.77 stands for 16:9, and 16:9 frames such as 640x360 are a line or two
    // lower than the width over 1.77, where narrowing would leave thin bars.
    if (geometry.scaleH > frameHeight && frameHeight > 0) {
        if (geometry.scaleH > frameHeight * 1.01)
            geometry.scaleW =
                TruncateToInt(static_cast<double>(frameWidth) * frameHeight / geometry.scaleH);
        geometry.scaleH = frameHeight;
    }
    geometry.scaleW = ScaleSize(geometry.scaleW, frameWidth);
    geometry.scaleH = ScaleSize(geometry.scaleH, frameHeight);
    return geometry;
}
