// Looks at the running program's main window from outside, as another
// Windows process would, and optionally closes it through File > Exit.
//
//   window_probe.exe check   prints class, title, client size and style; exit 0
//                             when the window is as the program promises
//   window_probe.exe exit    sends the File > Exit command
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t kClass[] = L"TarnwickForensicsEraserWnd";
const wchar_t kTitle[] = L"Tarnwick File Eraser";
constexpr WPARAM kExitCommand = 2001;

// Returns the window, waiting up to 20 seconds for it to appear.
HWND WaitForMainWindow()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (HWND window = FindWindowW(kClass, kTitle))
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
    if (argc > 1 && std::wcscmp(argv[1], L"exit") == 0) {
        PostMessageW(window, WM_COMMAND, kExitCommand, 0);
        return 0;
    }
    return CheckWindow(window);
}
