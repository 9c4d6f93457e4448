// Geometry of the data-source editor window, in twips: where the list, the
// property pane, its two grids and the description area go on every resize,
// and where a row's in-place editor opens over the value column.
#pragma once

#include "editor/PropertyRow.h"
#include "platform/Twips.h"

#include <optional>

namespace tarnvik {

namespace editordesign {
constexpr double ClientWidth = 3930, ClientHeight = 4725; // initial client area
constexpr double MinOuterWidth = 2800, MinOuterHeight = 4500;
constexpr double StatusHeight = 1095;
constexpr double DescHeight = 1005;
constexpr double CaptionColumn = 1600; // grid(0)'s column; grid(1) starts here
constexpr double Grid0Width = 3525;    // as created; the layout never changes it
constexpr int Rows = 7;
constexpr double LabelLeft = 45, HeadTop = 45, DescTextTop = 270; // inside Desc
} // namespace editordesign

struct EditorLayoutInput
{
    double clientWidth = 0, clientHeight = 0;
    double outerWidth = 0, outerHeight = 0;
    double toolbarHeight = 0;
    double statusHeight = editordesign::StatusHeight;
    double rowH = 0; // row 0's height as the grid reports it
    int BorderX = 15, BorderY = 15;
};

struct EditorLayout
{
    // The window's outer size after enlarging it to the minimum; the other
    // rectangles are laid out for the client area of that size.
    double outerWidth = 0, outerHeight = 0;
    bool enlarged = false;
    TwipRect List, pic, Desc;
    TwipRect grid0, grid1; // inside pic
    double lblDescWidth = 0;
    double columnWidth0 = 0, columnWidth1 = 0;
};

// Every resize. Extra height goes to the list; the pane keeps seven rows and
// sits just above the description area; extra width goes to the list, the
// pane's value column and the description. Sizes never go below 0.
EditorLayout editorLayout(const EditorLayoutInput &in);

// Where row `row`'s in-place editor opens, inside pic: the title row's text
// box, the database row's browse button (a square at the right end of the
// value cell), the other rows' choice boxes, whose height is the box's own
// (no height). A negative row stands for "no row yet", which is TitleRow.
struct InPlaceEditor
{
    double left = 0, top = 0, width = 0;
    std::optional<double> height;
    bool operator==(const InPlaceEditor &) const = default;
};
InPlaceEditor inPlaceEditor(int row, double grid1Left, double grid1Width, double rowH, double rowTop,
                            int BorderX, int BorderY);

} // namespace tarnvik
