#include "GlobalShortcut.h"

#include "X11.h"

#include <QCoreApplication>

#include <cstdlib>

namespace tarnvik {

namespace {

// The X keysym of a key the combination may end in; 0 for any other.
quint32 keysymOf(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return quint32(key - Qt::Key_A + 'a');
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return quint32(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return quint32(0xffbe + (key - Qt::Key_F1));
    if (key == Qt::Key_Space)
        return 0x20;
    return 0;
}

// The key that makes 'keysym' on this keyboard, on any of its levels.
xcb_keycode_t keycodeOf(xcb_connection_t *c, quint32 keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(c);
    const int first = setup->min_keycode, count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *map =
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, xcb_keycode_t(first), uint8_t(count)), nullptr);
    if (!map)
        return 0;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map);
    const int perKey = map->keysyms_per_keycode;
    xcb_keycode_t found = 0;
    for (int k = 0; k < count && !found; ++k)
        for (int level = 0; level < perKey; ++level)
            if (syms[k * perKey + level] == keysym) {
                found = xcb_keycode_t(first + k);
                break;
            }
    free(map);
    return found;
}

// Caps Lock and Num Lock do not change the combination.
constexpr quint16 kLocks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

} // namespace

GlobalShortcut::GlobalShortcut(QObject *parent) : QObject(parent) {}

GlobalShortcut::~GlobalShortcut()
{
    release();
}

bool GlobalShortcut::grab(const QKeySequence &keys, QString *error, bool *held)
{
    release();
    error->clear();
    *held = false;
    xcb_connection_t *c = x11Connection();
    if (!c)
        return false;
    const QString shown = keys.toString(QKeySequence::NativeText);
    const QKeyCombination combination = keys.isEmpty() ? QKeyCombination() : keys[0];
    const quint32 keysym = keys.count() == 1 ? keysymOf(combination.key()) : 0;
    const xcb_keycode_t keycode = keysym ? keycodeOf(c, keysym) : 0;
    if (!keycode) {
        *error = QStringLiteral("Klávesovou zkratku „%1“ nelze použít: jiné klávesy než písmena, číslice, "
                                "F1–F35 a mezerník a zkratky bez kláves na této klávesnici se nepoužijí.")
                     .arg(shown);
        return false;
    }
    const Qt::KeyboardModifiers mods = combination.keyboardModifiers();
    quint16 mask = 0;
    mask |= mods & Qt::ShiftModifier ? XCB_MOD_MASK_SHIFT : 0;
    mask |= mods & Qt::ControlModifier ? XCB_MOD_MASK_CONTROL : 0;
    mask |= mods & Qt::AltModifier ? XCB_MOD_MASK_1 : 0;
    mask |= mods & Qt::MetaModifier ? XCB_MOD_MASK_4 : 0;
    for (quint16 lock : kLocks) {
        xcb_generic_error_t *e = xcb_request_check(
            c, xcb_grab_key_checked(c, 1, x11Root(c), mask | lock, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        *held = *held || e;
        free(e);
    }
    m_keycode = keycode;
    m_modifiers = mask;
    if (*held) {
        release();
        *error = QStringLiteral("Klávesovou zkratku „%1“ už používá jiný program; Tarnvik ji nepoužije.").arg(shown);
        return false;
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
    return true;
}

void GlobalShortcut::release()
{
    if (!m_keycode)
        return;
    if (xcb_connection_t *c = x11Connection()) {
        for (quint16 lock : kLocks)
            xcb_ungrab_key(c, m_keycode, x11Root(c), m_modifiers | lock);
        xcb_flush(c);
    }
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
    m_keycode = 0;
}

bool GlobalShortcut::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!m_keycode || eventType != "xcb_generic_event_t")
        return false;
    const auto *e = static_cast<const xcb_generic_event_t *>(message);
    if ((e->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto *key = static_cast<const xcb_key_press_event_t *>(message);
    quint16 locks = XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2;
    if (key->detail != m_keycode || (key->state & ~locks & 0xff) != m_modifiers)
        return false;
    emit activated(key->time);
    return true;
}

} // namespace tarnvik
