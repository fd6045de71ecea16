#include "tests/support/fake_os.h"

#include "tests/support/temp_folder.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <type_traits>

namespace {

const char* const kFnNames[] = {
    "CreateFileW", "CloseHandle", "ReadFile", "WriteFile", "FlushFileBuffers", "GetFileSizeEx",
    "SetFilePointerEx", "SetEndOfFile", "GetFileInformationByHandle", "DeviceIoControl",
    "GetFileAttributesW", "SetFileAttributesW", "DeleteFileW", "MoveFileW", "RemoveDirectoryW",
    "FindFirstFileW", "FindNextFileW", "FindFirstStreamW", "FindNextStreamW", "FindClose",
    "GetVolumePathNameW", "GetDiskFreeSpaceW", "GetDiskFreeSpaceExW", "BCryptGenRandom",
    "AlignedAlloc", "AlignedFree", "MessageBoxW", "SHBrowseForFolderW", "SHGetPathFromIDListW",
    "CoTaskMemFree", "ShellExecuteW", "StartThread",
};
static_assert(sizeof(kFnNames) / sizeof(kFnNames[0]) == static_cast<size_t>(OsFn::Count));

// What the ledger knows of an open handle.
struct HandleRecord {
    std::wstring path;
    DWORD flags = 0;            // CreateFileW flags
    bool streamListing = false;  // a scripted stream listing: no real handle behind it
};

struct Rule {
    OsFn fn;
    bool anyFn;
    bool every;
    int n;
    DWORD error;
};

// Keeps GetLastError as the faked call left it while we do our bookkeeping.
struct LastErrorKeeper {
    DWORD saved = GetLastError();
    ~LastErrorKeeper() { SetLastError(saved); }
};

}  // namespace

struct FakeOs::State {
    mutable std::mutex mutex;
    FakeOs* owner = nullptr;
    int calls[static_cast<int>(OsFn::Count)] = {};
    int injectableCalls = 0;
    std::vector<Rule> rules;
    bool fired = false;
    std::map<int, DWORD> shortReads, shortWrites;  // call number -> bytes
    DWORD unbufferedSector = 0;
    bool streamsScripted = false;
    std::vector<FakeStream> streams;
    std::unique_ptr<TempFolder> streamFiles;  // "0", "1", ...: the bytes of each scripted stream
    std::map<HANDLE, size_t> streamListings;  // open scripted listing -> next record
    uintptr_t nextListing = 0x7ff0000;
    std::deque<uint8_t> randomBytes;
    std::vector<OsCallRecord> log;
    std::map<HANDLE, HandleRecord> handles;
    std::map<void*, size_t> allocations;
    std::set<void*> hookedPidls;
    std::vector<std::string> problems;

    // Counts a call; returns the error to fail it with, if a rule says so.
    std::optional<DWORD> Begin(OsFn fn)
    {
        std::lock_guard<std::mutex> lock(mutex);
        int nth = ++calls[static_cast<int>(fn)];
        if (IsReleaseFn(fn))
            return std::nullopt;
        ++injectableCalls;
        for (const Rule& rule : rules) {
            if (rule.anyFn ? injectableCalls == rule.n : (rule.fn == fn && (rule.every || nth == rule.n))) {
                fired = true;
                return rule.error;
            }
        }
        return std::nullopt;
    }

    void Log(const OsCallRecord& record)
    {
        LastErrorKeeper keep;
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(record);
    }

    // Returns the ledger's record of `handle`, or an empty one.
    HandleRecord Handle(HANDLE handle) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = handles.find(handle);
        return it == handles.end() ? HandleRecord() : it->second;
    }

    void AddHandle(HANDLE handle, HandleRecord record)
    {
        LastErrorKeeper keep;
        std::lock_guard<std::mutex> lock(mutex);
        handles[handle] = std::move(record);
    }

    // Takes a handle off the ledger; returns its record, or nothing when it was not open.
    std::optional<HandleRecord> RemoveHandle(HANDLE handle, const char* how)
    {
        LastErrorKeeper keep;
        std::lock_guard<std::mutex> lock(mutex);
        auto it = handles.find(handle);
        if (it == handles.end()) {
            std::ostringstream text;
            text << how << " of a handle that is not open (" << handle << ")";
            problems.push_back(text.str());
            return std::nullopt;
        }
        HandleRecord record = it->second;
        handles.erase(it);
        streamListings.erase(handle);
        return record;
    }

    // Returns `count`, or less when the test shortened the current call of ReadFile or WriteFile.
    DWORD Shortened(OsFn fn, DWORD count) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::map<int, DWORD>& shortened = fn == OsFn::ReadFile ? shortReads : shortWrites;
        auto it = shortened.find(calls[static_cast<int>(fn)]);
        return it == shortened.end() ? count : std::min(it->second, count);
    }
};

namespace {

FakeOs::State* active = nullptr;

FakeOs::State& S() { return *active; }
const OsHooks& Hooks() { return active->owner->hooks; }
const OsCalls& Real() { return RealOsCalls(); }

OsCallRecord Record(OsFn fn, const wchar_t* path = nullptr, int64_t number = 0)
{
    OsCallRecord record{};
    record.fn = fn;
    record.number = number;
    if (path)
        record.path = path;
    return record;
}

// Stands for "no hook" for the functions that tests never replace.
struct NoHook {};

// Runs one call: an injected failure, else the test's hook, else `fallback`.
template <typename R, typename Hook, typename Fallback, typename... A>
R Run(OsFn fn, OsCallRecord& record, R failure, const Hook& hook, Fallback fallback, A... args)
{
    if (std::optional<DWORD> error = S().Begin(fn)) {
        record.injected = true;
        SetLastError(*error);
        return failure;
    }
    if constexpr (!std::is_same_v<Hook, NoHook>) {
        if (hook)
            return hook(args...);
    }
    return fallback(args...);
}

// Runs one call and logs it; returns its result. `ok` tells success from failure.
template <typename R, typename Hook, typename Fallback, typename... A>
R Logged(OsCallRecord record, R failure, const Hook& hook, Fallback fallback, A... args)
{
    R result = Run(record.fn, record, failure, hook, fallback, args...);
    record.ok = result != failure;
    S().Log(record);
    return result;
}

// Logs a release function's call, which is counted but never fails by injection.
void LogRelease(OsCallRecord record, bool ok)
{
    S().Begin(record.fn);
    record.ok = ok;
    S().Log(record);
}

// Returns the ":name" part of a path that names a stream of a file, or "".
std::wstring StreamPart(const std::wstring& path)
{
    size_t start = path.rfind(L'\\');
    start = (start == std::wstring::npos) ? 0 : start + 1;
    if (start == 0 && path.size() >= 2 && path[1] == L':')
        start = 2;
    size_t colon = path.find(L':', start);
    return colon == std::wstring::npos ? std::wstring() : path.substr(colon);
}

// Returns the index of the scripted stream named `name` (":name" or ":name:$DATA"), or -1.
int FindScriptedStream(const std::vector<FakeStream>& streams, const std::wstring& name)
{
    for (size_t i = 0; i < streams.size(); ++i) {
        if (streams[i].record == name || streams[i].record.rfind(name + L":", 0) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templ)
{
    OsCallRecord record = Record(OsFn::CreateFileW, path, flags);
    record.access = access;
    auto fallback = [](LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES se, DWORD d, DWORD f, HANDLE t) {
        if (!S().streamsScripted || !p || StreamPart(p).empty())
            return Real().CreateFileW(p, a, sh, se, d, f, t);
        int index = FindScriptedStream(S().streams, StreamPart(p));
        DWORD error = index < 0 ? ERROR_FILE_NOT_FOUND : S().streams[index].openError;
        if (error) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        std::wstring side = *S().streamFiles / std::to_wstring(index);
        return Real().CreateFileW(side.c_str(), a, sh, se, d, f & ~FILE_FLAG_OPEN_REPARSE_POINT, t);
    };
    HANDLE handle = Run(OsFn::CreateFileW, record, INVALID_HANDLE_VALUE, Hooks().CreateFileW, fallback, path,
                        access, share, security, disposition, flags, templ);
    record.ok = handle != INVALID_HANDLE_VALUE;
    if (record.ok)
        S().AddHandle(handle, {record.path, flags});
    S().Log(record);
    return handle;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle)
{
    OsCallRecord record = Record(OsFn::CloseHandle, S().Handle(handle).path.c_str());
    S().RemoveHandle(handle, "CloseHandle");
    BOOL ok = Real().CloseHandle(handle);
    LogRelease(record, ok);
    return ok;
}

// Logs a read or write with the bytes it moved; returns its result.
template <typename Hook, typename Fallback, typename Buffer>
BOOL Transfer(OsFn fn, const Hook& hook, Fallback fallback, HANDLE h, Buffer b, DWORD n, LPDWORD d, LPOVERLAPPED o)
{
    OsCallRecord record = Record(fn, S().Handle(h).path.c_str(), n);
    if (d)
        *d = 0;
    BOOL ok = Run(fn, record, FALSE, hook, fallback, h, b, n, d, o);
    record.ok = ok;
    record.done = (ok && d) ? *d : 0;
    S().Log(record);
    return ok;
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped)
{
    auto fallback = [](HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) -> BOOL {
        DWORD sector = S().unbufferedSector;
        if (sector && (S().Handle(h).flags & FILE_FLAG_NO_BUFFERING) && n % sector != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return Real().ReadFile(h, b, S().Shortened(OsFn::ReadFile, n), d, o);
    };
    return Transfer(OsFn::ReadFile, Hooks().ReadFile, fallback, handle, buffer, count, done, overlapped);
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped)
{
    auto fallback = [](HANDLE h, LPCVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) -> BOOL {
        return Real().WriteFile(h, b, S().Shortened(OsFn::WriteFile, n), d, o);
    };
    return Transfer(OsFn::WriteFile, Hooks().WriteFile, fallback, handle, buffer, count, done, overlapped);
}

// Wraps a call whose first argument is a handle and whose failure is FALSE.
template <typename Hook, typename RealFn, typename... A>
BOOL HandleCall(OsFn fn, const Hook& hook, RealFn real, HANDLE handle, int64_t number, A... rest)
{
    return Logged(Record(fn, S().Handle(handle).path.c_str(), number), FALSE, hook, real, handle, rest...);
}

BOOL WINAPI FakeFlushFileBuffers(HANDLE h)
{
    return HandleCall(OsFn::FlushFileBuffers, Hooks().FlushFileBuffers, Real().FlushFileBuffers, h, 0);
}

BOOL WINAPI FakeGetFileSizeEx(HANDLE h, PLARGE_INTEGER size)
{
    return HandleCall(OsFn::GetFileSizeEx, Hooks().GetFileSizeEx, Real().GetFileSizeEx, h, 0, size);
}

BOOL WINAPI FakeSetFilePointerEx(HANDLE h, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method)
{
    return HandleCall(OsFn::SetFilePointerEx, Hooks().SetFilePointerEx, Real().SetFilePointerEx, h,
                      distance.QuadPart, distance, position, method);
}

BOOL WINAPI FakeSetEndOfFile(HANDLE h)
{
    return HandleCall(OsFn::SetEndOfFile, Hooks().SetEndOfFile, Real().SetEndOfFile, h, 0);
}

BOOL WINAPI FakeGetFileInformationByHandle(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info)
{
    return HandleCall(OsFn::GetFileInformationByHandle, Hooks().GetFileInformationByHandle,
                      Real().GetFileInformationByHandle, h, 0, info);
}

BOOL WINAPI FakeDeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED overlapped)
{
    return HandleCall(OsFn::DeviceIoControl, Hooks().DeviceIoControl, Real().DeviceIoControl, h, code, code, in,
                      inSize, out, outSize, returned, overlapped);
}

// Wraps a call whose first argument is a path and whose failure is `failure`.
template <typename R, typename Hook, typename RealFn, typename... A>
R PathCall(OsFn fn, R failure, const Hook& hook, RealFn real, LPCWSTR path, A... rest)
{
    return Logged(Record(fn, path), failure, hook, real, path, rest...);
}

DWORD WINAPI FakeGetFileAttributesW(LPCWSTR path)
{
    return PathCall(OsFn::GetFileAttributesW, INVALID_FILE_ATTRIBUTES, Hooks().GetFileAttributesW,
                    Real().GetFileAttributesW, path);
}

BOOL WINAPI FakeSetFileAttributesW(LPCWSTR path, DWORD attributes)
{
    return PathCall(OsFn::SetFileAttributesW, FALSE, Hooks().SetFileAttributesW, Real().SetFileAttributesW, path,
                    attributes);
}

BOOL WINAPI FakeDeleteFileW(LPCWSTR path)
{
    return PathCall(OsFn::DeleteFileW, FALSE, Hooks().DeleteFileW, Real().DeleteFileW, path);
}

BOOL WINAPI FakeRemoveDirectoryW(LPCWSTR path)
{
    return PathCall(OsFn::RemoveDirectoryW, FALSE, Hooks().RemoveDirectoryW, Real().RemoveDirectoryW, path);
}

BOOL WINAPI FakeGetVolumePathNameW(LPCWSTR path, LPWSTR volume, DWORD size)
{
    return PathCall(OsFn::GetVolumePathNameW, FALSE, Hooks().GetVolumePathNameW, Real().GetVolumePathNameW, path,
                    volume, size);
}

BOOL WINAPI FakeGetDiskFreeSpaceW(LPCWSTR path, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                                  LPDWORD freeClusters, LPDWORD totalClusters)
{
    return PathCall(OsFn::GetDiskFreeSpaceW, FALSE, Hooks().GetDiskFreeSpaceW, Real().GetDiskFreeSpaceW, path,
                    sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
}

BOOL WINAPI FakeGetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                    PULARGE_INTEGER free)
{
    return PathCall(OsFn::GetDiskFreeSpaceExW, FALSE, Hooks().GetDiskFreeSpaceExW, Real().GetDiskFreeSpaceExW, path,
                    available, total, free);
}

BOOL WINAPI FakeMoveFileW(LPCWSTR from, LPCWSTR to)
{
    OsCallRecord record = Record(OsFn::MoveFileW, from);
    record.path2 = to ? to : L"";
    return Logged(record, FALSE, Hooks().MoveFileW, Real().MoveFileW, from, to);
}

// Puts a listing handle in the ledger when the call succeeded; returns it.
HANDLE TrackListing(OsCallRecord& record, HANDLE handle, bool scripted)
{
    record.ok = handle != INVALID_HANDLE_VALUE;
    if (record.ok)
        S().AddHandle(handle, {record.path, 0, scripted});
    S().Log(record);
    return handle;
}

HANDLE WINAPI FakeFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    OsCallRecord record = Record(OsFn::FindFirstFileW, pattern);
    HANDLE handle = Run(OsFn::FindFirstFileW, record, INVALID_HANDLE_VALUE, Hooks().FindFirstFileW,
                        Real().FindFirstFileW, pattern, data);
    return TrackListing(record, handle, false);
}

BOOL WINAPI FakeFindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data)
{
    return HandleCall(OsFn::FindNextFileW, Hooks().FindNextFileW, Real().FindNextFileW, handle, 0, data);
}

// Fills `data` with the next record of a scripted listing; returns false,
// with ERROR_HANDLE_EOF, after the last.
bool NextScriptedStream(HANDLE listing, LPVOID data)
{
    FakeOs::State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    size_t& next = s.streamListings[listing];
    if (next >= s.streams.size()) {
        SetLastError(ERROR_HANDLE_EOF);
        return false;
    }
    const FakeStream& stream = s.streams[next++];
    auto* record = static_cast<WIN32_FIND_STREAM_DATA*>(data);
    ZeroMemory(record, sizeof(*record));
    record->StreamSize.QuadPart = static_cast<LONGLONG>(stream.contents.size());
    wcsncpy_s(record->cStreamName, stream.record.c_str(), _TRUNCATE);
    return true;
}

HANDLE WINAPI FakeFindFirstStreamW(LPCWSTR path, STREAM_INFO_LEVELS level, LPVOID data, DWORD flags)
{
    OsCallRecord record = Record(OsFn::FindFirstStreamW, path);
    auto fallback = [](LPCWSTR p, STREAM_INFO_LEVELS l, LPVOID d, DWORD f) -> HANDLE {
        if (!S().streamsScripted)
            return Real().FindFirstStreamW(p, l, d, f);
        HANDLE listing;
        {
            std::lock_guard<std::mutex> lock(S().mutex);
            listing = reinterpret_cast<HANDLE>(S().nextListing += 16);
        }
        if (NextScriptedStream(listing, d))
            return listing;
        std::lock_guard<std::mutex> lock(S().mutex);
        S().streamListings.erase(listing);
        return INVALID_HANDLE_VALUE;
    };
    HANDLE handle = Run(OsFn::FindFirstStreamW, record, INVALID_HANDLE_VALUE, NoHook(), fallback, path, level, data,
                        flags);
    return TrackListing(record, handle, S().streamsScripted);
}

BOOL WINAPI FakeFindNextStreamW(HANDLE handle, LPVOID data)
{
    auto fallback = [](HANDLE h, LPVOID d) -> BOOL {
        return S().streamsScripted ? NextScriptedStream(h, d) : Real().FindNextStreamW(h, d);
    };
    return HandleCall(OsFn::FindNextStreamW, NoHook(), fallback, handle, 0, data);
}

BOOL WINAPI FakeFindClose(HANDLE handle)
{
    OsCallRecord record = Record(OsFn::FindClose, S().Handle(handle).path.c_str());
    std::optional<HandleRecord> listing = S().RemoveHandle(handle, "FindClose");
    BOOL ok = (listing && listing->streamListing) ? TRUE : Real().FindClose(handle);
    LogRelease(record, ok);
    return ok;
}

NTSTATUS WINAPI FakeBCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG count, ULONG flags)
{
    auto fallback = [](BCRYPT_ALG_HANDLE a, PUCHAR b, ULONG n, ULONG f) -> NTSTATUS {
        ULONG taken = 0;
        {
            std::lock_guard<std::mutex> lock(S().mutex);
            for (auto& queue = S().randomBytes; taken < n && !queue.empty(); ++taken) {
                b[taken] = queue.front();
                queue.pop_front();
            }
        }
        return taken == n ? 0 : Real().BCryptGenRandom(a, b + taken, n - taken, f);
    };
    NTSTATUS failure = static_cast<NTSTATUS>(0xC0000001L);
    OsCallRecord record = Record(OsFn::BCryptGenRandom, nullptr, count);
    NTSTATUS status = Run(OsFn::BCryptGenRandom, record, failure, Hooks().BCryptGenRandom, fallback, algorithm,
                          buffer, count, flags);
    record.ok = status == 0;
    S().Log(record);
    return status;
}

// Enters a block in the ledger of allocations; `hooked` marks one a test's hook made.
void AddAllocation(void* block, size_t size, bool hooked = false)
{
    std::lock_guard<std::mutex> lock(S().mutex);
    S().allocations[block] = size;
    if (hooked)
        S().hookedPidls.insert(block);
}

void* __cdecl FakeAlignedAlloc(size_t size, size_t alignment)
{
    void* block = Logged(Record(OsFn::AlignedAlloc, nullptr, static_cast<int64_t>(size)), static_cast<void*>(nullptr),
                         Hooks().AlignedAlloc, Real().AlignedAlloc, size, alignment);
    if (block)
        AddAllocation(block, size);
    return block;
}

void __cdecl FakeAlignedFree(void* block)
{
    if (block) {
        std::lock_guard<std::mutex> lock(S().mutex);
        if (S().allocations.erase(block) == 0)
            S().problems.push_back("AlignedFree of a block that is not allocated");
    }
    Real().AlignedFree(block);
    LogRelease(Record(OsFn::AlignedFree), true);
}

int WINAPI FakeMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    OsCallRecord record = Record(OsFn::MessageBoxW, text, style);
    record.path2 = caption ? caption : L"";
    return Logged(record, 0, Hooks().MessageBoxW, Real().MessageBoxW, owner, text, caption, style);
}

PIDLIST_ABSOLUTE WINAPI FakeSHBrowseForFolderW(LPBROWSEINFOW info)
{
    bool hooked = static_cast<bool>(Hooks().SHBrowseForFolderW);
    PIDLIST_ABSOLUTE item = Logged(Record(OsFn::SHBrowseForFolderW, info ? info->lpszTitle : nullptr),
                                   static_cast<PIDLIST_ABSOLUTE>(nullptr), Hooks().SHBrowseForFolderW,
                                   Real().SHBrowseForFolderW, info);
    if (item)
        AddAllocation(item, 0, hooked);
    return item;
}

BOOL WINAPI FakeSHGetPathFromIDListW(PCIDLIST_ABSOLUTE item, LPWSTR path)
{
    OsCallRecord record = Record(OsFn::SHGetPathFromIDListW);
    BOOL ok = Run(OsFn::SHGetPathFromIDListW, record, FALSE, Hooks().SHGetPathFromIDListW,
                  Real().SHGetPathFromIDListW, item, path);
    record.ok = ok;
    if (ok && path)
        record.path = path;
    S().Log(record);
    return ok;
}

// A block that a hooked folder browser handed out belongs to the test, so it is
// only taken off the ledger here, never given to the real allocator.
void WINAPI FakeCoTaskMemFree(LPVOID block)
{
    bool hooked = false;
    if (block) {
        std::lock_guard<std::mutex> lock(S().mutex);
        S().allocations.erase(block);
        hooked = S().hookedPidls.erase(block) != 0;
    }
    if (!hooked)
        Real().CoTaskMemFree(block);
    LogRelease(Record(OsFn::CoTaskMemFree), true);
}

HINSTANCE WINAPI FakeShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                   INT show)
{
    OsCallRecord record = Record(OsFn::ShellExecuteW, file, show);
    record.path2 = verb ? verb : L"";
    HINSTANCE result = Run(OsFn::ShellExecuteW, record, reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC),
                           Hooks().ShellExecuteW, Real().ShellExecuteW, owner, verb, file, parameters, directory, show);
    record.ok = reinterpret_cast<INT_PTR>(result) > 32;
    S().Log(record);
    return result;
}

bool FakeStartThread(std::function<void()> body, std::thread* thread)
{
    return Logged(Record(OsFn::StartThread), false, Hooks().StartThread, Real().StartThread, std::move(body), thread);
}

const OsCalls fakeCalls = {
    FakeCreateFileW, FakeCloseHandle, FakeReadFile, FakeWriteFile, FakeFlushFileBuffers, FakeGetFileSizeEx,
    FakeSetFilePointerEx, FakeSetEndOfFile, FakeGetFileInformationByHandle, FakeDeviceIoControl,
    FakeGetFileAttributesW, FakeSetFileAttributesW, FakeDeleteFileW, FakeMoveFileW, FakeRemoveDirectoryW,
    FakeFindFirstFileW, FakeFindNextFileW, FakeFindFirstStreamW, FakeFindNextStreamW, FakeFindClose,
    FakeGetVolumePathNameW, FakeGetDiskFreeSpaceW, FakeGetDiskFreeSpaceExW, FakeBCryptGenRandom,
    FakeAlignedAlloc, FakeAlignedFree, FakeMessageBoxW, FakeSHBrowseForFolderW, FakeSHGetPathFromIDListW,
    FakeCoTaskMemFree, FakeShellExecuteW, FakeStartThread,
};

}  // namespace

const char* OsFnName(OsFn fn)
{
    return kFnNames[static_cast<int>(fn)];
}

bool IsReleaseFn(OsFn fn)
{
    return fn == OsFn::CloseHandle || fn == OsFn::FindClose || fn == OsFn::AlignedFree || fn == OsFn::CoTaskMemFree;
}

FakeOs::FakeOs() : state_(new State)
{
    state_->owner = this;
    active = state_;
    os = fakeCalls;
}

FakeOs::~FakeOs()
{
    os = RealOsCalls();
    active = nullptr;
    delete state_;
}

void FakeOs::FailNthCall(OsFn fn, int n, DWORD error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rules.push_back({fn, false, false, n, error});
}

void FakeOs::FailEveryCall(OsFn fn, DWORD error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rules.push_back({fn, false, true, 0, error});
}

void FakeOs::FailNthCallOfAny(int n, DWORD error)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rules.push_back({OsFn::Count, true, false, n, error});
}

bool FakeOs::InjectionFired() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->fired;
}

void FakeOs::ShortenNthRead(int n, DWORD bytes)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->shortReads[n] = bytes;
}

void FakeOs::ShortenNthWrite(int n, DWORD bytes)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->shortWrites[n] = bytes;
}

void FakeOs::EmulateUnbufferedReads(DWORD sectorSize)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->unbufferedSector = sectorSize;
}

void FakeOs::ScriptStreams(std::vector<FakeStream> streams)
{
    auto files = std::make_unique<TempFolder>();
    for (size_t i = 0; i < streams.size(); ++i)
        files->File(std::to_wstring(i), streams[i].contents);
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->streamFiles = std::move(files);
    state_->streams = std::move(streams);
    state_->streamsScripted = true;
}

std::vector<uint8_t> FakeOs::StreamContents(const std::wstring& name) const
{
    int index = FindScriptedStream(state_->streams, name);
    return index < 0 ? std::vector<uint8_t>() : ReadAll(*state_->streamFiles / std::to_wstring(index));
}

void FakeOs::ScriptRandom(std::vector<uint8_t> bytes)
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->randomBytes.insert(state_->randomBytes.end(), bytes.begin(), bytes.end());
}

int FakeOs::Calls(OsFn fn) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->calls[static_cast<int>(fn)];
}

int FakeOs::InjectableCalls() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->injectableCalls;
}

std::vector<OsCallRecord> FakeOs::CallLog() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->log;
}

std::vector<OsCallRecord> FakeOs::CallsOf(OsFn fn) const
{
    std::vector<OsCallRecord> calls;
    for (const OsCallRecord& record : CallLog())
        if (record.fn == fn)
            calls.push_back(record);
    return calls;
}

std::set<std::wstring> FakeOs::WrittenPaths() const
{
    std::set<std::wstring> paths;
    for (const OsCallRecord& record : CallsOf(OsFn::WriteFile))
        if (record.ok && record.done > 0)
            paths.insert(record.path);
    return paths;
}

int FakeOs::OpenHandleCount() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(state_->handles.size());
}

int FakeOs::LiveAllocationCount() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<int>(state_->allocations.size());
}

std::string FakeOs::LedgerProblems() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::ostringstream text;
    for (const std::string& problem : state_->problems)
        text << problem << "; ";
    for (const auto& [handle, record] : state_->handles) {
        text << "handle still open: ";
        for (wchar_t c : record.path)
            text << (c < 128 ? static_cast<char>(c) : '?');
        text << "; ";
    }
    if (!state_->allocations.empty())
        text << state_->allocations.size() << " allocation(s) not released; ";
    return text.str();
}
