// The X connection Qt uses, for what Qt offers no call for.
#pragma once

#include <QGuiApplication>

#include <xcb/xcb.h>

namespace tarnvik {

// Null off X11.
inline xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

inline xcb_window_t x11Root(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

} // namespace tarnvik
