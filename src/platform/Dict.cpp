#include "Dict.h"

#include "X11.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPoint>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdlib>

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

bool startWindowMove(QWidget *window, QPoint pressedAt)
{
    QWindow *handle = window->windowHandle();
    if (!handle)
        return false;
    xcb_connection_t *c = x11Connection();
    if (!c)
        return handle->startSystemMove();
    // Qt's own call gives the pointer's place now, so the window would trail
    // the pointer by the way it went before the drag was handed over.
    auto atom = [c](const char *name) {
        xcb_intern_atom_reply_t *r
            = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    };
    const xcb_atom_t moveResize = atom("_NET_WM_MOVERESIZE");
    const xcb_window_t root = x11Root(c);
    xcb_get_property_reply_t *supported = xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom("_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 4096), nullptr);
    bool offered = false;
    if (supported && supported->format == 32) {
        const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(supported));
        offered = std::find(atoms, atoms + xcb_get_property_value_length(supported) / 4, moveResize)
            != atoms + xcb_get_property_value_length(supported) / 4;
    }
    free(supported);
    if (!offered)
        return false;
    const qreal dpr = handle->devicePixelRatio();
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = xcb_window_t(handle->winId());
    ev.type = moveResize;
    ev.data.data32[0] = uint32_t(qRound(pressedAt.x() * dpr));
    ev.data.data32[1] = uint32_t(qRound(pressedAt.y() * dpr));
    ev.data.data32[2] = 8; // _NET_WM_MOVERESIZE_MOVE
    ev.data.data32[3] = XCB_BUTTON_INDEX_1;
    ev.data.data32[4] = 1; // asked by an application
    // The window manager can take the pointer only once this program lets go.
    xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&ev));
    xcb_flush(c);
    return true;
}

bool leftButtonHeld()
{
    xcb_connection_t *c = x11Connection();
    if (!c)
        return QGuiApplication::mouseButtons() & Qt::LeftButton;
    xcb_query_pointer_reply_t *r = xcb_query_pointer_reply(c, xcb_query_pointer(c, x11Root(c)), nullptr);
    const bool held = r && (r->mask & XCB_KEY_BUT_MASK_BUTTON_1);
    free(r);
    return held;
}

void placeWindow(QWidget *window, QPoint at)
{
    window->move(at);
    xcb_connection_t *c = x11Connection();
    if (!c || !window->windowHandle())
        return;
    const qreal dpr = window->windowHandle()->devicePixelRatio();
    const uint32_t values[] = {uint32_t(qRound(at.x() * dpr)), uint32_t(qRound(at.y() * dpr))};
    xcb_configure_window(c, xcb_window_t(window->winId()), XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    xcb_flush(c);
}

} // namespace tarnvik
