#include "Layout.h"

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
    out.columnWidth[0] = roundTwips(w + m.ThumbX);
    out.grid0Width = w + m.ThumbX;
    out.columnWidth[1] = roundTwips(w);
    out.grid1Left = w - m.BorderX;
    out.grid1Width = w;
    return out;
}

} // namespace tarnvik
