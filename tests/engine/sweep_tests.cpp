// In the manner of SQLite's I/O-error tests: a whole erase is repeated with
// the Nth call through the seam failing, for N = 1, 2, ... until a run gets
// through without meeting the failure.
#include "engine/secure_erase.h"
#include "os/verbatim_path.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <set>

TEST(SecureEraseSweep, EveryFailedSeamCallEndsInAKnownResultAndReleasesEverything)
{
    verifyReadBack = 1;
    const std::set<EraseResult> allowed = {EraseResult::Success, EraseResult::VerifyFailed, EraseResult::OpenFailed,
                                           EraseResult::WriteFailed, EraseResult::DeleteFailed, EraseResult::Error};
    std::set<EraseResult> seen;
    for (size_t size : {3000u, 70000u}) {  // below one cluster (zeroed in place), and over two chunks
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << size << " bytes, call " << n);
            TempFolder folder;
            std::wstring path = folder.File(L"victim.bin", Ramp(size));
            FakeOs fake;
            fake.ScriptStreams({{L"::$DATA", {}}, {L":Zone.Identifier:$DATA", Ramp(26)}});
            fake.EmulateUnbufferedReads(512);
            fake.FailNthCallOfAny(n);
            StopFlag stop{0};
            EraseResult result = SecureEraseFile(path.c_str(), {Fixed(0x5A), Fixed(0xA5), RandomPass()}, L"done",
                                                 nullptr, nullptr, nullptr, &stop, false);
            EXPECT_EQ(1u, allowed.count(result));
            EXPECT_LEDGER_BALANCED(fake);
            // Nothing outside the folder is written, and nothing in it but the one file is left.
            for (const std::wstring& written : fake.WrittenPaths()) EXPECT_EQ(0u, written.rfind(VerbatimPath(folder / L""), 0));
            EXPECT_EQ(result == EraseResult::Success ? 0u : 1u, folder.Names().size());
            seen.insert(result);
            if (!fake.InjectionFired()) break;
        }
    }
    EXPECT_EQ(allowed, seen);  // every step that can end an erase was reached by some failure
}
