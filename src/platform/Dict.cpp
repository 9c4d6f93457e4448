#include "Dict.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <algorithm>

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

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

bool platformKeepsOnTop()
{
    return !onWayland();
}

bool clientPlacesWindows()
{
    return !onWayland();
}

void keepCaptionWhole(QWidget *window)
{
    if (!onWayland() || qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION"))
        return;
    // Qt's title bar: the caption in 14-pixel type in the application's face;
    // 77 pixels from the buttons to the right edge, kept on both sides as the
    // caption is centred; 3-pixel borders.
    QFont face = QGuiApplication::font();
    face.setPixelSize(14);
    const int needed = QFontMetrics(face).horizontalAdvance(window->windowTitle()) + 2 * 77 - 2 * 3 + 2;
    window->setMinimumWidth(std::max(window->minimumWidth(), needed));
}

void SetTopMost(QWidget *window, bool onTop)
{
    if (!platformKeepsOnTop()) {
        // Nothing to ask for; the window stays as it is.
    } else if (QWindow *handle = window->windowHandle()) {
        // Asked of the window as it is: changing the widget's flags would
        // make a new native window, which loses its place and the keys.
        Qt::WindowFlags flags = window->windowFlags();
        flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
        window->overrideWindowFlags(flags);
        handle->setFlags(flags);
    } else {
        window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    }
    if (!window->isVisible()) {
        window->setAttribute(Qt::WA_ShowWithoutActivating);
        window->show();
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

} // namespace tarnvik
