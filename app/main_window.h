// The program's entry steps and its one top-level window.
#pragma once

#include <windows.h>

extern const wchar_t kMainWindowClass[];  // "TarnwickForensicsEraserWnd"
extern const wchar_t kMainWindowTitle[];  // "Tarnwick File Eraser"

// Stores the instance, initialises the common controls and OLE, and registers
// the window class. Returns false when the class cannot be registered.
bool InitApplication(HINSTANCE instance);

// Builds the menus and creates the fixed-size main window (its controls are
// created on the way) and shows it. Returns the window, or null on failure.
HWND CreateMainWindow(int showCommand);

// Runs the message loop until the window is destroyed; returns the WM_QUIT code.
int RunMessageLoop(HWND window);

// The exit path: stops and joins a worker that is still running, then
// uninitialises OLE.
void ShutdownApplication();

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
