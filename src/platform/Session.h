// The end of a session as the desktop asks for it: the session manager (and a
// terminal's Ctrl+C) end a program with a signal, which must save like "Konec".
#pragma once

#include <functional>

class QObject;

namespace tarnvik {

// From now on SIGTERM, SIGINT and SIGHUP call 'onEnd' from the event loop of
// 'context''s thread instead of ending the program at once. Call it once, early.
void onSessionEnd(QObject *context, std::function<void()> onEnd);

} // namespace tarnvik
