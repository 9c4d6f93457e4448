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

DropDownPlacement expandComboPlacement(const TwipRect &combo, double rowHeight, int rows, int grid1Column,
                                       double screenTop, double screenBottom, const Metrics &m)
{
    const double below = screenBottom - (combo.top + combo.height), above = combo.top - screenTop;
    auto heightFor = [&](double rowCount) { return rowHeight * rowCount + m.BorderY; };
    double height = heightFor(std::max(rows, 1));
    bool under = true;
    if (height > below) {
        under = height > above && below >= above;
        if (height > std::max(below, above)) {
            const double room = std::max(below, above);
            height = heightFor(std::max(1.0, std::floor((room - m.BorderY) / rowHeight)));
        }
    }
    const double top = under ? combo.top + combo.height : combo.top - height;
    // The grids' rows end at the window's bottom edge, so every row that the
    // window shows is one the grids count as visible: a frame thinner than two
    // borders would otherwise leave the last row a pixel short and bring up
    // a scroll bar for a list that fits.
    return {height + m.BorderY, {combo.left, top, dropDownWidth(grid1Column, m), height}};
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

QPoint placeOnScreens(std::optional<QPoint> stored, QSize size, const QList<QRect> &screens, QPoint fallback)
{
    if (!stored)
        return fallback;
    const QRect window(*stored, size);
    const QRect *best = nullptr;
    qint64 bestArea = 0;
    for (const QRect &screen : screens) {
        const QRect common = screen & window;
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    if (!best)
        return fallback;
    // Left and top edges win, so a window larger than the screen keeps its
    // top-left corner, where it is dragged from, on the screen.
    const int left = std::max(best->left(), std::min(window.left(), best->right() + 1 - size.width()));
    const int top = std::max(best->top(), std::min(window.top(), best->bottom() + 1 - size.height()));
    return {left, top};
}

} // namespace tarnvik
