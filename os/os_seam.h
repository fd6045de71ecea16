// The one door through which the program reaches the operating-system calls
// that a test needs to fake or observe.
//
// `os` holds the real Win32 functions by default. Code calls them as
// `os.CreateFileW(...)`, so it still reads like plain Win32. A test may replace
// entries (see tests/support/fake_os.h) and must put the real table back
// before it ends. The table is read without a lock: change it only while no
// worker thread runs.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <shlobj.h>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct OsCalls {
    // Files and handles.
    HANDLE(WINAPI* CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* FlushFileBuffers)(HANDLE);
    BOOL(WINAPI* GetFileSizeEx)(HANDLE, PLARGE_INTEGER);
    BOOL(WINAPI* SetFilePointerEx)(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD);
    BOOL(WINAPI* SetEndOfFile)(HANDLE);
    BOOL(WINAPI* DeviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

    // Names in the file system.
    DWORD(WINAPI* GetFileAttributesW)(LPCWSTR);
    BOOL(WINAPI* GetFileAttributesExW)(LPCWSTR, GET_FILEEX_INFO_LEVELS, LPVOID);  // with the size, in one call
    BOOL(WINAPI* DeleteFileW)(LPCWSTR);
    HANDLE(WINAPI* FindFirstFileW)(LPCWSTR, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* FindNextFileW)(HANDLE, LPWIN32_FIND_DATAW);
    BOOL(WINAPI* FindClose)(HANDLE);

    // Volumes.
    BOOL(WINAPI* GetVolumePathNameW)(LPCWSTR, LPWSTR, DWORD);
    BOOL(WINAPI* GetDiskFreeSpaceW)(LPCWSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
    BOOL(WINAPI* GetDiskFreeSpaceExW)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

    // Randomness and memory.
    NTSTATUS(WINAPI* BCryptGenRandom)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);
    void*(__cdecl* AlignedAlloc)(size_t size, size_t alignment);
    void(__cdecl* AlignedFree)(void* block);

    // Dialogs and the shell.
    int(WINAPI* MessageBoxW)(HWND, LPCWSTR, LPCWSTR, UINT);
    PIDLIST_ABSOLUTE(WINAPI* SHBrowseForFolderW)(LPBROWSEINFOW);
    BOOL(WINAPI* SHGetPathFromIDListW)(PCIDLIST_ABSOLUTE, LPWSTR);
    void(WINAPI* CoTaskMemFree)(LPVOID);
    HINSTANCE(WINAPI* ShellExecuteW)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    // The shell's objects, such as the taskbar list behind the window's button.
    HRESULT(WINAPI* CoCreateInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

    // Threads. Starts `body` on a new thread held by `thread`, which must be
    // empty. Returns false, with `thread` left empty and `body` dropped, when the
    // system cannot create the thread (std::thread throws std::system_error).
    bool (*StartThread)(std::function<void()> body, std::thread* thread);

    // Files and handles, continued: one class of facts about an open file
    // (its size and links, its attributes and reparse tag, or its streams),
    // which costs a fraction of asking for all of them at once.
    BOOL(WINAPI* GetFileInformationByHandleEx)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

    // An open file changed through its handle (renamed, deleted, lengthened,
    // its attributes set), so that what changes is the file the handle was
    // checked to be; where that handle leads; and the same file opened anew
    // from it, with other access, without asking its path again.
    BOOL(WINAPI* SetFileInformationByHandle)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    DWORD(WINAPI* GetFinalPathNameByHandleW)(HANDLE, LPWSTR, DWORD, DWORD);
    HANDLE(WINAPI* ReOpenFile)(HANDLE, DWORD, DWORD, DWORD);

    // The system's common file dialogs, owned by `owner`, giving file-system
    // paths. The open dialog puts the files chosen, or the folders when
    // `folders`, into `paths`; a shortcut or link comes back as itself, never
    // as its target. Returns false when canceled or nothing chosen has a path.
    bool (*ChooseOpenPaths)(HWND owner, bool folders, std::vector<std::wstring>* paths);
    // The save dialog lets the user name a text file to write, offering
    // `suggestedName` and asking before replacing a file. Returns false when canceled.
    bool (*ChooseSavePath)(HWND owner, const wchar_t* suggestedName, std::wstring* path);

    // Time: the milliseconds since the system started, by which a job spaces
    // its reports to the window. Never fails.
    ULONGLONG(WINAPI* GetTickCount64)();
};

// The table the program calls through.
extern OsCalls os;

// Returns the table of real functions, for tests that wrap them.
const OsCalls& RealOsCalls();
