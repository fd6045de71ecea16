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
    DWORD flags = 0;      // CreateFileW flags
    bool hooked = false;  // a browser's item that a test's hook handed out: the real release must not see it
};

}  // namespace

struct FakeOs::State {
    mutable std::mutex mutex;
    FakeOs* owner = nullptr;
    int calls[static_cast<int>(OsFn::Count)] = {};
    int anyCalls = 0;
    std::vector<Rule> rules;
    bool fired = false;
    std::vector<OsCallRecord> log;
    std::map<const void*, Opened> open;
    std::vector<std::string> problems;
    std::unique_ptr<TempFolder> streamFiles;  // file i holds the bytes of scripted stream i
    std::map<int, DWORD> shortened[2];        // reads, writes: call number -> bytes
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

// Returns the ledger's entry for `key`, and takes it off when `release` (before the
// real release, whose value may be reused at once); a release of something not open is a problem.
Opened Ledger(const void* key, bool release)
{
    std::lock_guard<std::mutex> lock(s->mutex);
    auto it = s->open.find(key);
    if (it == s->open.end()) {
        if (release) s->problems.push_back("release of something not open");
        return Opened();
    }
    const Opened opened = it->second;
    if (release) s->open.erase(it);
    return opened;
}

// Returns what `F` returns when it fails.
template <OsFn F, typename R> R Failure()
{
    if constexpr (F == OsFn::CreateFileW || F == OsFn::FindFirstFileW || F == OsFn::FindFirstStreamW) return INVALID_HANDLE_VALUE;
    else if constexpr (F == OsFn::GetFileAttributesW) return INVALID_FILE_ATTRIBUTES;
    else if constexpr (F == OsFn::BCryptGenRandom) return static_cast<NTSTATUS>(0xC0000001L);
    else if constexpr (F == OsFn::ShellExecuteW) return reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
    else return R{};
}

// Returns true when `result` is the success of `F`.
template <OsFn F, typename R> bool Succeeded(R result)
{
    if constexpr (F == OsFn::BCryptGenRandom) return result >= 0;
    else if constexpr (F == OsFn::ShellExecuteW) return reinterpret_cast<INT_PTR>(result) > 32;
    else if constexpr (std::is_void_v<R>) return true;
    else return result != Failure<F, R>();
}

template <OsFn F, auto Hook, typename FnPointer> struct Wrap;

// Counts the call, fails it when a rule says so, else runs the test's hook or the
// real function; keeps the ledger of what it opens and releases and logs the call.
// Returns its result.
template <OsFn F, auto Hook, typename R, typename... A> struct Wrap<F, Hook, R (*)(A...)> {
    template <auto RealFn> static R Call(A... a)
    {
        auto args = std::tie(a...);
        using First = std::tuple_element_t<0, std::tuple<A...>>;
        OsCallRecord record{F, L"", 0, 0, false, false};
        Opened opened;
        if constexpr (std::is_same_v<First, LPCWSTR>) record.path = std::get<0>(args) ? std::get<0>(args) : L"";
        if constexpr (std::is_same_v<First, HANDLE> || IsRelease(F)) {
            const bool nothing = std::get<0>(args) == nullptr && (F == OsFn::AlignedFree || F == OsFn::CoTaskMemFree);
            if (!nothing) opened = Ledger(std::get<0>(args), IsRelease(F));
            record.path = opened.path;
        }
        if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile) {
            record.number = std::get<2>(args);
            if (std::get<3>(args)) *std::get<3>(args) = 0;
        }
        if constexpr (F == OsFn::CreateFileW) record.number = std::get<1>(args);
        const std::optional<DWORD> error = Count(F);
        const auto& hook = s->owner->hooks.*Hook;
        auto run = [&]() -> R {
            if (error) return SetLastError(*error), Failure<F, R>();
            if (hook) return hook(a...);
            if (opened.hooked) return R();
            return (Real().*RealFn)(a...);
        };
        if constexpr (std::is_void_v<R>) {
            run();
            Finish<RealFn>(record, error.has_value(), true, args, hook);
        } else {
            const R result = run();
            Finish<RealFn>(record, error.has_value(), Succeeded<F>(result), args, hook, result);
            return result;
        }
    }

    // Enters what the call opened in the ledger and the call in the log.
    template <auto RealFn, typename Args, typename HookFn, typename... Result>
    static void Finish(OsCallRecord& record, bool injected, bool ok, const Args& args, const HookFn& hook, Result... result)
    {
        const DWORD lastError = GetLastError();
        record.injected = injected;
        record.ok = ok;
        if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile) {
            record.done = ok && std::get<3>(args) ? *std::get<3>(args) : 0;
        }
        std::lock_guard<std::mutex> lock(s->mutex);
        if constexpr (F == OsFn::CreateFileW || F == OsFn::FindFirstFileW || F == OsFn::FindFirstStreamW ||
                      F == OsFn::AlignedAlloc || F == OsFn::SHBrowseForFolderW) {
            DWORD flags = 0;
            if constexpr (F == OsFn::CreateFileW) flags = std::get<5>(args);
            if (ok) ((s->open[result] = Opened{record.path, flags, hook && F == OsFn::SHBrowseForFolderW}), ...);
        }
        s->log.push_back(record);
        SetLastError(lastError);
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
int FakeOs::Calls(OsFn fn) const { std::lock_guard<std::mutex> l(state_->mutex); return state_->calls[static_cast<int>(fn)]; }
std::vector<OsCallRecord> FakeOs::CallLog() const { std::lock_guard<std::mutex> l(state_->mutex); return state_->log; }

// Returns `count`, or less when the test shortened the current call of `fn`.
DWORD FakeOs::Shortened(OsFn fn, DWORD count) const
{
    const std::map<int, DWORD>& shortened = state_->shortened[fn == OsFn::WriteFile];
    auto it = shortened.find(Calls(fn));
    return it == shortened.end() ? count : std::min(count, it->second);
}

void FakeOs::ShortenNthRead(int n, DWORD bytes)
{
    state_->shortened[0][n] = bytes;
    hooks.ReadFile = [this](HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) { return Real().ReadFile(h, b, Shortened(OsFn::ReadFile, n), d, o); };
}

void FakeOs::ShortenNthWrite(int n, DWORD bytes)
{
    state_->shortened[1][n] = bytes;
    hooks.WriteFile = [this](HANDLE h, LPCVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) { return Real().WriteFile(h, b, Shortened(OsFn::WriteFile, n), d, o); };
}

void FakeOs::EmulateUnbufferedReads(DWORD sector)
{
    hooks.ReadFile = [sector](HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
        if ((Ledger(h, false).flags & FILE_FLAG_NO_BUFFERING) && n % sector != 0) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
        return Real().ReadFile(h, b, n, d, o);
    };
}

void FakeOs::ScriptRandom(std::vector<uint8_t> bytes)
{
    hooks.BCryptGenRandom = [queue = std::deque<uint8_t>(bytes.begin(), bytes.end())](BCRYPT_ALG_HANDLE a, PUCHAR b, ULONG n, ULONG f) mutable {
        ULONG taken = 0;
        for (; taken < n && !queue.empty(); queue.pop_front()) b[taken++] = queue.front();
        return taken == n ? 0 : Real().BCryptGenRandom(a, b + taken, n - taken, f);
    };
}

// The listing runs on a real find handle over the side files, so that the real FindClose ends it;
// "file:name" opens the side file of that stream.
void FakeOs::ScriptStreams(std::vector<FakeStream> streams)
{
    state_->streamFiles = std::make_unique<TempFolder>();
    for (size_t i = 0; i < streams.size(); ++i) state_->streamFiles->File(std::to_wstring(i), streams[i].contents);
    auto fill = [streams](size_t index, LPVOID data) {
        if (index >= streams.size()) return SetLastError(ERROR_HANDLE_EOF), FALSE;
        auto* record = static_cast<WIN32_FIND_STREAM_DATA*>(data);
        record->StreamSize.QuadPart = static_cast<LONGLONG>(streams[index].contents.size());
        wcsncpy_s(record->cStreamName, streams[index].record.c_str(), _TRUNCATE);
        return TRUE;
    };
    auto next = std::make_shared<std::map<HANDLE, size_t>>();
    hooks.FindFirstStreamW = [this, fill, next](LPCWSTR, STREAM_INFO_LEVELS, LPVOID data, DWORD) {
        WIN32_FIND_DATAW unused;
        HANDLE listing = fill(0, data) ? Real().FindFirstFileW(state_->streamFiles->path().c_str(), &unused) : INVALID_HANDLE_VALUE;
        return (*next)[listing] = 1, listing;
    };
    hooks.FindNextStreamW = [fill, next](HANDLE listing, LPVOID data) { return fill((*next)[listing]++, data); };
    hooks.CreateFileW = [this, streams](LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES se, DWORD d, DWORD f, HANDLE t) {
        const std::wstring path = p;
        const size_t colon = path.find(L':', path.find_last_of(L'\\') + 1);
        for (size_t i = 0; colon != std::wstring::npos && i < streams.size(); ++i) {
            if (streams[i].record.rfind(path.substr(colon) + L":", 0) == 0) {
                return Real().CreateFileW((*state_->streamFiles / std::to_wstring(i)).c_str(), a, sh, se, d, f & ~FILE_FLAG_OPEN_REPARSE_POINT, t);
            }
        }
        return Real().CreateFileW(p, a, sh, se, d, f, t);
    };
}

std::vector<uint8_t> FakeOs::StreamContents(size_t index) const { return ReadAll(*state_->streamFiles / std::to_wstring(index)); }

std::vector<OsCallRecord> FakeOs::CallsOf(OsFn fn) const
{
    std::vector<OsCallRecord> calls = CallLog();
    std::erase_if(calls, [fn](const OsCallRecord& c) { return c.fn != fn; });
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
    for (const auto& [key, opened] : state_->open) text += "still open: " + std::string(opened.path.begin(), opened.path.end()) + "; ";
    return text;
}

bool OverwritingBegan(const FakeOs& fake, const std::set<std::wstring>& given)
{
    const std::vector<OsCallRecord> log = fake.CallLog();
    return std::any_of(log.begin(), log.end(), [&](const OsCallRecord& call) {
        return call.fn == OsFn::WriteFile || (call.fn == OsFn::CreateFileW && call.ok && (call.number & GENERIC_WRITE) &&
                                              !given.count(call.path));
    });
}
