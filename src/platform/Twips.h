// A rectangle in twips (1440 per inch), as every window is laid out: pure
// numbers, so that layouts are worked out and tested without a widget.
#pragma once

#include <cmath>

namespace tarnvik {

struct TwipRect
{
    double left = 0, top = 0, width = 0, height = 0;
    bool operator==(const TwipRect &) const = default;
};

// Whole twips, halves to even, as grid column widths are set.
inline int roundTwips(double twips)
{
    return int(std::nearbyint(twips)); // the default rounding mode: halves to even
}

} // namespace tarnvik
