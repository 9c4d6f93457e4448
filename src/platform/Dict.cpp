#include "Dict.h"

#include <QWidget>

namespace tarnvik {

namespace {

void setFlagKeepingPlace(QWidget *window, Qt::WindowType flag, bool on, bool keepOuterRect)
{
    if (window->windowFlags().testFlag(flag) == on)
        return;
    const bool wasVisible = window->isVisible();
    // Before the window is shown its frame is unknown and both rects agree.
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    window->setWindowFlag(flag, on);
    window->setGeometry(keepOuterRect ? outer : inner);
    if (wasVisible)
        window->show();
}

} // namespace

void SetCaptionBar(QWidget *window, bool showCaption)
{
    // A frameless window's client area is its outer rectangle; adding the
    // frame back keeps the client where it is, the best a client can ask of
    // a window manager.
    setFlagKeepingPlace(window, Qt::FramelessWindowHint, !showCaption, !showCaption);
}

void SetTopMost(QWidget *window, bool onTop)
{
    setFlagKeepingPlace(window, Qt::WindowStaysOnTopHint, onTop, false);
    if (!window->isVisible()) {
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        window->show();
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

} // namespace tarnvik
