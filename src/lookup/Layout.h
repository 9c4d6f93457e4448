// Geometry of the lookup window and of the drop-down's columns, in twips.
#pragma once

#include "platform/Metrics.h"

#include <QPointF>
#include <QList>
#include <QRect>

#include <optional>

namespace tarnvik {

struct TwipRect
{
    double left = 0, top = 0, width = 0, height = 0;
    bool operator==(const TwipRect &) const = default;
};

// Pixels at the widget boundary; edges are rounded, so neighbours stay flush.
QRect toPixels(const TwipRect &r, const Metrics &m);

// Whole twips, halves to even, as grid column widths are set.
int roundTwips(double twips);

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

// The drop-down's two grids, read as one two-column list as wide as Combo1.
// The second column starts where the first match's second grid starts, so
// the list lines up with the pair shown above it; grid 0 reaches under grid 1,
// whose left border is the line between the columns. The list is one
// scroll bar wide at most: grid 1 ends at the list's right edge and shows it.
struct DropDownColumns
{
    int columnWidth[2]; // [1] is what the list's width is worked out from
    double grid0Width;
    double grid1Left, grid1Width;
};
DropDownColumns dropDownColumns(double comboWidth, const Metrics &m);
// The list's width for grid 1's column width: Combo1's width up to rounding.
double dropDownWidth(int grid1Column, const Metrics &m);

// Where expandCombo puts the drop-down, all in screen twips: under Combo1
// where every row fits below it, else above it where they fit there, else on
// the roomier side with as many whole rows as fit (the rest scroll). It never
// covers Combo1, nor the text box on the same band.
struct DropDownPlacement
{
    double gridHeight; // both grids: their bottom border just below the window
    TwipRect window;   // frmCombo, on the screen
};
DropDownPlacement expandComboPlacement(const TwipRect &comboOnScreen, double rowHeight, int rows, int grid1Column,
                                       double screenTop, double screenBottom, const Metrics &m);

// Dragging by the window's surface: the pressed point stays under the pointer
// and the window stays on the screen (left and top edges first, so a window
// larger than the screen ends flush with its right or bottom edge).
QPointF dragTo(const TwipRect &window, QPointF mouse, QPointF anchor, double screenWidth, double screenHeight);

// Where a window of 'size' comes back: at 'stored' (its outer top-left) when
// it lies wholly on one of the screens' available areas; moved onto the
// screen it overlaps most when it lies partly off (a screen gone or smaller);
// at 'fallback' when it overlaps none or nothing is stored.
QPoint placeOnScreens(std::optional<QPoint> stored, QSize size, const QList<QRect> &screens, QPoint fallback);

} // namespace tarnvik
