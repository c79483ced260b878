#include "DialogUnits.h"

namespace {

// value * numerator / denominator, rounded half away from zero.
int Scale(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

} // namespace

QRect DialogUnitsToPixels(int x, int y, int width, int height)
{
    const int left = Scale(x, 6, 4);
    const int top = Scale(y, 13, 8);
    const int right = Scale(x + width, 6, 4);
    const int bottom = Scale(y + height, 13, 8);
    return QRect(left, top, right - left, bottom - top);
}
