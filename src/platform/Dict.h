// Window-style procedures shared by the windows: title bar and topmost band.
#pragma once

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

} // namespace tarnvik
