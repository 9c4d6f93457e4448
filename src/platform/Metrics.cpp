#include "Metrics.h"

#include <QApplication>
#include <QComboBox>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <cmath>

namespace tarnvik {

namespace {
Metrics g_metrics;
}

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

const Metrics &metrics()
{
    return g_metrics;
}

void InitMetrics()
{
    QStyle *style = QApplication::style();
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dpiX = screen ? screen->logicalDotsPerInchX() : 96.0;
    const double dpiY = screen ? screen->logicalDotsPerInchY() : 96.0;
    // The drop-down button must stay uncovered by the grids laid over the
    // box, so the thumb is the wider of a scroll bar and that button.
    QStyleOptionComboBox opt;
    opt.rect = QRect(0, 0, 200, 24);
    opt.subControls = QStyle::SC_All;
    const QRect arrow = style->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow);
    const int thumb = std::max(style->pixelMetric(QStyle::PM_ScrollBarExtent), arrow.width());
    const int frame = style->pixelMetric(QStyle::PM_ComboBoxFrameWidth);
    g_metrics = computeMetrics(dpiX, dpiY,
                               {style->pixelMetric(QStyle::PM_DefaultFrameWidth), frame, frame, thumb});
}

} // namespace tarnvik
