#include "EditorLayout.h"

#include <algorithm>

namespace tarnvik {

namespace {
double size(double v)
{
    return std::max(0.0, v);
}
} // namespace

EditorLayout editorLayout(const EditorLayoutInput &in)
{
    using namespace editordesign;
    EditorLayout out;
    const double bx = in.BorderX, by = in.BorderY;
    const double picH = Rows * in.rowH + 3 * by;

    // The enlarged window's frame is the same, so its client area grows by
    // what the outer size grew; laying out for the old client size would
    // leave the pane above its place until the next resize.
    out.outerWidth = std::max(in.outerWidth, MinOuterWidth);
    out.outerHeight = std::max(in.outerHeight, MinOuterHeight);
    out.enlarged = out.outerWidth != in.outerWidth || out.outerHeight != in.outerHeight;
    const double clientW = in.clientWidth + (out.outerWidth - in.outerWidth);
    const double clientH = in.clientHeight + (out.outerHeight - in.outerHeight);

    out.List.left = 0;
    out.List.top = in.toolbarHeight + 2 * bx;
    out.List.width = size(clientW - bx);

    const double H = clientH - in.statusHeight + 4 * by;
    out.Desc = {2 * bx, H, size(out.List.width - 200), DescHeight};

    out.pic = {0, H - picH - 4 * by, out.List.width, size(picH)};
    out.List.height = size(out.pic.top - out.List.top - 2 * by);

    out.grid0 = {0, 0, Grid0Width, out.pic.height};
    out.columnWidth0 = CaptionColumn;
    out.grid1 = {CaptionColumn, 0, size(out.List.width - CaptionColumn), out.pic.height};
    out.columnWidth1 = out.grid1.width;

    out.lblDescWidth = size(out.Desc.width - 100);
    return out;
}

InPlaceEditor inPlaceEditor(int row, double grid1Left, double grid1Width, double rowH, double rowTop,
                            int BorderX, int BorderY)
{
    const double L1 = grid1Left, W1 = grid1Width, rh = rowH;
    const double bx = BorderX, by = BorderY;
    if (row <= TitleRow)
        return {L1 + 3 * bx, rowTop + bx, size(W1 - 10 * bx), size(rh - 2 * bx)};
    if (row == DatabaseRow)
        return {L1 + W1 - rh - 4 * bx, rowTop - by, rh + bx, rh + bx};
    return {L1 - bx, rowTop - 3 * by, size(W1 - 2 * bx), std::nullopt};
}

} // namespace tarnvik
