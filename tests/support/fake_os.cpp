#include "tests/support/fake_os.h"

#include "tests/support/temp_folder.h"

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

namespace {

struct Rule {
    OsFn fn;
    int n;
    DWORD error;
};

// What the ledger knows of a handle or block that is not yet released.
struct Opened {
    std::wstring path;
    DWORD flags = 0;  // CreateFileW flags
};

}  // namespace

struct FakeOs::State {
    mutable std::mutex mutex;
    FakeOs* owner = nullptr;
    int calls[static_cast<int>(OsFn::Any) + 1] = {};
    std::vector<Rule> rules;
    bool fired = false;
    std::vector<OsCallRecord> log;
    std::map<const void*, Opened> open;
    std::vector<std::string> problems;
    std::unique_ptr<TempFolder> streamFiles;  // file i holds the bytes of scripted stream i
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
    const int any = ++s->calls[static_cast<int>(OsFn::Any)];
    for (const Rule& rule : s->rules) {
        if (rule.n == (rule.fn == OsFn::Any ? any : rule.fn == fn ? nth : 0)) return s->fired = true, rule.error;
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
    if constexpr (F == OsFn::CreateFileW || F == OsFn::ReOpenFile || F == OsFn::FindFirstFileW) return INVALID_HANDLE_VALUE;
    else if constexpr (F == OsFn::GetFileAttributesW) return INVALID_FILE_ATTRIBUTES;
    else if constexpr (F == OsFn::BCryptGenRandom) return static_cast<NTSTATUS>(0xC0000001L);
    else if constexpr (F == OsFn::ShellExecuteW) return reinterpret_cast<HINSTANCE>(SE_ERR_NOASSOC);
    else if constexpr (F == OsFn::CoCreateInstance) return E_FAIL;
    else return R{};
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
        OsCallRecord record{F};
        if constexpr (std::is_same_v<First, LPCWSTR>) record.path = std::get<0>(args) ? std::get<0>(args) : L"";
        if constexpr (std::is_same_v<First, HANDLE> || IsRelease(F)) {
            if (std::get<0>(args)) record.path = Ledger(std::get<0>(args), IsRelease(F)).path;
        }
        if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile) record.number = std::get<2>(args), *std::get<3>(args) = 0;
        if constexpr (F == OsFn::CreateFileW) record.number = std::get<1>(args);
        if constexpr (F == OsFn::GetFileInformationByHandleEx || F == OsFn::SetFileInformationByHandle) record.number = std::get<1>(args);
        const std::optional<DWORD> error = Count(F);
        record.injected = error.has_value();
        const auto& hook = s->owner->hooks.*Hook;
        if constexpr (std::is_void_v<R>) {  // the release functions, which never fail
            hook ? hook(a...) : (Real().*RealFn)(a...);
            record.ok = true;
            Log(record, args);
        } else {
            const R result = error ? (SetLastError(*error), Failure<F, R>()) : hook ? hook(a...) : (Real().*RealFn)(a...);
            // Every failure the tests make returns the failure value; the real calls they leave alone
            // (random bytes, the browser) do not fail.
            record.ok = result != Failure<F, R>();
            Log(record, args, result);
            return result;
        }
    }

    // Enters the call in the log, and what it opened in the ledger.
    template <typename Args, typename... Result> static void Log(OsCallRecord& record, const Args& args, Result... result)
    {
        const DWORD lastError = GetLastError();
        if constexpr (F == OsFn::ReadFile || F == OsFn::WriteFile) record.done = record.ok ? *std::get<3>(args) : 0;
        std::lock_guard<std::mutex> lock(s->mutex);
        if constexpr (F == OsFn::CreateFileW || F == OsFn::ReOpenFile || F == OsFn::FindFirstFileW ||
                      F == OsFn::AlignedAlloc || F == OsFn::SHBrowseForFolderW) {
            DWORD flags = 0;
            if constexpr (F == OsFn::CreateFileW) flags = std::get<5>(args);
            if constexpr (F == OsFn::ReOpenFile) flags = std::get<3>(args);
            if (record.ok) ((s->open[result] = Opened{record.path, flags}), ...);
        }
        s->log.push_back(record);
        SetLastError(lastError);
    }
};

#define TARNWICK_OS_WRAP(name) \
    &Wrap<OsFn::name, &OsHooks::name, decltype(OsCalls::name)>::template Call<&OsCalls::name>,
// The clock is no call that fails or opens anything: a test that moves it sets os.GetTickCount64 itself.
const OsCalls fakeCalls = {TARNWICK_OS_FNS(TARNWICK_OS_WRAP) ::GetTickCount64};

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
bool FakeOs::InjectionFired() const { std::lock_guard<std::mutex> l(state_->mutex); return state_->fired; }
int FakeOs::Calls(OsFn fn) const { std::lock_guard<std::mutex> l(state_->mutex); return state_->calls[static_cast<int>(fn)]; }

std::vector<OsCallRecord> FakeOs::CallLog(OsFn only) const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<OsCallRecord> calls = state_->log;
    std::erase_if(calls, [only](const OsCallRecord& c) { return only != OsFn::Any && c.fn != only; });
    return calls;
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

// Files whose path ends in `name` list the streams; "file:name" opens the side file of that stream.
void FakeOs::ScriptStreams(std::vector<FakeStream> streams, const std::wstring& name)
{
    state_->streamFiles = std::make_unique<TempFolder>();
    std::vector<std::wstring> records;
    for (size_t i = 0; i < streams.size(); ++i) state_->streamFiles->File(std::to_wstring(i), streams[i].contents), records.push_back(streams[i].record);
    hooks.GetFileInformationByHandleEx = [records, name](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID info, DWORD n) {
        if (c != FileStreamInfo) return Real().GetFileInformationByHandleEx(h, c, info, n);
        return ListStreamRecords(Ledger(h, false).path.ends_with(name) ? records : std::vector<std::wstring>{L"::$DATA"}, info, n);
    };
    hooks.CreateFileW = [this, streams](LPCWSTR p, DWORD a, DWORD sh, LPSECURITY_ATTRIBUTES se, DWORD d, DWORD f, HANDLE t) {
        const std::wstring path = p;
        const size_t colon = path.find(L':', path.find_last_of(L'\\') + 1);
        for (size_t i = 0; colon != std::wstring::npos && i < streams.size(); ++i) {
            if (streams[i].record.starts_with(path.substr(colon) + L":")) {
                return Real().CreateFileW((*state_->streamFiles / std::to_wstring(i)).c_str(), a, sh, se, d, f & ~FILE_FLAG_OPEN_REPARSE_POINT, t);
            }
        }
        return Real().CreateFileW(p, a, sh, se, d, f, t);
    };
}

// Each record takes a slot of 512 bytes, room for any name a test gives.
BOOL ListStreamRecords(const std::vector<std::wstring>& records, LPVOID info, DWORD)
{
    for (size_t i = 0; i < records.size(); ++i) {
        auto* record = reinterpret_cast<FILE_STREAM_INFO*>(static_cast<char*>(info) + 512 * i);
        *record = {i + 1 < records.size() ? 512u : 0u, static_cast<DWORD>(records[i].size() * 2), {}, {}, {}};
        records[i].copy(record->StreamName, records[i].size());
    }
    return TRUE;
}

std::string FakeOs::LedgerProblems() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::string text;
    for (const std::string& problem : state_->problems) text += problem + "; ";
    for (const auto& [key, opened] : state_->open) text += "still open: " + std::string(opened.path.begin(), opened.path.end()) + "; ";
    return text;
}
