#pragma once

// Whether the desktop keeps a window above the others when it asks to be.
// Wayland leaves the stacking of windows to the compositor: the wish is not
// granted. On X11 the window manager does it, if there is one and it says it
// supports the state (weston's manager for XWayland does not, nor does an X
// server without any).
bool CanKeepWindowsOnTop();
