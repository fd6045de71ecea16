// Holds a file open as indexers and viewers do, reading and letting others
// read and delete it but not write it, until the process is ended.
//
//   hold_file.exe PATH EVENT   sets the named event once the file is open;
//                              exit status 1 when PATH cannot be opened
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (file == INVALID_HANDLE_VALUE || !held || !SetEvent(held)) return 1;
    Sleep(INFINITE);
    return 0;
}
