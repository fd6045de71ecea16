// Looks at the running program's main window from another process, as a
// user would see it, and can close it through File > Exit.
//
//   window_probe.exe check   prints client size and style; exit 0 when the window
//                            is fixed-size, 800 x 444, visible, with a menu
//   window_probe.exe exit    sends the File > Exit command
//
// Exit status 2 when the main window does not appear within 20 seconds.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

const WPARAM kExitCommand = 2001;

// Returns the program's main window once it appears, or null after 20 seconds.
HWND WaitForMainWindow()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (HWND window = FindWindowW(L"TarnwickForensicsEraserWnd", L"Tarnwick File Eraser"))
            return window;
        Sleep(100);
    }
    return nullptr;
}

// Returns 0 when the window has the promised fixed size and style, else 1.
int CheckWindow(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    LONG style = GetWindowLongW(window, GWL_STYLE);
    LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    bool visible = IsWindowVisible(window) != FALSE;
    bool hasMenu = GetMenu(window) != nullptr;  // its items belong to the other process
    std::printf("client %ldx%ld style 0x%08lX exstyle 0x%08lX visible %d menu %d\n", client.right, client.bottom,
                static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle), visible ? 1 : 0,
                hasMenu ? 1 : 0);
    bool ok = client.right == 800 && client.bottom == 444 && !(style & WS_MAXIMIZEBOX) && !(style & WS_THICKFRAME) &&
              (style & WS_MINIMIZEBOX) && (exStyle & WS_EX_ACCEPTFILES) && visible && hasMenu;
    return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    HWND window = WaitForMainWindow();
    if (!window) {
        std::printf("main window not found\n");
        return 2;
    }
    const wchar_t* command = argc > 1 ? argv[1] : L"check";
    if (std::wcscmp(command, L"check") == 0)
        return CheckWindow(window);
    if (std::wcscmp(command, L"exit") == 0)
        return PostMessageW(window, WM_COMMAND, kExitCommand, 0) ? 0 : 1;
    return 2;
}
