#pragma once

#include <cmath>

// Window geometry is designed in twips: 1440 to the inch, 15 to a pixel at 96 dots per inch.
constexpr float TwipsPerPixel = 15.0f;

inline int twipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips / TwipsPerPixel));
}
