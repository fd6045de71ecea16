#include "tests/support/fake_os.h"

#include <deque>
#include <map>
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

enum class HandleKind { File, FindFile, FindStream, FakeStreamFind };

struct HandleRecord {
    std::wstring path;
    DWORD flags = 0;
    HandleKind kind = HandleKind::File;
    size_t nextStream = 0;  // for scripted stream listings
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
    std::map<int, DWORD> shortReads;
    std::map<int, DWORD> shortWrites;
    DWORD unbufferedSector = 0;
    bool streamsScripted = false;
    std::vector<FakeStream> streams;
    std::vector<std::wstring> streamFiles;
    std::wstring streamDir;
    std::deque<uint8_t> randomBytes;
    std::vector<OsCallRecord> log;
    std::map<HANDLE, HandleRecord> handles;
    std::map<void*, size_t> allocations;
    std::set<void*> hookedPidls;
    std::vector<std::string> problems;
    uintptr_t nextFakeHandle = 0x7ff0000;

    // Counts a call; returns its number for its function and the error to fail it with, if any.
    std::pair<int, std::optional<DWORD>> Begin(OsFn fn)
    {
        std::lock_guard<std::mutex> lock(mutex);
        int nth = ++calls[static_cast<int>(fn)];
        bool release = IsReleaseFn(fn);
        if (!release)
            ++injectableCalls;
        for (const Rule& rule : rules) {
            bool hit = rule.anyFn ? (!release && injectableCalls == rule.n)
                                  : (rule.fn == fn && !release && (rule.every || nth == rule.n));
            if (hit) {
                fired = true;
                return {nth, rule.error};
            }
        }
        return {nth, std::nullopt};
    }

    void Log(const OsCallRecord& record)
    {
        LastErrorKeeper keep;
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(record);
    }

    std::wstring PathOf(HANDLE handle) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = handles.find(handle);
        return it == handles.end() ? std::wstring() : it->second.path;
    }

    DWORD FlagsOf(HANDLE handle) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = handles.find(handle);
        return it == handles.end() ? 0 : it->second.flags;
    }

    void AddHandle(HANDLE handle, HandleRecord record)
    {
        LastErrorKeeper keep;
        std::lock_guard<std::mutex> lock(mutex);
        handles[handle] = std::move(record);
    }

    // Removes a handle from the ledger; returns its record, or nothing when it was not open.
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
        return record;
    }
};

namespace {

FakeOs::State* active = nullptr;

FakeOs::State& S() { return *active; }
const OsHooks& Hooks() { return active->owner->hooks; }
const OsCalls& Real() { return RealOsCalls(); }

OsCallRecord Record(OsFn fn, const wchar_t* path = nullptr)
{
    OsCallRecord record{};
    record.fn = fn;
    if (path)
        record.path = path;
    return record;
}

OsCallRecord Record(OsFn fn, HANDLE handle)
{
    return Record(fn, S().PathOf(handle).c_str());
}

// Stands for "no hook" for the functions that tests never replace.
struct NoHook {};

// Runs one call: an injected failure, else the test's hook, else `fallback`.
template <typename R, typename Hook, typename Fallback, typename... A>
R Run(OsFn fn, OsCallRecord& record, R failure, const Hook& hook, Fallback fallback, A... args)
{
    auto [nth, error] = S().Begin(fn);
    (void)nth;
    if (error) {
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

// Returns the index of the scripted stream named by `part` (":name" or ":name:$DATA"), or -1.
int FindScriptedStream(const std::wstring& part)
{
    const auto& streams = S().streams;
    for (size_t i = 0; i < streams.size(); ++i) {
        const std::wstring& record = streams[i].record;
        if (record == part || record.rfind(part + L":", 0) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

HANDLE OpenScriptedStream(const std::wstring& path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templ)
{
    int index = FindScriptedStream(StreamPart(path));
    if (index < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD error = S().streams[index].openError) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return Real().CreateFileW(S().streamFiles[index].c_str(), access, share, security, disposition,
                              flags & ~FILE_FLAG_OPEN_REPARSE_POINT, templ);
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templ)
{
    OsCallRecord record = Record(OsFn::CreateFileW, path);
    record.number = flags;
    record.access = access;
    auto fallback = [](LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES se, DWORD d, DWORD f, HANDLE t) {
        if (S().streamsScripted && p && !StreamPart(p).empty())
            return OpenScriptedStream(p, a, sh, se, d, f, t);
        return Real().CreateFileW(p, a, sh, se, d, f, t);
    };
    HANDLE handle = Run(OsFn::CreateFileW, record, INVALID_HANDLE_VALUE, Hooks().CreateFileW, fallback, path,
                        access, share, security, disposition, flags, templ);
    record.ok = handle != INVALID_HANDLE_VALUE;
    if (record.ok)
        S().AddHandle(handle, {record.path, flags, HandleKind::File, 0});
    S().Log(record);
    return handle;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle)
{
    OsCallRecord record = Record(OsFn::CloseHandle, handle);
    S().Begin(OsFn::CloseHandle);
    S().RemoveHandle(handle, "CloseHandle");
    record.ok = Real().CloseHandle(handle);
    S().Log(record);
    return record.ok;
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped)
{
    OsCallRecord record = Record(OsFn::ReadFile, handle);
    record.number = count;
    auto fallback = [](HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) -> BOOL {
        FakeOs::State& s = S();
        int nth;
        DWORD sector;
        std::optional<DWORD> shortTo;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            nth = s.calls[static_cast<int>(OsFn::ReadFile)];
            sector = s.unbufferedSector;
            auto it = s.shortReads.find(nth);
            if (it != s.shortReads.end())
                shortTo = it->second;
        }
        if (sector && (s.FlagsOf(h) & FILE_FLAG_NO_BUFFERING) && n % sector != 0) {
            if (d)
                *d = 0;
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return Real().ReadFile(h, b, shortTo ? std::min(*shortTo, n) : n, d, o);
    };
    BOOL ok = Run(OsFn::ReadFile, record, FALSE, Hooks().ReadFile, fallback, handle, buffer, count, done, overlapped);
    record.ok = ok;
    record.done = (ok && done) ? *done : 0;
    S().Log(record);
    return ok;
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped)
{
    OsCallRecord record = Record(OsFn::WriteFile, handle);
    record.number = count;
    auto fallback = [](HANDLE h, LPCVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) -> BOOL {
        FakeOs::State& s = S();
        std::optional<DWORD> shortTo;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            auto it = s.shortWrites.find(s.calls[static_cast<int>(OsFn::WriteFile)]);
            if (it != s.shortWrites.end())
                shortTo = it->second;
        }
        return Real().WriteFile(h, b, shortTo ? std::min(*shortTo, n) : n, d, o);
    };
    if (done)
        *done = 0;
    BOOL ok = Run(OsFn::WriteFile, record, FALSE, Hooks().WriteFile, fallback, handle, buffer, count, done, overlapped);
    record.ok = ok;
    record.done = (ok && done) ? *done : 0;
    S().Log(record);
    return ok;
}

// Wraps a call whose only interesting argument is a handle and whose failure is FALSE.
template <typename Hook, typename RealFn, typename... A>
BOOL HandleCall(OsFn fn, const Hook& hook, RealFn real, HANDLE handle, int64_t number, A... rest)
{
    OsCallRecord record = Record(fn, handle);
    record.number = number;
    BOOL ok = Run(fn, record, FALSE, hook, real, handle, rest...);
    record.ok = ok;
    S().Log(record);
    return ok;
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
    OsCallRecord record = Record(fn, path);
    R result = Run(fn, record, failure, hook, real, path, rest...);
    record.ok = result != failure;
    S().Log(record);
    return result;
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
    if (to)
        record.path2 = to;
    BOOL ok = Run(OsFn::MoveFileW, record, FALSE, Hooks().MoveFileW, Real().MoveFileW, from, to);
    record.ok = ok;
    S().Log(record);
    return ok;
}

// Records a successful listing handle in the ledger.
HANDLE TrackFind(OsCallRecord& record, HANDLE handle, HandleKind kind)
{
    record.ok = handle != INVALID_HANDLE_VALUE;
    if (record.ok)
        S().AddHandle(handle, {record.path, 0, kind, 0});
    S().Log(record);
    return handle;
}

HANDLE WINAPI FakeFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    OsCallRecord record = Record(OsFn::FindFirstFileW, pattern);
    HANDLE handle = Run(OsFn::FindFirstFileW, record, INVALID_HANDLE_VALUE, Hooks().FindFirstFileW,
                        Real().FindFirstFileW, pattern, data);
    return TrackFind(record, handle, HandleKind::FindFile);
}

BOOL WINAPI FakeFindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data)
{
    return HandleCall(OsFn::FindNextFileW, Hooks().FindNextFileW, Real().FindNextFileW, handle, 0, data);
}

// Fills a stream record from the script; returns false at the end of the list.
bool NextScriptedStream(HANDLE handle, WIN32_FIND_STREAM_DATA* data)
{
    FakeOs::State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    HandleRecord& listing = s.handles[handle];
    if (listing.nextStream >= s.streams.size())
        return false;
    const FakeStream& stream = s.streams[listing.nextStream++];
    ZeroMemory(data, sizeof(*data));
    data->StreamSize.QuadPart = static_cast<LONGLONG>(stream.contents.size());
    wcsncpy_s(data->cStreamName, stream.record.c_str(), _TRUNCATE);
    return true;
}

HANDLE WINAPI FakeFindFirstStreamW(LPCWSTR path, STREAM_INFO_LEVELS level, LPVOID data, DWORD flags)
{
    OsCallRecord record = Record(OsFn::FindFirstStreamW, path);
    auto fallback = [](LPCWSTR p, STREAM_INFO_LEVELS l, LPVOID d, DWORD f) -> HANDLE {
        if (!S().streamsScripted)
            return Real().FindFirstStreamW(p, l, d, f);
        HANDLE fake;
        {
            std::lock_guard<std::mutex> lock(S().mutex);
            fake = reinterpret_cast<HANDLE>(S().nextFakeHandle += 16);
            S().handles[fake] = {p ? p : L"", 0, HandleKind::FakeStreamFind, 0};
        }
        if (!NextScriptedStream(fake, static_cast<WIN32_FIND_STREAM_DATA*>(d))) {
            std::lock_guard<std::mutex> lock(S().mutex);
            S().handles.erase(fake);
            SetLastError(ERROR_HANDLE_EOF);
            return INVALID_HANDLE_VALUE;
        }
        return fake;
    };
    HANDLE handle = Run(OsFn::FindFirstStreamW, record, INVALID_HANDLE_VALUE, NoHook(), fallback,
                        path, level, data, flags);
    bool scripted = S().streamsScripted;
    if (scripted) {  // the fallback already entered it in the ledger
        record.ok = handle != INVALID_HANDLE_VALUE;
        S().Log(record);
        return handle;
    }
    return TrackFind(record, handle, HandleKind::FindStream);
}

BOOL WINAPI FakeFindNextStreamW(HANDLE handle, LPVOID data)
{
    auto fallback = [](HANDLE h, LPVOID d) -> BOOL {
        if (!S().streamsScripted)
            return Real().FindNextStreamW(h, d);
        if (NextScriptedStream(h, static_cast<WIN32_FIND_STREAM_DATA*>(d)))
            return TRUE;
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    };
    return HandleCall(OsFn::FindNextStreamW, NoHook(), fallback, handle, 0, data);
}

BOOL WINAPI FakeFindClose(HANDLE handle)
{
    OsCallRecord record = Record(OsFn::FindClose, handle);
    S().Begin(OsFn::FindClose);
    std::optional<HandleRecord> listing = S().RemoveHandle(handle, "FindClose");
    record.ok = (listing && listing->kind == HandleKind::FakeStreamFind) ? TRUE : Real().FindClose(handle);
    S().Log(record);
    return record.ok;
}

NTSTATUS WINAPI FakeBCryptGenRandom(BCRYPT_ALG_HANDLE algorithm, PUCHAR buffer, ULONG count, ULONG flags)
{
    OsCallRecord record = Record(OsFn::BCryptGenRandom);
    record.number = count;
    auto fallback = [](BCRYPT_ALG_HANDLE a, PUCHAR b, ULONG n, ULONG f) -> NTSTATUS {
        ULONG taken = 0;
        {
            std::lock_guard<std::mutex> lock(S().mutex);
            auto& queue = S().randomBytes;
            for (; taken < n && !queue.empty(); ++taken) {
                b[taken] = queue.front();
                queue.pop_front();
            }
        }
        return taken == n ? 0 : Real().BCryptGenRandom(a, b + taken, n - taken, f);
    };
    NTSTATUS status = Run(OsFn::BCryptGenRandom, record, static_cast<NTSTATUS>(0xC0000001L),
                          Hooks().BCryptGenRandom, fallback, algorithm, buffer, count, flags);
    record.ok = status == 0;
    S().Log(record);
    return status;
}

void* __cdecl FakeAlignedAlloc(size_t size, size_t alignment)
{
    OsCallRecord record = Record(OsFn::AlignedAlloc);
    record.number = static_cast<int64_t>(size);
    void* block = Run(OsFn::AlignedAlloc, record, static_cast<void*>(nullptr), Hooks().AlignedAlloc,
                      Real().AlignedAlloc, size, alignment);
    record.ok = block != nullptr;
    if (block) {
        std::lock_guard<std::mutex> lock(S().mutex);
        S().allocations[block] = size;
    }
    S().Log(record);
    return block;
}

void __cdecl FakeAlignedFree(void* block)
{
    OsCallRecord record = Record(OsFn::AlignedFree);
    S().Begin(OsFn::AlignedFree);
    if (block) {
        std::lock_guard<std::mutex> lock(S().mutex);
        if (S().allocations.erase(block) == 0)
            S().problems.push_back("AlignedFree of a block that is not allocated");
    }
    Real().AlignedFree(block);
    S().Log(record);
}

int WINAPI FakeMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    OsCallRecord record = Record(OsFn::MessageBoxW, text);
    if (caption)
        record.path2 = caption;
    record.number = style;
    int answer = Run(OsFn::MessageBoxW, record, 0, Hooks().MessageBoxW, Real().MessageBoxW, owner, text, caption, style);
    record.ok = answer != 0;
    S().Log(record);
    return answer;
}

PIDLIST_ABSOLUTE WINAPI FakeSHBrowseForFolderW(LPBROWSEINFOW info)
{
    OsCallRecord record = Record(OsFn::SHBrowseForFolderW, info ? info->lpszTitle : nullptr);
    bool hooked = static_cast<bool>(Hooks().SHBrowseForFolderW);
    PIDLIST_ABSOLUTE item = Run(OsFn::SHBrowseForFolderW, record, static_cast<PIDLIST_ABSOLUTE>(nullptr),
                                Hooks().SHBrowseForFolderW, Real().SHBrowseForFolderW, info);
    record.ok = item != nullptr;
    if (item) {
        std::lock_guard<std::mutex> lock(S().mutex);
        S().allocations[item] = 0;
        if (hooked)
            S().hookedPidls.insert(item);
    }
    S().Log(record);
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
    OsCallRecord record = Record(OsFn::CoTaskMemFree);
    S().Begin(OsFn::CoTaskMemFree);
    bool hooked = false;
    if (block) {
        std::lock_guard<std::mutex> lock(S().mutex);
        S().allocations.erase(block);
        hooked = S().hookedPidls.erase(block) != 0;
    }
    if (!hooked)
        Real().CoTaskMemFree(block);
    S().Log(record);
}

HINSTANCE WINAPI FakeShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                   INT show)
{
    OsCallRecord record = Record(OsFn::ShellExecuteW, file);
    if (verb)
        record.path2 = verb;
    record.number = show;
    HINSTANCE result = Run(OsFn::ShellExecuteW, record, reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC),
                           Hooks().ShellExecuteW, Real().ShellExecuteW, owner, verb, file, parameters, directory, show);
    record.ok = reinterpret_cast<INT_PTR>(result) > 32;
    S().Log(record);
    return result;
}

bool FakeStartThread(std::function<void()> body, std::thread* thread)
{
    OsCallRecord record = Record(OsFn::StartThread);
    bool started = Run(OsFn::StartThread, record, false, Hooks().StartThread, Real().StartThread, std::move(body),
                       thread);
    record.ok = started;
    S().Log(record);
    return started;
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

void RemoveStreamFiles(FakeOs::State& s)
{
    for (const std::wstring& file : s.streamFiles)
        ::DeleteFileW(file.c_str());
    if (!s.streamDir.empty())
        ::RemoveDirectoryW(s.streamDir.c_str());
    s.streamFiles.clear();
    s.streamDir.clear();
}

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
    RemoveStreamFiles(*state_);
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
    RemoveStreamFiles(*state_);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    state_->streamDir = std::wstring(temp) + L"fake-streams-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++counter);
    ::CreateDirectoryW(state_->streamDir.c_str(), nullptr);
    for (size_t i = 0; i < streams.size(); ++i) {
        std::wstring file = state_->streamDir + L"\\stream" + std::to_wstring(i) + L".bin";
        HANDLE handle = Real().CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (!streams[i].contents.empty())
            Real().WriteFile(handle, streams[i].contents.data(), static_cast<DWORD>(streams[i].contents.size()),
                             &written, nullptr);
        Real().CloseHandle(handle);
        state_->streamFiles.push_back(file);
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->streams = std::move(streams);
    state_->streamsScripted = true;
}

std::vector<uint8_t> FakeOs::StreamContents(const std::wstring& name) const
{
    for (size_t i = 0; i < state_->streams.size(); ++i) {
        const std::wstring& record = state_->streams[i].record;
        if (record != name && record.rfind(name + L":", 0) != 0)
            continue;
        std::vector<uint8_t> bytes;
        HANDLE handle = Real().CreateFileW(state_->streamFiles[i].c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER size = {};
        Real().GetFileSizeEx(handle, &size);
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty())
            Real().ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        Real().CloseHandle(handle);
        bytes.resize(got);
        return bytes;
    }
    return {};
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
