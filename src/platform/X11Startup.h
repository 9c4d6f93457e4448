// What a later start's launcher hands over on X11: its startup id. The
// running copy ends the launcher's busy feedback with it and asks for the
// focus with the time of the user's click that the id carries, so that a
// window manager that guards the focus grants it.
#pragma once

#include <QByteArray>

class QWindow;

namespace tarnvik {

// The X server time in an id's "_TIME<n>" suffix; 0 when it has none.
quint32 startupTime(const QByteArray &startupId);

// The "remove" message of the startup-notification protocol for 'startupId',
// as the 20-byte pieces it is sent in (the last one padded with zeros).
QList<QByteArray> startupRemoveMessage(const QByteArray &startupId);

// On X11: sends that message for 'startupId', and asks the window manager to
// activate 'window' at the id's time. Does nothing elsewhere, or for an empty
// id.
void takeOverStartup(QWindow *window, const QByteArray &startupId);

// On X11: asks the window manager to activate 'window' at the X server time
// of a user's action ('time' 0: nothing is asked).
void askForFocus(QWindow *window, quint32 time);

// On X11: the X server's time now, for a request the user has just made in
// another program (a later start from a terminal); 0 elsewhere.
quint32 x11ServerTime();

} // namespace tarnvik
