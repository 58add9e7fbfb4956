#pragma once

#include <QRect>

#include <cmath>

// Window geometry is designed in twips: 1440 to the inch, 15 to a pixel at 96 dots per inch.
constexpr float TwipsPerPixel = 15.0f;

inline int twipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips / TwipsPerPixel));
}

// A rectangle in twips, computed in single precision as the designs give it, and converted to
// pixels only when applied.
struct TwipsRect
{
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
};

// Rounds edges rather than sizes, so that neighbours stay neighbours after rounding.
QRect toPixels(const TwipsRect &r);
