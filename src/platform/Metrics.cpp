#include "Metrics.h"

#include <cmath>

namespace tarnvik {

int Metrics::toPixelsX(double twips) const
{
    return int(std::lround(twips / TwipsPerPixelX));
}

int Metrics::toPixelsY(double twips) const
{
    return int(std::lround(twips / TwipsPerPixelY));
}

QRect toPixels(const TwipRect &r, const Metrics &m)
{
    const int left = m.toPixelsX(r.left), top = m.toPixelsY(r.top);
    return QRect(left, top, m.toPixelsX(r.left + r.width) - left, m.toPixelsY(r.top + r.height) - top);
}

TwipRect toTwips(const QRect &r, const Metrics &m)
{
    return {m.toTwipsX(r.left()), m.toTwipsY(r.top()), m.toTwipsX(r.width()), m.toTwipsY(r.height())};
}

QPointF toTwips(QPointF p, const Metrics &m)
{
    return {m.toTwipsX(p.x()), m.toTwipsY(p.y())};
}

Metrics computeMetrics(double logicalDpiX, double logicalDpiY, const PixelMetrics &px)
{
    Metrics m;
    m.TwipsPerPixelX = float(1440.0 / logicalDpiX);
    m.TwipsPerPixelY = float(1440.0 / logicalDpiY);
    m.BorderX = int(std::lround(px.border * m.TwipsPerPixelX));
    m.BorderY = int(std::lround(px.border * m.TwipsPerPixelY));
    m.FrameX = int(std::lround(px.frameX * m.TwipsPerPixelX));
    m.FrameY = int(std::lround(px.frameY * m.TwipsPerPixelY));
    m.ThumbX = int(std::lround(px.thumb * m.TwipsPerPixelX));
    return m;
}


} // namespace tarnvik
