#include "Layout.h"

#include <algorithm>
#include <cmath>

namespace tarnvik {

QRect toPixels(const TwipRect &r, const Metrics &m)
{
    const int left = m.toPixelsX(r.left), top = m.toPixelsY(r.top);
    return QRect(left, top, m.toPixelsX(r.left + r.width) - left, m.toPixelsY(r.top + r.height) - top);
}

int roundTwips(double twips)
{
    return int(std::nearbyint(twips)); // the default rounding mode: halves to even
}

FirstMatchLayout setGridLayout(const TwipRect &combo, const Metrics &m)
{
    const double w = (combo.width - m.ThumbX - m.FrameX) / 2;
    const double top = combo.top + m.FrameY, height = combo.height - 2.0 * m.FrameY;
    FirstMatchLayout out;
    out.columnWidth = roundTwips(w);
    out.gridd[0] = {combo.left + m.FrameX, top, w, height};
    out.gridd[1] = {out.gridd[0].left + w, top, w - m.FrameX, height};
    return out;
}

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

DropDownPlacement expandComboPlacement(double windowLeft, double windowTop, const TwipRect &combo,
                                       double rowHeight, int rows, int grid1Column, double screenHeight,
                                       const Metrics &m)
{
    const double y = windowTop + combo.top + combo.height;
    double h = roundTwips(rowHeight * rows + m.FrameY);
    double top;
    if (h > screenHeight) {
        h = screenHeight;
        top = 0;
    } else if (h > screenHeight - y) {
        top = std::max(0.0, y - combo.height - h + m.FrameY);
    } else {
        top = y;
    }
    const double height = h - m.FrameY + m.BorderY;
    // The grids' rows end at the window's bottom edge, so every row that the
    // window shows is one the grids count as visible: a frame thinner than two
    // borders would otherwise leave the last row a pixel short and bring up
    // a scroll bar for a list that fits.
    return {height + m.BorderY, {windowLeft + combo.left, top, dropDownWidth(grid1Column, m), height}};
}

QPointF dragTo(const TwipRect &window, QPointF mouse, QPointF anchor, double screenWidth, double screenHeight)
{
    double left = window.left + mouse.x() - anchor.x();
    if (left < 0)
        left = 0;
    if (left > screenWidth - window.width)
        left = screenWidth - window.width;
    double top = window.top + mouse.y() - anchor.y();
    if (top < 0)
        top = 0;
    if (top > screenHeight - window.height)
        top = screenHeight - window.height;
    return {left, top};
}

} // namespace tarnvik
