// Dragging a window without a title bar by its own surface: by the window
// manager where it offers to, else by the program, and the window brought
// back onto a screen after either.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <optional>

class QMouseEvent;
class QTimer;
class QWidget;

namespace tarnvik {

// What each screen leaves to windows, panels aside.
QList<QRect> availableScreens();

class SurfaceDrag : public QObject
{
public:
    explicit SurfaceDrag(QWidget *window);

    // The left button went down on the surface.
    void press(QMouseEvent *e);
    // Another press: no drag.
    void stop();
    void move(QMouseEvent *e);
    void release();
    // The window moved; true once the user has moved it by its surface.
    bool moved();

private:
    void bringBack();

    QWidget *m_window;
    std::optional<QPoint> m_takenAt; // where the window was when last taken by its surface
    bool m_moved = false;            // the user has dragged the window
    QPointF m_anchor;                // twips, where the left button went down
    bool m_dragging = false;         // the left button went down on the surface itself
    // Whether the window manager moves the window in this drag.
    enum class SystemMove { NotYet, Started, Refused } m_systemMove = SystemMove::NotYet;
    QPoint m_pressedAt;        // screen pixels, where the left button went down
    QTimer *m_moveEnd;         // looks for the end of the window manager's move
    QElapsedTimer m_movedBack; // since that end, while it is brought back
};

} // namespace tarnvik
