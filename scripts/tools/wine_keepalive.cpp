// Keeps one Wine process with a hidden window alive for the length of a test
// run, so that every test program starts in an already running prefix (tens of
// milliseconds instead of half a second). Ends when its window is closed or the
// wineserver is stopped.
//
//   wine_keepalive.exe [ready]   opens the file or named pipe `ready` for
//                                writing, and closes it, once Wine's desktop
//                                and services are up
#include <windows.h>
#include <shellapi.h>

namespace {

// Opens the file or named pipe named on the command line, if any, for writing and closes it, to say we are running.
void SignalReady()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc > 1) {
        HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (ready != INVALID_HANDLE_VALUE)
            CloseHandle(ready);
    }
    LocalFree(argv);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TarnwickWineKeepAlive";
    RegisterClassW(&windowClass);
    // Creating a window starts Wine's desktop process, so it is up before any test runs.
    CreateWindowW(windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    SignalReady();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
