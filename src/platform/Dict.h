// Window-style procedures shared by the windows: title bar and topmost band.
#pragma once

class QPoint;
class QWidget;

namespace tarnvik {

// Adds or removes the title bar. Removing it keeps the window's outer
// position and size, so its client area grows by the frame. A shown window
// is hidden and shown again.
void SetCaptionBar(QWidget *window, bool showCaption);

// Puts the window above all others or back, and shows it without activating
// it. A shown window keeps its place and the keyboard focus. Does nothing to
// the band where the platform offers none.
void SetTopMost(QWidget *window, bool onTop);
// Whether the platform keeps a window above others at its request (not so on
// Wayland), and whether it lets a program place its own windows.
bool onWayland();
bool platformKeepsOnTop();
bool clientPlacesWindows();

// Where a Wayland compositor leaves the title bar to the program, Qt draws
// its own: the caption centred over the whole bar, cut off where its three
// buttons begin (it draws them whatever the window's flags). Widens the
// window's minimum to keep its caption whole there; elsewhere does nothing.
void keepCaptionWhole(QWidget *window);

// Hands a drag by the window's surface to the window manager; false where it
// takes none. 'pressedAt' (screen pixels) is where the drag's button went
// down: the window manager keeps that point of the window under the pointer,
// however far the pointer has gone since.
bool startWindowMove(QWidget *window, QPoint pressedAt);
// Whether the left button is held: also while the window manager holds the
// pointer, when the program's own events say nothing.
bool leftButtonHeld();
// Moves the window to 'at' (screen pixels), asking the window system again
// even where the program counts it there already: a window manager may have
// refused the last move without saying so.
void placeWindow(QWidget *window, QPoint at);

} // namespace tarnvik
