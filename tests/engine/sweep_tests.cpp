// In the manner of SQLite's I/O-error tests: a whole erase is repeated with
// the Nth call through the seam failing, for N = 1, 2, ... until a run gets
// through without meeting the failure.
#include "engine/secure_erase.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cwchar>
#include <set>

namespace {

// Notes how many seam calls had been made when the first pass was announced.
struct SweepSink {
    const FakeOs* fake;
    int firstPassCall = INT_MAX;
};

intptr_t NoteFirstPass(const wchar_t* text, void* context)
{
    auto* sink = static_cast<SweepSink*>(context);
    if (wcsncmp(text, L"Pass ", 5) == 0 && sink->firstPassCall == INT_MAX) sink->firstPassCall = sink->fake->InjectableCalls();
    return 0;
}

// Which open a handle-bound call went through.
enum class Phase { Probe, Stream, Write, Verify };

// Returns the result that the step of the failed call prescribes: the probe's
// open and size end the erase, so do the seed, the write open, a pass's
// positioning or write, the read-back's buffers and buffered reads, and the
// final delete; everything else is ignored or only skips a step (the
// in-place zeroing between the seed and the name's draw, a name, a stream,
// the slack extension, the unbuffered read that falls back).
EraseResult ExpectedResult(const std::vector<OsCallRecord>& log, int firstPassCall)
{
    Phase phase = Phase::Probe;
    bool unbuffered = false;
    int injectable = 0, draws = 0;
    for (const OsCallRecord& call : log) {
        if (call.fn == OsFn::CloseHandle && phase == Phase::Verify) phase = Phase::Write;
        if (IsReleaseFn(call.fn)) continue;
        ++injectable;
        if (call.fn == OsFn::BCryptGenRandom) ++draws;
        if (call.fn == OsFn::CreateFileW) {
            phase = call.path.find(L':', 2) != std::wstring::npos ? Phase::Stream
                    : (call.number & FILE_FLAG_SEQUENTIAL_SCAN) != 0 ? Phase::Verify
                    : (call.access & GENERIC_WRITE) != 0             ? Phase::Write
                                                                      : Phase::Probe;
            unbuffered = (call.number & FILE_FLAG_NO_BUFFERING) != 0;
        }
        if (!call.injected) continue;
        if (draws == 1 && call.fn != OsFn::BCryptGenRandom) return EraseResult::Success;
        switch (call.fn) {
        case OsFn::CreateFileW:
            if (phase == Phase::Probe || phase == Phase::Write) return EraseResult::OpenFailed;
            return phase == Phase::Verify && !unbuffered ? EraseResult::VerifyFailed : EraseResult::Success;
        case OsFn::GetFileSizeEx: return phase == Phase::Probe ? EraseResult::Error : EraseResult::Success;
        case OsFn::BCryptGenRandom: return draws == 1 ? EraseResult::Error : EraseResult::Success;
        case OsFn::AlignedAlloc: return EraseResult::VerifyFailed;
        case OsFn::ReadFile: return unbuffered ? EraseResult::Success : EraseResult::VerifyFailed;
        case OsFn::DeleteFileW: return EraseResult::DeleteFailed;
        case OsFn::SetFilePointerEx:
        case OsFn::WriteFile:
            if (phase == Phase::Verify) return EraseResult::VerifyFailed;
            return phase == Phase::Write && injectable > firstPassCall ? EraseResult::WriteFailed : EraseResult::Success;
        default: return EraseResult::Success;
        }
    }
    return EraseResult::Success;
}

// Returns true when `written` is the erased file or its stream, under its own
// name or a scrambled one in the same folder.
bool IsTheErasedFile(const std::wstring& written, const std::wstring& path, const std::wstring& folder)
{
    std::wstring name = written.substr(0, written.find(L':', 2));
    return name == path || (name.substr(0, folder.size()) == folder && IsScrambledName(name.substr(folder.size())));
}

}  // namespace

TEST(SecureEraseSweep, EveryFailedSeamCallEndsInItsStepsResultAndReleasesEverything)
{
    VerifySetting verify(true);
    std::set<EraseResult> seen;
    for (size_t size : {3000u, 70000u}) {  // below one cluster (zeroed in place), and over two chunks
        int n = 1;
        for (;; ++n) {
            TempFolder folder;
            std::wstring path = folder.File(L"victim.bin", Ramp(size));
            FakeOs fake;
            fake.ScriptStreams({{L"::$DATA", {}}, {L":Zone.Identifier:$DATA", Ramp(26)}});
            fake.EmulateUnbufferedReads(512);
            fake.FailNthCallOfAny(n);
            SweepSink sink{&fake};
            StopFlag stop{0};
            EraseResult result = SecureEraseFile(path.c_str(), {Fixed(0x5A), Fixed(0xA5), RandomPass()}, L"done",
                                                 nullptr, NoteFirstPass, &sink, &stop, false);
            std::vector<OsCallRecord> log = fake.CallLog();
            bool fired = fake.InjectionFired();
            SCOPED_TRACE(testing::Message() << size << " bytes, call " << n);
            EXPECT_EQ(fired ? ExpectedResult(log, sink.firstPassCall) : EraseResult::Success, result);
            EXPECT_LEDGER_BALANCED(fake);
            for (const std::wstring& written : fake.WrittenPaths()) {
                EXPECT_TRUE(IsTheErasedFile(written, path, (folder / L"")));
            }
            EXPECT_EQ(result == EraseResult::Success ? 0u : 1u, folder.Names().size());
            seen.insert(result);
            if (!fired) break;
        }
        printf("[ SWEEP    ] %d seam calls failed one at a time during the erase of a %u-byte file\n", n - 1,
               static_cast<unsigned>(size));
    }
    // Every step that can end an erase was reached by some failure.
    EXPECT_EQ((std::set<EraseResult>{EraseResult::Success, EraseResult::VerifyFailed, EraseResult::OpenFailed,
                                     EraseResult::WriteFailed, EraseResult::DeleteFailed, EraseResult::Error}),
              seen);
}
