#include "tests/support/fake_os.h"

#include "tests/support/temp_folder.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

namespace {

struct Rule {
    OsFn fn;  // Count: the Nth call of any function but the release ones
    int n;
    DWORD error;
};

// What the ledger knows of a handle or block that is not yet released.
struct Opened {
    std::wstring path;
    DWORD flags = 0;         // CreateFileW flags
    bool hooked = false;     // a test's hook handed it out: the real release must not see it
    size_t nextStream = 1;   // a scripted stream listing's next record
};

}  // namespace

struct FakeOs::State {
    mutable std::mutex mutex;
    FakeOs* owner = nullptr;
    int calls[static_cast<int>(OsFn::Count)] = {};
    int anyCalls = 0;
    std::vector<Rule> rules;
    bool fired = false;
    std::map<int, DWORD> shortened[2];  // reads, writes: call number -> bytes
    DWORD sector = 0;
    std::vector<FakeStream> streams;
    std::unique_ptr<TempFolder> streamFiles;  // file i holds the bytes of stream i
    std::deque<uint8_t> random;
    std::vector<OsCallRecord> log;
    std::map<const void*, Opened> open;
    std::vector<std::string> problems;
};

namespace {

FakeOs::State* s = nullptr;
const OsCalls& Real() { return RealOsCalls(); }

constexpr bool IsRelease(OsFn fn)
{
    return fn == OsFn::CloseHandle || fn == OsFn::FindClose || fn == OsFn::AlignedFree || fn == OsFn::CoTaskMemFree;
}

// Counts a call of `fn`. Returns the error to fail it with when a rule says so.
std::optional<DWORD> Count(OsFn fn)
{
    std::lock_guard<std::mutex> lock(s->mutex);
    const int nth = ++s->calls[static_cast<int>(fn)];
    if (IsRelease(fn)) return std::nullopt;
    const int any = ++s->anyCalls;
    for (const Rule& rule : s->rules) {
        if (rule.fn == OsFn::Count ? rule.n == any : rule.fn == fn && rule.n == nth) return s->fired = true, rule.error;
    }
    return std::nullopt;
}

// Returns the ledger's entry for `key`, or an empty one.
Opened OpenedAs(const void* key)
{
    std::lock_guard<std::mutex> lock(s->mutex);
    auto it = s->open.find(key);
    return it == s->open.end() ? Opened() : it->second;
}

// Takes `key` off the ledger (before the real release, whose handle value may be
// reused at once). Returns what the ledger held; a release of something not open
// is a problem.
Opened Release(const void* key, const char* how)
{
    std::lock_guard<std::mutex> lock(s->mutex);
    auto it = s->open.find(key);
    if (it == s->open.end()) return s->problems.push_back(std::string(how) + " of something not open"), Opened();
    Opened opened = it->second;
    s->open.erase(it);
    return opened;
}

// Returns the index of the scripted stream that `path` ("...\file:name") names, or -1.
int ScriptedStreamOf(const std::wstring& path)
{
    const size_t colon = path.find(L':', path.find_last_of(L'\\') + 1);
    if (s->streams.empty() || colon == std::wstring::npos) return -1;
    const std::wstring name = path.substr(colon) + L":";
    for (size_t i = 0; i < s->streams.size(); ++i) {
        if (s->streams[i].record.rfind(name, 0) == 0) return static_cast<int>(i);
    }
    return -1;
}

// Fills `data` with scripted stream record `index`. Returns false past the last.
BOOL FillStreamRecord(size_t index, LPVOID data)
{
    if (index >= s->streams.size()) return SetLastError(ERROR_HANDLE_EOF), FALSE;
    auto* record = static_cast<WIN32_FIND_STREAM_DATA*>(data);
    *record = {};
    record->StreamSize.QuadPart = static_cast<LONGLONG>(s->streams[index].contents.size());
    wcsncpy_s(record->cStreamName, s->streams[index].record.c_str(), _TRUNCATE);
    return TRUE;
}

// What the fake does instead of the real function where it does more than pass a call on.
HANDLE OpenFile(LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES se, DWORD d, DWORD f, HANDLE t)
{
    const int stream = ScriptedStreamOf(p);
    if (stream < 0) return Real().CreateFileW(p, a, sh, se, d, f, t);
    const std::wstring side = *s->streamFiles / std::to_wstring(stream);
    return Real().CreateFileW(side.c_str(), a, sh, se, d, f & ~FILE_FLAG_OPEN_REPARSE_POINT, t);
}

BOOL ReadSome(HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o)
{
    if (s->sector && (OpenedAs(h).flags & FILE_FLAG_NO_BUFFERING) && n % s->sector != 0) {
        return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
    }
    return Real().ReadFile(h, b, n, d, o);
}

// A scripted listing runs on a real find handle, so that the real FindClose ends it.
HANDLE FirstStream(LPCWSTR p, STREAM_INFO_LEVELS l, LPVOID d, DWORD f)
{
    if (s->streams.empty()) return Real().FindFirstStreamW(p, l, d, f);
    WIN32_FIND_DATAW unused;
    return FillStreamRecord(0, d) ? Real().FindFirstFileW(s->streamFiles->path().c_str(), &unused)
                                  : INVALID_HANDLE_VALUE;
}

BOOL NextStream(HANDLE h, LPVOID d)
{
    if (s->streams.empty()) return Real().FindNextStreamW(h, d);
    std::unique_lock<std::mutex> lock(s->mutex);
    const size_t index = s->open[h].nextStream++;
    lock.unlock();
    return FillStreamRecord(index, d);
}

NTSTATUS TakeRandom(BCRYPT_ALG_HANDLE a, PUCHAR b, ULONG n, ULONG f)
{
    ULONG taken = 0;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        for (; taken < n && !s->random.empty(); s->random.pop_front()) b[taken++] = s->random.front();
    }
    return taken == n ? 0 : Real().BCryptGenRandom(a, b + taken, n - taken, f);
}

// Returns what `F` returns when it fails.
template <OsFn F, typename R> R Failure()
{
    if constexpr (F == OsFn::CreateFileW || F == OsFn::FindFirstFileW || F == OsFn::FindFirstStreamW) {
        return INVALID_HANDLE_VALUE;
    } else if constexpr (F == OsFn::GetFileAttributesW) {
        return INVALID_FILE_ATTRIBUTES;
    } else if constexpr (F == OsFn::BCryptGenRandom) {
        return static_cast<NTSTATUS>(0xC0000001L);
    } else if constexpr (F == OsFn::ShellExecuteW) {
        return reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
    } else {
        return R{};
    }
}

// Returns true when `result` is the success of `F`.
template <OsFn F, typename R> bool Succeeded(R result)
{
    if constexpr (F == OsFn::BCryptGenRandom) return result >= 0;
    else if constexpr (F == OsFn::ShellExecuteW) return reinterpret_cast<INT_PTR>(result) > 32;
    else return result != Failure<F, R>();
}

template <OsFn F, auto Hook, typename FnPointer, bool = IsRelease(F)> struct Wrap;

// Counts the call, fails it when a rule says so, else runs the test's hook, the
// fake's own behaviour or the real function; then books what it opened in the
// ledger and logs the call. Returns its result.
template <OsFn F, auto Hook, typename R, typename... A> struct Wrap<F, Hook, R (*)(A...), false> {
    template <auto RealFn> static R Call(A... a)
    {
        auto args = std::tie(a...);
        OsCallRecord record{F, L"", 0, 0, false, false};
        if constexpr (std::is_same_v<std::tuple_element_t<0, std::tuple<A...>>, LPCWSTR>) {
            record.path = std::get<0>(args) ? std::get<0>(args) : L"";
        } else if constexpr (std::is_same_v<std::tuple_element_t<0, std::tuple<A...>>, HANDLE>) {
            record.path = OpenedAs(std::get<0>(args)).path;
        }
        if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile) {
            std::lock_guard<std::mutex> lock(s->mutex);
            const auto& shortened = s->shortened[F == OsFn::WriteFile];
            auto it = shortened.find(s->calls[static_cast<int>(F)] + 1);
            if (it != shortened.end()) std::get<2>(args) = std::min(std::get<2>(args), it->second);
            record.number = std::get<2>(args);
            if (std::get<3>(args)) *std::get<3>(args) = 0;
        }
        if constexpr (F == OsFn::CreateFileW) record.number = std::get<1>(args);
        R result = Failure<F, R>();
        const auto& hook = s->owner->hooks.*Hook;
        if (std::optional<DWORD> error = Count(F)) {
            record.injected = true;
            SetLastError(*error);
        } else if (hook) {
            result = hook(a...);
        } else if constexpr (F == OsFn::CreateFileW) {
            result = OpenFile(a...);
        } else if constexpr (F == OsFn::ReadFile) {
            result = ReadSome(a...);
        } else if constexpr (F == OsFn::FindFirstStreamW) {
            result = FirstStream(a...);
        } else if constexpr (F == OsFn::FindNextStreamW) {
            result = NextStream(a...);
        } else if constexpr (F == OsFn::BCryptGenRandom) {
            result = TakeRandom(a...);
        } else {
            result = (Real().*RealFn)(a...);
        }
        const DWORD lastError = GetLastError();
        record.ok = Succeeded<F>(result);
        if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile) {
            record.done = record.ok && std::get<3>(args) ? *std::get<3>(args) : 0;
        }
        std::lock_guard<std::mutex> lock(s->mutex);
        if constexpr (F == OsFn::CreateFileW || F == OsFn::FindFirstFileW || F == OsFn::FindFirstStreamW ||
                      F == OsFn::AlignedAlloc || F == OsFn::SHBrowseForFolderW) {
            DWORD flags = 0;
            if constexpr (F == OsFn::CreateFileW) flags = std::get<5>(args);
            if (record.ok) s->open[result] = {record.path, flags, hook && F == OsFn::SHBrowseForFolderW};
        }
        s->log.push_back(record);
        SetLastError(lastError);
        return result;
    }
};

// The release functions. A block that a test's hook handed out never reaches the real release.
template <OsFn F, auto Hook, typename R, typename P> struct Wrap<F, Hook, R (*)(P), true> {
    template <auto RealFn> static R Call(P released)
    {
        const bool nothing = (F == OsFn::AlignedFree || F == OsFn::CoTaskMemFree) && released == nullptr;
        const Opened opened = nothing ? Opened() : Release(released, F == OsFn::CloseHandle ? "CloseHandle" : "release");
        Count(F);
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            s->log.push_back({F, opened.path, 0, 0, true, false});
        }
        if (const auto& hook = s->owner->hooks.*Hook) return hook(released);
        if (opened.hooked) return R();
        return (Real().*RealFn)(released);
    }
};

#define TARNWICK_OS_WRAP(name) \
    &Wrap<OsFn::name, &OsHooks::name, decltype(OsCalls::name)>::template Call<&OsCalls::name>,
const OsCalls fakeCalls = {TARNWICK_OS_FNS(TARNWICK_OS_WRAP)};

}  // namespace

FakeOs::FakeOs() : state_(std::make_unique<State>())
{
    state_->owner = this;
    s = state_.get();
    os = fakeCalls;
}

FakeOs::~FakeOs()
{
    os = RealOsCalls();
    s = nullptr;
}

void FakeOs::FailNthCall(OsFn fn, int n, DWORD error) { std::lock_guard<std::mutex> l(state_->mutex); state_->rules.push_back({fn, n, error}); }
void FakeOs::FailNthCallOfAny(int n, DWORD error) { FailNthCall(OsFn::Count, n, error); }
bool FakeOs::InjectionFired() const { std::lock_guard<std::mutex> l(state_->mutex); return state_->fired; }
void FakeOs::ShortenNthRead(int n, DWORD bytes) { std::lock_guard<std::mutex> l(state_->mutex); state_->shortened[0][n] = bytes; }
void FakeOs::ShortenNthWrite(int n, DWORD bytes) { std::lock_guard<std::mutex> l(state_->mutex); state_->shortened[1][n] = bytes; }
void FakeOs::EmulateUnbufferedReads(DWORD sectorSize) { state_->sector = sectorSize; }
void FakeOs::ScriptRandom(std::vector<uint8_t> bytes) { state_->random.insert(state_->random.end(), bytes.begin(), bytes.end()); }
int FakeOs::Calls(OsFn fn) const { std::lock_guard<std::mutex> l(state_->mutex); return state_->calls[static_cast<int>(fn)]; }
std::vector<OsCallRecord> FakeOs::CallLog() const { std::lock_guard<std::mutex> l(state_->mutex); return state_->log; }

void FakeOs::ScriptStreams(std::vector<FakeStream> streams)
{
    state_->streamFiles = std::make_unique<TempFolder>();
    for (size_t i = 0; i < streams.size(); ++i) state_->streamFiles->File(std::to_wstring(i), streams[i].contents);
    state_->streams = std::move(streams);
}

std::vector<uint8_t> FakeOs::StreamContents(const std::wstring& name) const
{
    const int index = ScriptedStreamOf(L"\\f" + name);
    return index < 0 ? std::vector<uint8_t>() : ReadAll(*state_->streamFiles / std::to_wstring(index));
}

std::vector<OsCallRecord> FakeOs::CallsOf(OsFn fn) const
{
    std::vector<OsCallRecord> calls = CallLog();
    calls.erase(std::remove_if(calls.begin(), calls.end(), [fn](const OsCallRecord& c) { return c.fn != fn; }),
                calls.end());
    return calls;
}

std::set<std::wstring> FakeOs::WrittenPaths() const
{
    std::set<std::wstring> paths;
    for (const OsCallRecord& write : CallsOf(OsFn::WriteFile)) {
        if (write.done > 0) paths.insert(write.path);
    }
    return paths;
}

std::string FakeOs::LedgerProblems() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::string text;
    for (const std::string& problem : state_->problems) text += problem + "; ";
    for (const auto& entry : state_->open) {
        text += "still open: " + std::string(entry.second.path.begin(), entry.second.path.end()) + "; ";
    }
    return text;
}
