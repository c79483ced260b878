#pragma once

#include <functional>

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

class QWidget;

// Shows a top-level widget on the offscreen screen and waits until it is exposed.
void ShowAndWait(QWidget* window);

// The widget as it is painted now, in device pixels.
QImage Render(QWidget* widget);

// The smallest rectangle holding every pixel of the area for which the test is
// true; empty when none is.
QRect FindPixels(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& test);

// Whether the pixel is within tolerance of the colour in each component.
bool Near(QRgb pixel, const QColor& colour, int tolerance = 40);

// Whether the area of the image equals the same area of the picture (which may
// be larger or smaller than the image; only the common part is compared).
bool SameArea(const QImage& image, const QImage& picture, const QRect& area);
