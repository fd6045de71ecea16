// Sizes that follow the display's scaling: the window is laid out in pixels
// of a 96-DPI display and scaled to the DPI of the monitor it is on.
#pragma once

#include <windows.h>

// Returns the DPI of the monitor that `window` is on; on systems without
// per-monitor DPI, the DPI of the whole screen.
UINT WindowDpi(HWND window);

// Returns `value`, a length in 96-DPI pixels, in pixels at `dpi`.
int ScaledForDpi(int value, UINT dpi);

// Returns a new font: the system's message font at `dpi`. The caller deletes it.
HFONT CreateMessageFontForDpi(UINT dpi);

// Returns the outer size of a window of `style` with a menu bar whose client
// area is `clientWidth` x `clientHeight` 96-DPI pixels, at `dpi`.
SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, UINT dpi);
