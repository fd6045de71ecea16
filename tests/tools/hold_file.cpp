// Holds a file open as indexers and viewers do, reading and letting others
// read and delete it but not write it, until the process is ended.
//
//   hold_file.exe PATH    exit status 1 when PATH cannot be opened
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    Sleep(INFINITE);
    return 0;
}
