// Geometry of the result drop-down, in twips: its two columns and where it
// opens beside Combo1.
#pragma once

#include "platform/Metrics.h"

namespace tarnvik {

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

// Where expandCombo puts the drop-down, all in screen twips, on the screen
// the strip is on: under Combo1 where every row fits below it, else above it
// where they fit there, else on the roomier side with as many whole rows as
// fit (the rest scroll). It never covers Combo1, nor the text box on the same
// band (unless Combo1 lies partly off the screen), and is never taller than
// the screen. Its left edge is Combo1's,
// moved in where the list would pass the screen's right or left edge (the
// left one wins for a list wider than the screen).
struct DropDownPlacement
{
    double gridHeight; // both grids: their bottom border just below the window
    TwipRect window;   // frmCombo, on the screen
};
DropDownPlacement expandComboPlacement(const TwipRect &comboOnScreen, double rowHeight, int rows, int grid1Column,
                                       const TwipRect &screen, const Metrics &m);

} // namespace tarnvik
