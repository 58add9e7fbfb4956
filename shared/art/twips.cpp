#include "twips.h"

QRect toPixels(const TwipsRect &r)
{
    const int left = twipsToPixels(r.left);
    const int top = twipsToPixels(r.top);
    const int right = twipsToPixels(r.left + r.width);
    const int bottom = twipsToPixels(r.top + r.height);
    return QRect(left, top, right - left, bottom - top);
}
