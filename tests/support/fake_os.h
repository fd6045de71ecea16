// Test support around the OS seam, in the manner of SQLite's test VFS: while a
// FakeOs lives, every entry of `os` is a counting, logging wrapper around the
// real function (or a test's hook) that can be told to fail, and that keeps a
// ledger of what was opened and allocated so a test can check that everything
// was released. Install it before any worker thread starts.
#pragma once

#include "os/os_seam.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// Every entry of the seam, in table order.
#define TARNWICK_OS_FNS(X)                                                                                       \
    X(CreateFileW) X(CloseHandle) X(ReadFile) X(WriteFile) X(FlushFileBuffers) X(GetFileSizeEx)                  \
    X(SetFilePointerEx) X(SetEndOfFile) X(DeviceIoControl) X(GetFileAttributesW) X(GetFileAttributesExW)         \
    X(DeleteFileW) X(FindFirstFileW) X(FindNextFileW) X(FindClose)                                             \
    X(GetVolumePathNameW) X(GetDiskFreeSpaceW) X(GetDiskFreeSpaceExW) X(BCryptGenRandom) X(AlignedAlloc)        \
    X(AlignedFree) X(MessageBoxW) X(SHBrowseForFolderW) X(SHGetPathFromIDListW) X(CoTaskMemFree) X(ShellExecuteW) \
    X(CoCreateInstance) X(StartThread) X(GetFileInformationByHandleEx) X(SetFileInformationByHandle)              \
    X(GetFinalPathNameByHandleW) X(ReOpenFile) X(ChooseOpenPaths) X(ChooseSavePath)

#define TARNWICK_OS_FN_ENUM(name) name,
enum class OsFn { TARNWICK_OS_FNS(TARNWICK_OS_FN_ENUM) Any };

// One call through the seam, as the log keeps it.
struct OsCallRecord {
    OsFn fn = OsFn::Any;
    std::wstring path = {};    // the path argument, or the path a handle was opened with
    int64_t number = 0;   // CreateFileW: the access asked for; ReadFile, WriteFile: the bytes asked for;
                          // Get/SetFileInformationByHandle(Ex): the class of information
    int64_t done = 0;     // ReadFile, WriteFile: the bytes moved
    bool ok = false;      // the call reported success
    bool injected = false;
};

// A named stream as the file system lists it, such as L":Zone.Identifier:$DATA", and its bytes.
struct FakeStream {
    std::wstring record;
    std::vector<uint8_t> contents;
};

// Replacement behaviour for one entry, called instead of the real function but
// still counted, logged and subject to injected failures. Empty: the real function.
template <typename FnPointer> using OsHook = std::function<std::remove_pointer_t<FnPointer>>;
#define TARNWICK_OS_HOOK(name) OsHook<decltype(OsCalls::name)> name;
struct OsHooks {
    TARNWICK_OS_FNS(TARNWICK_OS_HOOK)
};

class FakeOs {
public:
    FakeOs();   // installs the wrappers
    ~FakeOs();  // puts the real table back
    FakeOs(const FakeOs&) = delete;
    FakeOs& operator=(const FakeOs&) = delete;

    OsHooks hooks;

    // Calls count from 1. A failing call reaches neither the hook nor the real
    // function; it returns the failure value and sets the last error. Release
    // functions (CloseHandle, FindClose, AlignedFree, CoTaskMemFree) never fail
    // and are not counted among calls of `OsFn::Any`.
    void FailNthCall(OsFn fn, int n, DWORD error = ERROR_ACCESS_DENIED);
    bool InjectionFired() const;
    // The behaviours below are hooks of their own: a test's hook on the same entry replaces them.
    // Reads through an unbuffered handle fail unless they ask for whole sectors, as on Windows
    // (Wine never fails them).
    void EmulateUnbufferedReads(DWORD sectorSize = 512);
    // Every file whose path ends in `name` lists these streams from now on (a hook of GetFileInformationByHandleEx);
    // "file:stream" opens a side file holding the stream's bytes.
    void ScriptStreams(std::vector<FakeStream> streams, const std::wstring& name = L"");
    // BCryptGenRandom hands out these bytes first, then real ones.
    void ScriptRandom(std::vector<uint8_t> bytes);

    int Calls(OsFn fn) const;
    std::vector<OsCallRecord> CallLog(OsFn only = OsFn::Any) const;  // the calls of `only`, or all
    // Returns "" when everything opened or allocated through the seam was released exactly once.
    std::string LedgerProblems() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Fills `info` with `records`, such as L"::$DATA", as GetFileInformationByHandleEx lists a file's streams, in a
// block of at least 512 bytes a record. Returns TRUE.
BOOL ListStreamRecords(const std::vector<std::wstring>& records, LPVOID info, DWORD size);

#define EXPECT_LEDGER_BALANCED(fake) EXPECT_EQ("", (fake).LedgerProblems())
