// The user-interface state of the process, owned by the user-interface thread.
#pragma once

#include <windows.h>
#include <thread>

struct UiState {
    HINSTANCE instance = nullptr;
    HFONT dialogFont = nullptr;
    HWND fileList = nullptr;
    HWND statusLine = nullptr;
    HWND progressBar = nullptr;
    HWND methodGroup = nullptr;
    HWND methodCombo = nullptr;
    HWND verifyCheck = nullptr;
    HWND startButton = nullptr;
    HWND cancelButton = nullptr;
};

extern UiState ui;

// The window's own title: the program's name.
extern const wchar_t kMainWindowTitle[];

// The progress bar counts a whole job in tenths of a percent.
constexpr int kProgressRange = 1000;

// The single worker thread: joinable from a job's start until its
// WM_APP_FINISHED has been handled.
extern std::thread workerThread;

// Set when the user closed the window while a job ran; never cleared.
extern bool closeAfterJob;
