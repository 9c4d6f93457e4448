// Geometry of the lookup window, in twips.
#pragma once

#include "platform/Metrics.h"

#include <QPointF>
#include <QList>
#include <QRect>

#include <optional>

namespace tarnvik {

namespace design {
// The window's client area: the background picture's 600 x 40 pixels at
// 96 dpi, which holds every control below.
constexpr double WindowWidth = 9000, WindowHeight = 600;
constexpr TwipRect Text1{1500, 90, 1545, 360};
constexpr TwipRect Combo1{3075, 90, 5745, 360};
constexpr TwipRect Shape1{1320, 420, 90, 105};
constexpr double FontPoints = 9.75;
} // namespace design

// The first-match grids laid over Combo1's face, its button left uncovered.
struct FirstMatchLayout
{
    TwipRect gridd[2];
    int columnWidth; // both grids' column 0
};
FirstMatchLayout setGridLayout(const TwipRect &combo, const Metrics &m);

// Dragging by the window's surface: the pressed point stays under the pointer
// and the window stays on the screen (left and top edges first, so a window
// larger than the screen ends flush with its right or bottom edge).
QPointF dragTo(const TwipRect &window, QPointF mouse, QPointF anchor, double screenWidth, double screenHeight);

// Where a window of 'size' comes back: at 'stored' (its outer top-left) when
// it lies wholly on one of the screens' available areas; moved onto the
// screen it overlaps most when it lies partly off (a screen gone or smaller);
// at 'fallback' when it overlaps none or nothing is stored.
QPoint placeOnScreens(std::optional<QPoint> stored, QSize size, const QList<QRect> &screens, QPoint fallback);

// Where a window left partly off the screens by a drag comes back: the least
// move that puts 'keep' (the part that must show, in the window's own
// coordinates) wholly on the available area of the screen the window
// overlaps most (else the first); left and top edges first, where 'keep' is
// larger than that area.
QPoint keepOnScreens(const QRect &window, const QRect &keep, const QList<QRect> &screens);

} // namespace tarnvik
