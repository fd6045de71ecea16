// Keeps one Wine process with a hidden window alive for the length of a test
// run, so that every test program starts in an already running prefix (tens of
// milliseconds instead of half a second). Ends when its window is closed or the
// wineserver is stopped.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TarnwickWineKeepAlive";
    RegisterClassW(&windowClass);
    CreateWindowW(windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
