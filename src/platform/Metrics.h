// Window metrics in twips (1440 per inch), shared by the three windows.
// Layout is computed in twips and turned into pixels only at the widgets.
#pragma once

#include "platform/Twips.h"

#include <QRect>

namespace tarnvik {

struct Metrics
{
    float TwipsPerPixelX = 15, TwipsPerPixelY = 15;
    int BorderX = 15, BorderY = 15; // thin border
    int FrameX = 45, FrameY = 45;   // frame of a box such as Combo1
    int ThumbX = 240;               // a scroll bar's width, a drop-down button's

    int toPixelsX(double twips) const;
    int toPixelsY(double twips) const;
};

// Pixels at the widget boundary; edges are rounded, so neighbours stay flush.
QRect toPixels(const TwipRect &r, const Metrics &m);

// Sizes in pixels as the style reports them.
struct PixelMetrics
{
    int border, frameX, frameY, thumb;
};
Metrics computeMetrics(double logicalDpiX, double logicalDpiY, const PixelMetrics &px);

// The values last computed by InitMetrics.
const Metrics &metrics();
// From the primary screen's logical DPI and the application's style.
void InitMetrics();

} // namespace tarnvik
