// The fake OS table is what every failure test stands on: if it miscounted,
// leaked or failed to redirect, those tests would pass for the wrong reason.
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

namespace {

HANDLE OpenForWrite(const std::wstring& path, DWORD flags = 0)
{
    return os.CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, flags, nullptr);
}

TEST(FakeOs, FailsExactlyTheNthCallAndRestoresTheRealTable)
{
    ScratchFolder folder;
    std::wstring path = folder.Path(L"a.bin");
    {
        FakeOs fake;
        fake.FailNthCall(OsFn::CreateFileW, 2, ERROR_SHARING_VIOLATION);
        HANDLE first = OpenForWrite(path);
        ASSERT_NE(INVALID_HANDLE_VALUE, first);
        EXPECT_FALSE(fake.InjectionFired());
        EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForWrite(path));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
        EXPECT_TRUE(fake.InjectionFired());
        os.CloseHandle(first);
        EXPECT_EQ(2, fake.Calls(OsFn::CreateFileW));
        EXPECT_LEDGER_BALANCED(fake);
    }
    EXPECT_EQ(RealOsCalls().CreateFileW, os.CreateFileW);
}

TEST(FakeOs, AnyCallInjectionSkipsReleaseFunctions)
{
    ScratchFolder folder;
    FakeOs fake;
    fake.FailNthCallOfAny(2);
    HANDLE file = OpenForWrite(folder.Path(L"b.bin"));  // call 1
    os.CloseHandle(file);                                // a release: not counted
    EXPECT_FALSE(os.FlushFileBuffers(file));             // call 2 fails before reaching the system
    EXPECT_TRUE(fake.InjectionFired());
    EXPECT_EQ(2, fake.InjectableCalls());
}

TEST(FakeOs, LedgerReportsLeaksAndDoubleReleases)
{
    ScratchFolder folder;
    FakeOs fake;
    HANDLE file = OpenForWrite(folder.Path(L"c.bin"));
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

TEST(FakeOs, ShortensWritesAndFailsUnalignedUnbufferedReads)
{
    ScratchFolder folder;
    std::wstring path = folder.Create(L"d.bin", Ramp(1024));
    FakeOs fake;
    fake.ShortenNthWrite(1, 10);
    fake.EmulateUnbufferedReads(512);
    HANDLE file = OpenForWrite(path);
    uint8_t buffer[1024] = {};
    DWORD done = 0;
    EXPECT_TRUE(os.WriteFile(file, buffer, 100, &done, nullptr));
    EXPECT_EQ(10u, done);
    os.CloseHandle(file);

    HANDLE unbuffered = os.CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_NO_BUFFERING, nullptr);
    void* aligned = os.AlignedAlloc(1024, 4096);
    EXPECT_FALSE(os.ReadFile(unbuffered, aligned, 100, &done, nullptr));
    EXPECT_TRUE(os.ReadFile(unbuffered, aligned, 512, &done, nullptr));
    EXPECT_EQ(512u, done);
    os.AlignedFree(aligned);
    os.CloseHandle(unbuffered);
    EXPECT_LEDGER_BALANCED(fake);
}

TEST(FakeOs, ScriptedStreamsAreListedAndWritableByName)
{
    ScratchFolder folder;
    std::wstring path = folder.Create(L"e.bin", Ramp(10));
    FakeOs fake;
    fake.ScriptStreams({{L"::$DATA", {}}, {L":Zone.Identifier:$DATA", Ramp(26)}});

    WIN32_FIND_STREAM_DATA data;
    HANDLE listing = os.FindFirstStreamW(path.c_str(), FindStreamInfoStandard, &data, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, listing);
    EXPECT_STREQ(L"::$DATA", data.cStreamName);
    ASSERT_TRUE(os.FindNextStreamW(listing, &data));
    EXPECT_STREQ(L":Zone.Identifier:$DATA", data.cStreamName);
    EXPECT_EQ(26, data.StreamSize.QuadPart);
    EXPECT_FALSE(os.FindNextStreamW(listing, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_EOF), GetLastError());
    os.FindClose(listing);

    HANDLE stream = os.CreateFileW((path + L":Zone.Identifier").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, stream);
    uint8_t zeros[26] = {};
    DWORD done = 0;
    EXPECT_TRUE(os.WriteFile(stream, zeros, sizeof(zeros), &done, nullptr));
    os.CloseHandle(stream);
    EXPECT_EQ(std::vector<uint8_t>(26, 0), fake.StreamContents(L":Zone.Identifier"));
    EXPECT_EQ(Ramp(10), ReadAll(path));  // the main stream is untouched
    EXPECT_EQ(1u, fake.WrittenPaths().count(path + L":Zone.Identifier"));
    EXPECT_LEDGER_BALANCED(fake);
}

TEST(FakeOs, ScriptedRandomBytesComeFirst)
{
    FakeOs fake;
    fake.ScriptRandom({1, 2, 3});
    uint8_t bytes[5] = {};
    EXPECT_EQ(0, os.BCryptGenRandom(nullptr, bytes, 2, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
    EXPECT_EQ(1, bytes[0]);
    EXPECT_EQ(2, bytes[1]);
    EXPECT_EQ(0, os.BCryptGenRandom(nullptr, bytes, 1, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
    EXPECT_EQ(3, bytes[0]);
    fake.FailNthCall(OsFn::BCryptGenRandom, 3);
    EXPECT_NE(0, os.BCryptGenRandom(nullptr, bytes, 1, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace
