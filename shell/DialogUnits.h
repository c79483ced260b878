#pragma once

#include <QRect>

// The window layouts are drawn in dialog units of an 8-point Tahoma dialog font,
// whose base units are 6 x 13 pixels: x = dlu * 6 / 4 and y = dlu * 13 / 8. Each
// edge is mapped on its own and rounded to the nearest pixel (halves away from
// zero), so that controls laid edge to edge in dialog units stay edge to edge.
QRect DialogUnitsToPixels(int x, int y, int width, int height);
