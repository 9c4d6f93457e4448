#include "SurfaceDrag.h"

#include "Layout.h"
#include "platform/Dict.h"
#include "platform/Metrics.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

namespace tarnvik {

QList<QRect> availableScreens()
{
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    return screens;
}

SurfaceDrag::SurfaceDrag(QWidget *window) : QObject(window), m_window(window), m_moveEnd(new QTimer(this))
{
    m_moveEnd->setInterval(50);
    connect(m_moveEnd, &QTimer::timeout, this, [this] {
        if (!m_movedBack.isValid()) {
            if (leftButtonHeld())
                return;
            m_movedBack.start();
        }
        // The window manager may place the window once more as its move
        // ends, and refuse a move of ours till then: asked again for a while.
        bringBack();
        if (m_movedBack.elapsed() > 1000)
            m_moveEnd->stop();
    });
}

void SurfaceDrag::stop()
{
    m_moveEnd->stop();
    m_dragging = false;
}

void SurfaceDrag::press(QMouseEvent *e)
{
    m_moveEnd->stop();
    m_takenAt = m_window->pos();
    m_dragging = true;
    m_systemMove = SystemMove::NotYet;
    m_pressedAt = e->globalPosition().toPoint();
    const Metrics &m = metrics();
    m_anchor = toTwips(e->position(), m);
}

bool SurfaceDrag::moved()
{
    // Moved since the user took it by its surface: dragged (by the window
    // manager, whose drag ends with no release sent here, or by ours).
    if (m_takenAt && m_window->pos() != *m_takenAt)
        m_moved = true;
    return m_moved;
}

void SurfaceDrag::release()
{
    if (m_dragging && m_systemMove == SystemMove::Refused)
        bringBack();
    m_dragging = false;
}

void SurfaceDrag::bringBack()
{
    // A window manager lets a window go (nearly) off the screen; where the
    // program is never told where its window is, it cannot help that.
    if (!clientPlacesWindows())
        return;
    // Where the window system has it (the strip has no frame), not where
    // the program last asked for it.
    const QPoint at = m_window->mapToGlobal(QPoint(0, 0));
    // The whole strip, flush with the edge it went past, as our own drag
    // leaves it.
    const QPoint to = keepOnScreens(QRect(at, m_window->size()), m_window->rect(), availableScreens());
    if (to != at)
        placeWindow(m_window, to);
}

void SurfaceDrag::move(QMouseEvent *e)
{
    // Only a drag that began on the surface moves the window; moves over a
    // control carry no anchor of their own.
    if (!m_dragging || e->buttons() != Qt::LeftButton)
        return;
    // Not from the press: a tap (press and release at once) would reach the
    // window manager after the release, which then moves the window with the
    // pointer until the next click.
    if (m_systemMove == SystemMove::NotYet
        && (e->globalPosition().toPoint() - m_pressedAt).manhattanLength() < QApplication::startDragDistance())
        return;
    const Metrics &m = metrics();
    const QRect outer = m_window->frameGeometry();
    const QScreen *screen = m_window->screen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1 << 20, 1 << 20);
    const TwipRect window = toTwips(outer.translated(-screenRect.topLeft()), m);
    const QPointF to = dragTo(window, toTwips(e->position(), m), m_anchor, m.toTwipsX(screenRect.width()),
                              m.toTwipsY(screenRect.height()));
    if (m_systemMove == SystemMove::NotYet) {
        // The window manager moves the window where it offers to: it knows
        // the screens and panels, and where a program may not place its own
        // window it is the only way. The move below is for where it does not.
        if (startWindowMove(m_window, m_pressedAt)) {
            m_systemMove = SystemMove::Started;
            m_dragging = false;
            // Its end is not told to the program. Where the program is not
            // told where its window is either, there is nothing to do then.
            if (clientPlacesWindows()) {
                m_movedBack.invalidate();
                m_moveEnd->start();
            }
            return;
        }
        m_systemMove = SystemMove::Refused;
    }
    m_window->move(screenRect.left() + m.toPixelsX(to.x()), screenRect.top() + m.toPixelsY(to.y()));
}

} // namespace tarnvik
