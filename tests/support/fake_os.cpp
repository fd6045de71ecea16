#include "tests/support/fake_os.h"

#include "tests/support/temp_folder.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <tuple>
#include <type_traits>

namespace {

#define TARNWICK_FN_NAME(name) #name,
const char* const kFnNames[] = {TARNWICK_OS_FNS(TARNWICK_FN_NAME, TARNWICK_FN_NAME)};

// What the ledger knows of an open handle; a scripted stream listing has no real handle behind it.
struct HandleRecord {
    std::wstring path;
    DWORD flags = 0;  // CreateFileW flags
    bool streamListing = false;
    size_t nextStream = 1;
};

struct Rule {
    OsFn fn;  // Count: the Nth call of any injectable function
    int n;    // 0: every call
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
    uintptr_t nextListing = 0x7ff0000;
    std::deque<uint8_t> randomBytes;
    std::vector<OsCallRecord> log;
    std::map<HANDLE, HandleRecord> handles;
    std::map<void*, bool> allocations;  // live block -> handed out by a test's hook
    std::vector<std::string> problems;
};

namespace {

FakeOs::State* active = nullptr;
FakeOs::State& S() { return *active; }
const OsCalls& Real() { return RealOsCalls(); }

// Runs `f` under the fake's lock; returns what it returns.
template <typename F> auto Locked(const FakeOs::State& s, F f)
{
    std::lock_guard<std::mutex> lock(s.mutex);
    return f();
}

// Counts a call; returns the error to fail it with, if a rule says so.
std::optional<DWORD> Begin(OsFn fn)
{
    std::lock_guard<std::mutex> lock(S().mutex);
    int nth = ++S().calls[static_cast<int>(fn)];
    if (IsReleaseFn(fn))
        return std::nullopt;
    int any = ++S().injectableCalls;
    for (const Rule& rule : S().rules)
        if (rule.fn == OsFn::Count ? any == rule.n : (rule.fn == fn && (rule.n == 0 || nth == rule.n)))
            return S().fired = true, rule.error;
    return std::nullopt;
}

void Log(const OsCallRecord& record) { Locked(S(), [&] { S().log.push_back(record); }); }

// Returns the ledger's record of `handle`, or an empty one.
HandleRecord HandleOf(HANDLE handle)
{
    return Locked(S(), [&] {
        auto it = S().handles.find(handle);
        return it == S().handles.end() ? HandleRecord() : it->second;
    });
}

// Takes `key` off a ledger map (a handle before it is closed, as its value may be reused at once);
// returns what the map held, or a default one, noted as a problem when `how` names the call.
template <typename Map> typename Map::mapped_type Forget(Map& map, void* key, const char* how)
{
    std::lock_guard<std::mutex> lock(S().mutex);
    auto it = map.find(key);
    if (it == map.end()) {
        if (how)
            S().problems.push_back(std::string(how) + " of a handle or block that is not open");
        return {};
    }
    auto value = it->second;
    map.erase(it);
    return value;
}

// Returns the ":name" part of a path that names a stream of a file, or "".
std::wstring StreamPart(const std::wstring& path)
{
    size_t slash = path.rfind(L'\\');
    size_t colon = path.find(L':', slash != std::wstring::npos ? slash + 1 : path.size() > 1 && path[1] == L':' ? 2 : 0);
    return colon == std::wstring::npos ? std::wstring() : path.substr(colon);
}

// Returns the index of the scripted stream named `name` (":name" or ":name:$DATA"), or -1.
int FindScriptedStream(const std::vector<FakeStream>& streams, const std::wstring& name)
{
    for (size_t i = 0; i < streams.size(); ++i)
        if (streams[i].record == name || streams[i].record.rfind(name + L":", 0) == 0)
            return static_cast<int>(i);
    return -1;
}

// Opens a file, or the side file that stands for a scripted stream; returns the handle.
HANDLE OpenFile(LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES se, DWORD d, DWORD f, HANDLE t)
{
    if (!S().streamsScripted || !p || StreamPart(p).empty())
        return Real().CreateFileW(p, a, sh, se, d, f, t);
    int index = FindScriptedStream(S().streams, StreamPart(p));
    DWORD error = index < 0 ? ERROR_FILE_NOT_FOUND : S().streams[index].openError;
    if (error)
        return SetLastError(error), INVALID_HANDLE_VALUE;
    std::wstring side = *S().streamFiles / std::to_wstring(index);
    return Real().CreateFileW(side.c_str(), a, sh, se, d, f & ~FILE_FLAG_OPEN_REPARSE_POINT, t);
}

// Returns `count`, or less when the test shortened the current call of ReadFile or WriteFile.
DWORD Shortened(OsFn fn, DWORD count)
{
    return Locked(S(), [&] {
        const std::map<int, DWORD>& shortened = fn == OsFn::ReadFile ? S().shortReads : S().shortWrites;
        auto it = shortened.find(S().calls[static_cast<int>(fn)]);
        return it == shortened.end() ? count : std::min(it->second, count);
    });
}

BOOL ReadSome(HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o)
{
    DWORD sector = S().unbufferedSector;
    if (sector && (HandleOf(h).flags & FILE_FLAG_NO_BUFFERING) && n % sector != 0)
        return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    return Real().ReadFile(h, b, Shortened(OsFn::ReadFile, n), d, o);
}

BOOL WriteSome(HANDLE h, LPCVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) { return Real().WriteFile(h, b, Shortened(OsFn::WriteFile, n), d, o); }

// Fills `data` with scripted stream record `index`; returns false, with ERROR_HANDLE_EOF, past the last.
BOOL FillStream(size_t index, LPVOID data)
{
    if (index >= S().streams.size())
        return SetLastError(ERROR_HANDLE_EOF), FALSE;
    auto* record = static_cast<WIN32_FIND_STREAM_DATA*>(data);
    ZeroMemory(record, sizeof(*record));
    record->StreamSize.QuadPart = static_cast<LONGLONG>(S().streams[index].contents.size());
    wcsncpy_s(record->cStreamName, S().streams[index].record.c_str(), _TRUNCATE);
    return TRUE;
}

HANDLE FirstStream(LPCWSTR p, STREAM_INFO_LEVELS l, LPVOID d, DWORD f)
{
    if (!S().streamsScripted)
        return Real().FindFirstStreamW(p, l, d, f);
    if (!FillStream(0, d))
        return INVALID_HANDLE_VALUE;
    return Locked(S(), [] { return reinterpret_cast<HANDLE>(S().nextListing += 16); });
}

BOOL NextStream(HANDLE h, LPVOID d)
{
    if (!S().streamsScripted)
        return Real().FindNextStreamW(h, d);
    return FillStream(Locked(S(), [&] { return S().handles[h].nextStream++; }), d);
}

BOOL CloseFile(HANDLE h)
{
    Forget(S().handles, h, "CloseHandle");
    return Real().CloseHandle(h);
}

BOOL CloseListing(HANDLE h) { return Forget(S().handles, h, "FindClose").streamListing ? TRUE : Real().FindClose(h); }

// Hands out the scripted random bytes first, then real ones; returns the status.
NTSTATUS TakeRandom(BCRYPT_ALG_HANDLE a, PUCHAR b, ULONG n, ULONG f)
{
    ULONG taken = Locked(S(), [&] {
        ULONG count = 0;
        for (auto& queue = S().randomBytes; count < n && !queue.empty(); queue.pop_front())
            b[count++] = queue.front();
        return count;
    });
    return taken == n ? 0 : Real().BCryptGenRandom(a, b + taken, n - taken, f);
}

const wchar_t* Text(const wchar_t* text) { return text ? text : L""; }

// Returns what the function returns when it fails.
template <OsFn F, typename R> R Failure()
{
    if constexpr (std::is_same_v<R, HANDLE> && F != OsFn::AlignedAlloc)
        return INVALID_HANDLE_VALUE;
    else if constexpr (std::is_same_v<R, DWORD>)
        return INVALID_FILE_ATTRIBUTES;
    else if constexpr (std::is_same_v<R, NTSTATUS>)
        return static_cast<NTSTATUS>(0xC0000001L);
    else if constexpr (std::is_same_v<R, HINSTANCE>)
        return reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
    else
        return R{};
}

// Returns the log record of a call about to run, holding the arguments tests look at; zeroes the
// byte count a read or write reports.
template <OsFn F, typename Args> OsCallRecord Describe([[maybe_unused]] const Args& a)
{
    OsCallRecord r{};
    r.fn = F;
    using First = std::decay_t<std::tuple_element_t<0, Args>>;
    if constexpr (std::is_same_v<First, LPCWSTR>)
        r.path = Text(std::get<0>(a));
    else if constexpr (std::is_same_v<First, HANDLE> && F != OsFn::BCryptGenRandom)
        r.path = HandleOf(std::get<0>(a)).path;
    if constexpr (F == OsFn::CreateFileW)
        r.number = std::get<5>(a), r.access = std::get<1>(a);
    if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile || F == OsFn::BCryptGenRandom)
        r.number = std::get<2>(a);
    if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile) {
        if (std::get<3>(a))
            *std::get<3>(a) = 0;  // an injected failure moved nothing
    }
    if constexpr (F == OsFn::SetFilePointerEx)
        r.number = std::get<1>(a).QuadPart;
    if constexpr (F == OsFn::DeviceIoControl)
        r.number = std::get<1>(a);
    if constexpr (F == OsFn::MoveFileW)
        r.path2 = Text(std::get<1>(a));
    if constexpr (F == OsFn::AlignedAlloc)
        r.number = static_cast<int64_t>(std::get<0>(a));
    if constexpr (F == OsFn::MessageBoxW)
        r.path = Text(std::get<1>(a)), r.path2 = Text(std::get<2>(a)), r.number = std::get<3>(a);
    if constexpr (F == OsFn::SHBrowseForFolderW)
        r.path = Text(std::get<0>(a) ? std::get<0>(a)->lpszTitle : nullptr);
    if constexpr (F == OsFn::ShellExecuteW)
        r.path = Text(std::get<2>(a)), r.path2 = Text(std::get<1>(a)), r.number = std::get<5>(a);
    return r;
}

// The functions whose fake does more than count and log; nullptr: the real function.
template <OsFn F> constexpr auto kScripted = nullptr;
template <> constexpr auto kScripted<OsFn::CreateFileW> = &OpenFile;
template <> constexpr auto kScripted<OsFn::CloseHandle> = &CloseFile;
template <> constexpr auto kScripted<OsFn::ReadFile> = &ReadSome;
template <> constexpr auto kScripted<OsFn::WriteFile> = &WriteSome;
template <> constexpr auto kScripted<OsFn::FindFirstStreamW> = &FirstStream;
template <> constexpr auto kScripted<OsFn::FindNextStreamW> = &NextStream;
template <> constexpr auto kScripted<OsFn::FindClose> = &CloseListing;
template <> constexpr auto kScripted<OsFn::BCryptGenRandom> = &TakeRandom;

// Runs the test's hook into `result` when it has set one; returns whether it did.
template <auto Hook, typename R, typename... A> bool RunHook([[maybe_unused]] R& result, [[maybe_unused]] A... a)
{
    if constexpr (!std::is_same_v<decltype(Hook), std::nullptr_t>) {
        if (const auto& hook = S().owner->hooks.*Hook)
            return result = hook(a...), true;
    }
    return false;
}

template <OsFn F, typename P> struct Wrap;
template <OsFn F, typename R, typename... A> struct Wrap<F, R (*)(A...)> {
    // Counts the call, fails it when a rule says so, else runs the hook, the scripted behaviour or
    // the real function; then books handles and blocks in the ledger and logs the call. Returns its result.
    template <auto RealFn, auto Hook> static R Call(A... a)
    {
        auto args = std::tie(a...);
        OsCallRecord record = Describe<F>(args);
        R result = Failure<F, R>();
        bool hooked = false;
        if (std::optional<DWORD> error = Begin(F))
            record.injected = true, SetLastError(*error);
        else if ((hooked = RunHook<Hook>(result, a...)))
            ;
        else if constexpr (std::is_same_v<decltype(kScripted<F>), const std::nullptr_t>)
            result = (Real().*RealFn)(a...);
        else
            result = kScripted<F>(a...);
        LastErrorKeeper keep;
        if constexpr (std::is_same_v<R, NTSTATUS>)
            record.ok = result == 0;
        else if constexpr (std::is_same_v<R, HINSTANCE>)
            record.ok = reinterpret_cast<INT_PTR>(result) > 32;
        else
            record.ok = result != Failure<F, R>();
        Book(record, hooked, result, args);
        Log(record);
        return result;
    }

    // Enters what a successful call opened or allocated in the ledger, and what it returned in the record.
    template <typename Args>
    static void Book(OsCallRecord& record, [[maybe_unused]] bool hooked, [[maybe_unused]] R result,
                     [[maybe_unused]] const Args& a)
    {
        std::lock_guard<std::mutex> lock(S().mutex);
        if constexpr (F == OsFn::CreateFileW || F == OsFn::FindFirstFileW || F == OsFn::FindFirstStreamW) {
            if (record.ok)
                S().handles[result] = {record.path, 0, F == OsFn::FindFirstStreamW && S().streamsScripted && !hooked};
        }
        if constexpr (F == OsFn::CreateFileW) {
            if (record.ok)
                S().handles[result].flags = std::get<5>(a);
        }
        if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile)
            record.done = (record.ok && std::get<3>(a)) ? *std::get<3>(a) : 0;
        if constexpr (F == OsFn::AlignedAlloc || F == OsFn::SHBrowseForFolderW) {
            if (result)
                S().allocations[result] = hooked && F == OsFn::SHBrowseForFolderW;
        }
        if constexpr (F == OsFn::SHGetPathFromIDListW) {
            if (record.ok && std::get<1>(a))
                record.path = std::get<1>(a);
        }
    }
};

// The release functions that return nothing. A block that a hooked folder browser handed out
// belongs to the test, so it never reaches the real CoTaskMemFree.
template <OsFn F, typename... A> struct Wrap<F, void (*)(A...)> {
    template <auto RealFn, auto> static void Call(void* block)
    {
        if (!Forget(S().allocations, block, F == OsFn::AlignedFree && block ? "AlignedFree" : nullptr))
            (Real().*RealFn)(block);
        LastErrorKeeper keep;
        Begin(F);
        OsCallRecord record{};
        record.fn = F;
        record.ok = true;
        Log(record);
    }
};

#define TARNWICK_HOOKED(name) &Wrap<OsFn::name, decltype(OsCalls::name)>::Call<&OsCalls::name, &OsHooks::name>,
#define TARNWICK_UNHOOKED(name) &Wrap<OsFn::name, decltype(OsCalls::name)>::Call<&OsCalls::name, nullptr>,
const OsCalls fakeCalls = {TARNWICK_OS_FNS(TARNWICK_HOOKED, TARNWICK_UNHOOKED)};

}  // namespace

const char* OsFnName(OsFn fn) { return kFnNames[static_cast<int>(fn)]; }

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

void FakeOs::FailNthCall(OsFn fn, int n, DWORD error) { Locked(*state_, [&] { state_->rules.push_back({fn, n, error}); }); }
void FakeOs::FailEveryCall(OsFn fn, DWORD error) { Locked(*state_, [&] { state_->rules.push_back({fn, 0, error}); }); }
void FakeOs::FailNthCallOfAny(int n, DWORD error) { Locked(*state_, [&] { state_->rules.push_back({OsFn::Count, n, error}); }); }
bool FakeOs::InjectionFired() const { return Locked(*state_, [&] { return state_->fired; }); }
void FakeOs::ShortenNthRead(int n, DWORD bytes) { Locked(*state_, [&] { state_->shortReads[n] = bytes; }); }
void FakeOs::ShortenNthWrite(int n, DWORD bytes) { Locked(*state_, [&] { state_->shortWrites[n] = bytes; }); }
void FakeOs::EmulateUnbufferedReads(DWORD sectorSize) { Locked(*state_, [&] { state_->unbufferedSector = sectorSize; }); }

void FakeOs::ScriptStreams(std::vector<FakeStream> streams)
{
    auto files = std::make_unique<TempFolder>();
    for (size_t i = 0; i < streams.size(); ++i)
        files->File(std::to_wstring(i), streams[i].contents);
    Locked(*state_, [&] {
        state_->streamFiles = std::move(files);
        state_->streams = std::move(streams);
        state_->streamsScripted = true;
    });
}

std::vector<uint8_t> FakeOs::StreamContents(const std::wstring& name) const
{
    int index = FindScriptedStream(state_->streams, name);
    return index < 0 ? std::vector<uint8_t>() : ReadAll(*state_->streamFiles / std::to_wstring(index));
}

void FakeOs::ScriptRandom(std::vector<uint8_t> bytes)
{
    Locked(*state_, [&] { state_->randomBytes.insert(state_->randomBytes.end(), bytes.begin(), bytes.end()); });
}

int FakeOs::Calls(OsFn fn) const { return Locked(*state_, [&] { return state_->calls[static_cast<int>(fn)]; }); }
int FakeOs::InjectableCalls() const { return Locked(*state_, [&] { return state_->injectableCalls; }); }
std::vector<OsCallRecord> FakeOs::CallLog() const { return Locked(*state_, [&] { return state_->log; }); }
int FakeOs::OpenHandleCount() const { return Locked(*state_, [&] { return static_cast<int>(state_->handles.size()); }); }
int FakeOs::LiveAllocationCount() const { return Locked(*state_, [&] { return static_cast<int>(state_->allocations.size()); }); }

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

std::string FakeOs::LedgerProblems() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::ostringstream text;
    for (const std::string& problem : state_->problems)
        text << problem << "; ";
    for (const auto& entry : state_->handles)
        text << "handle still open: " << std::string(entry.second.path.begin(), entry.second.path.end()) << "; ";
    if (!state_->allocations.empty())
        text << state_->allocations.size() << " allocation(s) not released; ";
    return text.str();
}
