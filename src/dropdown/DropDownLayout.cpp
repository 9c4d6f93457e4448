#include "DropDownLayout.h"

#include <algorithm>
#include <cmath>

namespace tarnvik {

DropDownColumns dropDownColumns(double comboWidth, const Metrics &m)
{
    const double w = comboWidth / 2 + m.BorderX;
    DropDownColumns out;
    out.columnWidth[1] = roundTwips(w);
    // setGridLayout's second grid starts FrameX + its W right of Combo1's left.
    out.grid1Left = (comboWidth - m.ThumbX + m.FrameX) / 2 - m.BorderX;
    out.grid1Width = dropDownWidth(out.columnWidth[1], m) - out.grid1Left;
    // Long values end in an ellipsis just left of grid 1, not hidden under it.
    out.columnWidth[0] = roundTwips(out.grid1Left);
    out.grid0Width = w + m.ThumbX;
    return out;
}

double dropDownWidth(int grid1Column, const Metrics &m)
{
    return roundTwips((grid1Column - m.BorderX) * 2.0);
}

DropDownPlacement expandComboPlacement(const TwipRect &combo, double rowHeight, int rows, int grid1Column,
                                       const TwipRect &screen, const Metrics &m)
{
    const double screenTop = screen.top, screenBottom = screen.top + screen.height;
    const double below = screenBottom - (combo.top + combo.height), above = combo.top - screenTop;
    auto heightFor = [&](double rowCount) { return rowHeight * rowCount + m.BorderY; };
    double height = heightFor(std::max(rows, 1));
    bool under = true;
    if (height > below) {
        under = height > above && below >= above;
        // A Combo1 off the screen's top or bottom leaves more room beside it than the screen has.
        const double room = std::min(std::max(below, above), screen.height);
        if (height > room) {
            height = heightFor(std::max(1.0, std::floor((room - m.BorderY) / rowHeight)));
        }
    }
    // A Combo1 partly off the screen leaves no room on either side: the list
    // then lies on the screen, though over Combo1.
    const double top = std::clamp(under ? combo.top + combo.height : combo.top - height, screenTop,
                                  std::max(screenTop, screenBottom - height));
    const double width = dropDownWidth(grid1Column, m);
    const double left = std::max(screen.left, std::min(combo.left, screen.left + screen.width - width));
    // The grids' rows end at the window's bottom edge, so every row that the
    // window shows is one the grids count as visible: a frame thinner than two
    // borders would otherwise leave the last row a pixel short and bring up
    // a scroll bar for a list that fits.
    return {height + m.BorderY, {left, top, width, height}};
}

} // namespace tarnvik
