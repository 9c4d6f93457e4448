// Window-style procedures shared by the windows: title bar and topmost band.
// Both change Qt window flags, which hides a shown window; they show it again
// where it was and as large as it was.
#pragma once

class QWidget;

namespace tarnvik {

// Adds or removes the title bar. Removing it keeps the window's outer
// position and size, so its client area grows by the frame.
void SetCaptionBar(QWidget *window, bool showCaption);

// Puts the window above all others or back, and shows it without activating it.
void SetTopMost(QWidget *window, bool onTop);

} // namespace tarnvik
