#include "X11Startup.h"
#include "X11.h"

#include <QList>
#include <QWindow>

#include <cstring>
#include <poll.h>

namespace tarnvik {

quint32 startupTime(const QByteArray &startupId)
{
    const qsizetype at = startupId.lastIndexOf("_TIME");
    if (at < 0)
        return 0;
    bool ok = false;
    const quint32 time = startupId.mid(at + 5).toUInt(&ok);
    return ok ? time : 0;
}

QList<QByteArray> startupRemoveMessage(const QByteArray &startupId)
{
    QByteArray value = startupId;
    if (value.contains(' ') || value.contains('"') || value.contains('\\')) {
        value.replace('\\', "\\\\").replace('"', "\\\"");
        value = '"' + value + '"';
    }
    // The protocol ends the text with a zero byte and sends it 20 bytes at a time.
    QByteArray text = "remove: ID=" + value;
    text.append('\0');
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < text.size(); at += 20)
        pieces << text.mid(at, 20).leftJustified(20, '\0');
    return pieces;
}

namespace {

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return a;
}

xcb_client_message_event_t clientMessage(xcb_window_t window, xcb_atom_t type, uint8_t format)
{
    xcb_client_message_event_t e;
    std::memset(&e, 0, sizeof e);
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = format;
    e.window = window;
    e.type = type;
    return e;
}

} // namespace

void takeOverStartup(QWindow *window, const QByteArray &startupId)
{
    xcb_connection_t *c = x11Connection();
    if (!c || !window || startupId.isEmpty())
        return;
    const xcb_window_t root = x11Root(c);
    const auto self = xcb_window_t(window->winId());

    // The launcher's busy pointer and task-bar entry end with this message.
    const xcb_atom_t begin = atom(c, "_NET_STARTUP_INFO_BEGIN"), more = atom(c, "_NET_STARTUP_INFO");
    bool first = true;
    for (const QByteArray &piece : startupRemoveMessage(startupId)) {
        xcb_client_message_event_t e = clientMessage(self, first ? begin : more, 8);
        std::memcpy(e.data.data8, piece.constData(), 20);
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char *>(&e));
        first = false;
    }

    xcb_flush(c);
    // The click that started the launch is the user's latest action.
    askForFocus(window, startupTime(startupId));
}

void askForFocus(QWindow *window, quint32 time)
{
    xcb_connection_t *c = x11Connection();
    if (!c || !window || !time)
        return;
    // A request at the time of the user's action is one the window manager grants.
    xcb_client_message_event_t e = clientMessage(xcb_window_t(window->winId()), atom(c, "_NET_ACTIVE_WINDOW"), 32);
    e.data.data32[0] = 1; // from an application
    e.data.data32[1] = time;
    xcb_send_event(c, 0, x11Root(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&e));
    xcb_flush(c);
}

quint32 x11ServerTime()
{
    if (!x11Connection())
        return 0;
    // The time is the server's, whichever connection asks: one of our own
    // keeps the event away from Qt's reader. A property change on a window
    // of its own comes back with the time it happened.
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    quint32 time = 0;
    if (!xcb_connection_has_error(c)) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, x11Root(c), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        xcb_change_property(c, XCB_PROP_MODE_APPEND, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(c);
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        for (int waited = 0; !time && waited < 10 && !xcb_connection_has_error(c);) {
            xcb_generic_event_t *e = xcb_poll_for_event(c);
            if (!e) {
                waited += ::poll(&p, 1, 100) == 0 ? 1 : 0;
                continue;
            }
            if ((e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
                time = reinterpret_cast<xcb_property_notify_event_t *>(e)->time;
            free(e);
        }
        xcb_destroy_window(c, w);
    }
    xcb_disconnect(c);
    return time;
}

} // namespace tarnvik
