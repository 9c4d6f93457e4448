// A key combination that reaches the program wherever the keyboard focus is,
// on X11: grabbed on the root window, released when this object goes. A
// Wayland program cannot grab keys; there the desktop's own shortcut runs
// `tarnvik --selection`.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeySequence>
#include <QObject>

namespace tarnvik {

class GlobalShortcut : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit GlobalShortcut(QObject *parent = nullptr);
    ~GlobalShortcut() override;

    // Grabs one combination of modifiers and a letter, digit, function key
    // or Space. False, with 'error' set, for a combination of another kind or
    // one no key of this keyboard makes; with 'held' set too for one another
    // program holds; and (error empty) off X11.
    bool grab(const QKeySequence &keys, QString *error, bool *held);
    void release();

signals:
    // The combination was pressed; 'time' is the X server's time of the key.
    void activated(quint32 time);

protected:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    quint8 m_keycode = 0;
    quint16 m_modifiers = 0;
};

} // namespace tarnvik
