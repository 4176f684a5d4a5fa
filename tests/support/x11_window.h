#pragma once

#include <QString>

// Asks the shown top-level window titled `title` on the X display in $DISPLAY to close,
// as a window manager's close button does (WM_DELETE_WINDOW). Returns false when no
// such window is shown.
bool request_window_close(const QString& title);

// Whether a top-level window with that title is shown on the display.
bool window_shown(const QString& title);
