// Test support around the OS seam, in the manner of SQLite's test VFS: while a
// FakeOs lives, every entry of `os` is a counting wrapper around the real
// function that can be told to fail, to come up short, to list scripted
// named streams or to hand out scripted random bytes, and that keeps a ledger
// of what was opened and allocated so a test can check that everything was
// released. Install it before any worker thread starts.
#pragma once

#include "os/os_seam.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

// Every entry of the seam, in table order: H one a test may replace through OsHooks, N one it may not.
#define TARNWICK_OS_FNS(H, N)                                                                              \
    H(CreateFileW) N(CloseHandle) H(ReadFile) H(WriteFile) H(FlushFileBuffers) H(GetFileSizeEx)            \
    H(SetFilePointerEx) H(SetEndOfFile) H(GetFileInformationByHandle) H(DeviceIoControl)                  \
    H(GetFileAttributesW) H(SetFileAttributesW) H(DeleteFileW) H(MoveFileW) H(RemoveDirectoryW)           \
    H(FindFirstFileW) H(FindNextFileW) H(FindFirstStreamW) H(FindNextStreamW) N(FindClose)                \
    H(GetVolumePathNameW) H(GetDiskFreeSpaceW) H(GetDiskFreeSpaceExW) H(BCryptGenRandom) H(AlignedAlloc)  \
    N(AlignedFree) H(MessageBoxW) H(SHBrowseForFolderW) H(SHGetPathFromIDListW) N(CoTaskMemFree)          \
    H(ShellExecuteW) H(StartThread)

#define TARNWICK_OS_FN_ENUM(name) name,
enum class OsFn { TARNWICK_OS_FNS(TARNWICK_OS_FN_ENUM, TARNWICK_OS_FN_ENUM) Count };

// Returns the function's Win32 name, for messages.
const char* OsFnName(OsFn fn);

// Release functions never fail by injection and are not counted by
// FailNthCallOfAny: a close that fails but still closes proves nothing, and
// one that does not close would only leak in the test itself.
bool IsReleaseFn(OsFn fn);

// One call through the seam, as the log keeps it.
struct OsCallRecord {
    OsFn fn;
    std::wstring path;    // the path argument, or the path a handle was opened with
    std::wstring path2;   // MoveFileW's new name; MessageBoxW's caption
    int64_t number = 0;   // CreateFileW flags, bytes asked to read or write, seek distance,
                          // control code, random byte count, allocation size, message box style
    int64_t done = 0;     // bytes actually read or written
    DWORD access = 0;     // CreateFileW access; DeviceIoControl input size
    bool ok = false;      // the call reported success
    bool injected = false;
};

// A named stream that FindFirstStreamW/FindNextStreamW report while streams
// are scripted. `record` is the name as the system lists it, such as
// L":Zone.Identifier:$DATA" or L"::$DATA".
struct FakeStream {
    std::wstring record;
    std::vector<uint8_t> contents;
    DWORD openError = 0;  // non-zero: opening the stream fails with this error
};

// Replacement behaviour for one function, called instead of the real one but
// still counted, logged and subject to injection. Leave empty for the real one.
template <typename FnPointer> using OsHook = std::function<std::remove_pointer_t<FnPointer>>;
#define TARNWICK_OS_HOOK(name) OsHook<decltype(OsCalls::name)> name;
#define TARNWICK_OS_NO_HOOK(name)
struct OsHooks {
    TARNWICK_OS_FNS(TARNWICK_OS_HOOK, TARNWICK_OS_NO_HOOK)
};

class FakeOs {
public:
    FakeOs();   // installs the wrappers
    ~FakeOs();  // puts the real table back and removes scripted stream files
    FakeOs(const FakeOs&) = delete;
    FakeOs& operator=(const FakeOs&) = delete;

    OsHooks hooks;

    // Failure injection. Calls are counted from 1; a failing call does not
    // reach the real function, returns the function's failure value and sets
    // the last error.
    void FailNthCall(OsFn fn, int n, DWORD error = ERROR_ACCESS_DENIED);
    void FailEveryCall(OsFn fn, DWORD error = ERROR_ACCESS_DENIED);
    void FailNthCallOfAny(int n, DWORD error = ERROR_ACCESS_DENIED);  // release functions excluded
    // Returns true once any injected failure has fired.
    bool InjectionFired() const;

    // The Nth ReadFile/WriteFile call (from 1) moves at most `bytes` bytes and
    // reports that count with success, as a short transfer does.
    void ShortenNthRead(int n, DWORD bytes);
    void ShortenNthWrite(int n, DWORD bytes);

    // Reads through a handle opened with FILE_FLAG_NO_BUFFERING fail with
    // ERROR_INVALID_PARAMETER unless the count is a multiple of `sectorSize`,
    // as they do on Windows (Wine never fails them).
    void EmulateUnbufferedReads(DWORD sectorSize = 512);

    // From now on every file lists these stream records, in order, and opens of
    // "path:name" reach a side file holding the stream's bytes.
    void ScriptStreams(std::vector<FakeStream> streams);
    // Returns the current bytes of a scripted stream, by its name such as L":Zone.Identifier".
    std::vector<uint8_t> StreamContents(const std::wstring& name) const;

    // BCryptGenRandom hands out these bytes first, in order; real ones after.
    void ScriptRandom(std::vector<uint8_t> bytes);

    // Counts and log.
    int Calls(OsFn fn) const;
    int InjectableCalls() const;  // every call but those of release functions
    std::vector<OsCallRecord> CallLog() const;
    std::vector<OsCallRecord> CallsOf(OsFn fn) const;
    // Returns the paths that received at least one successful WriteFile.
    std::set<std::wstring> WrittenPaths() const;

    // Ledger. Returns an empty string when every handle opened and every block
    // allocated through the seam was released exactly once; else what is wrong.
    std::string LedgerProblems() const;
    int OpenHandleCount() const;
    int LiveAllocationCount() const;

    struct State;  // the wrappers' bookkeeping

private:
    State* state_;
};

#define EXPECT_LEDGER_BALANCED(fake) EXPECT_EQ("", (fake).LedgerProblems())
