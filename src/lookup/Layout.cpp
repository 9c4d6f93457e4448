#include "Layout.h"

#include <algorithm>

namespace tarnvik {

FirstMatchLayout setGridLayout(const TwipRect &combo, const Metrics &m)
{
    const double w = (combo.width - m.ThumbX - m.FrameX) / 2;
    const double top = combo.top + m.FrameY, height = combo.height - 2.0 * m.FrameY;
    FirstMatchLayout out;
    out.columnWidth = roundTwips(w);
    out.gridd[0] = {combo.left + m.FrameX, top, w, height};
    out.gridd[1] = {out.gridd[0].left + w, top, w - m.FrameX, height};
    return out;
}

QPointF dragTo(const TwipRect &window, QPointF mouse, QPointF anchor, double screenWidth, double screenHeight)
{
    double left = window.left + mouse.x() - anchor.x();
    if (left < 0)
        left = 0;
    if (left > screenWidth - window.width)
        left = screenWidth - window.width;
    double top = window.top + mouse.y() - anchor.y();
    if (top < 0)
        top = 0;
    if (top > screenHeight - window.height)
        top = screenHeight - window.height;
    return {left, top};
}

namespace {
// The screen that holds most of the window; null where none holds any of it.
const QRect *mostOf(const QRect &window, const QList<QRect> &screens)
{
    const QRect *best = nullptr;
    qint64 bestArea = 0;
    for (const QRect &screen : screens) {
        const QRect common = screen & window;
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    return best;
}
} // namespace

QPoint placeOnScreens(std::optional<QPoint> stored, QSize size, const QList<QRect> &screens, QPoint fallback)
{
    if (!stored)
        return fallback;
    const QRect window(*stored, size);
    const QRect *best = mostOf(window, screens);
    if (!best)
        return fallback;
    // Left and top edges win, so a window larger than the screen keeps its
    // top-left corner, where it is dragged from, on the screen.
    const int left = std::max(best->left(), std::min(window.left(), best->right() + 1 - size.width()));
    const int top = std::max(best->top(), std::min(window.top(), best->bottom() + 1 - size.height()));
    return {left, top};
}

QPoint keepOnScreens(const QRect &window, const QRect &keep, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return window.topLeft();
    const QRect *const most = mostOf(window, screens);
    const QRect *best = most ? most : &screens.first();
    const QRect part = keep.translated(window.topLeft());
    int dx = 0, dy = 0;
    if (part.right() > best->right())
        dx = best->right() - part.right();
    if (part.left() + dx < best->left())
        dx = best->left() - part.left();
    if (part.bottom() > best->bottom())
        dy = best->bottom() - part.bottom();
    if (part.top() + dy < best->top())
        dy = best->top() - part.top();
    return window.topLeft() + QPoint(dx, dy);
}

} // namespace tarnvik
