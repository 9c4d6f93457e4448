// Window metrics in twips (1440 per inch), shared by the three windows.
// Layout is computed in twips and turned into pixels only at the widgets.
#pragma once

#include "platform/Twips.h"

#include <QPointF>
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
    // Pixels as a widget reports them, in twips.
    double toTwipsX(double pixels) const { return pixels * TwipsPerPixelX; }
    double toTwipsY(double pixels) const { return pixels * TwipsPerPixelY; }
};

// Pixels at the widget boundary; edges are rounded, so neighbours stay flush.
QRect toPixels(const TwipRect &r, const Metrics &m);
// And back: a widget's rectangle or a point, in twips.
TwipRect toTwips(const QRect &r, const Metrics &m);
QPointF toTwips(QPointF p, const Metrics &m);

// Sizes in pixels as the style reports them.
struct PixelMetrics
{
    int border, frameX, frameY, thumb;
};
Metrics computeMetrics(double logicalDpiX, double logicalDpiY, const PixelMetrics &px);

// The values last computed by InitMetrics (both in ScreenMetrics.cpp, with
// the windows: they ask the screen and the style).
const Metrics &metrics();
// From the primary screen's logical DPI and the application's style.
void InitMetrics();

} // namespace tarnvik
