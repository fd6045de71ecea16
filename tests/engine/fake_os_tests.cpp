// The fake OS table is what every failure test stands on: if it miscounted,
// leaked or failed to redirect, those tests would pass for the wrong reason.
// Its shortened transfers, unbuffered reads, scripted streams and scripted
// random bytes are checked byte for byte by the engine tests that use them.
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace {

HANDLE OpenForWrite(const std::wstring& path)
{
    return os.CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
}

TEST(FakeOs, FailsExactlyTheNthCallSkipsReleasesAndRestoresTheRealTable)
{
    TempFolder folder;
    {
        FakeOs fake;
        fake.FailNthCall(OsFn::CreateFileW, 2, ERROR_SHARING_VIOLATION);
        fake.FailNthCallOfAny(4);
        HANDLE first = OpenForWrite(folder / L"a.bin");  // call 1
        ASSERT_NE(INVALID_HANDLE_VALUE, first);
        EXPECT_FALSE(fake.InjectionFired());
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForWrite(folder / L"a.bin"));  // call 2
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
        EXPECT_TRUE(fake.InjectionFired());
        DWORD done = 0;
        EXPECT_TRUE(os.WriteFile(first, "x", 1, &done, nullptr));  // call 3
        EXPECT_EQ(std::set<std::wstring>{folder / L"a.bin"}, fake.WrittenPaths());
        os.CloseHandle(first);                     // a release: never counted, never failed
        EXPECT_FALSE(os.FlushFileBuffers(first));  // call 4 fails before reaching the system
        EXPECT_EQ(2, fake.Calls(OsFn::CreateFileW));
        EXPECT_EQ(4, fake.InjectableCalls());
        EXPECT_LEDGER_BALANCED(fake);
    }
    EXPECT_EQ(RealOsCalls().CreateFileW, os.CreateFileW);
}

TEST(FakeOs, LedgerReportsLeaksAndDoubleReleases)
{
    TempFolder folder;
    FakeOs fake;
    HANDLE file = OpenForWrite(folder / L"c.bin");
    void* block = os.AlignedAlloc(4096, 4096);
    EXPECT_NE("", fake.LedgerProblems());
    EXPECT_EQ(1, fake.OpenHandleCount());
    EXPECT_EQ(1, fake.LiveAllocationCount());
    os.CloseHandle(file);
    os.AlignedFree(block);
    EXPECT_LEDGER_BALANCED(fake);
    os.CloseHandle(file);
    EXPECT_NE(std::string::npos, fake.LedgerProblems().find("not open"));
}

}  // namespace
