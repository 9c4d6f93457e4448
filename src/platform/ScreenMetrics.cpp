// The metrics of the screen the program runs on: widgets, so not in the core.
#include "Metrics.h"

#include <QApplication>
#include <QComboBox>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <algorithm>

namespace tarnvik {

namespace {
Metrics g_metrics;
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
