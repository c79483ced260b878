#include "DialogUnits.h"

#include "shell/Numbers.h"

QRect DialogUnitsToPixels(int x, int y, int width, int height)
{
    const int left = MulDiv(x, 6, 4);
    const int top = MulDiv(y, 13, 8);
    const int right = MulDiv(x + width, 6, 4);
    const int bottom = MulDiv(y + height, 13, 8);
    return QRect(left, top, right - left, bottom - top);
}
