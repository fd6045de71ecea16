#include "engine/scramble_name.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

TEST(ScrambleFileName, RenamesToSixteenLettersAndDigitsInTheSameFolder)
{
    TempFolder folder;
    std::wstring path = folder.File(L"report.docx", Ramp(10));
    std::wstring renamed = ScrambleFileName(path.c_str());
    ASSERT_EQ(1u, folder.Names().size());
    EXPECT_TRUE(IsScrambledName(folder.Names()[0]));
    EXPECT_EQ(folder / folder.Names()[0], renamed);
    EXPECT_EQ(Ramp(10), ReadAll(renamed));
}

TEST(ScrambleFileName, KeepsTheNameWhenRenamingOrTheRandomSourceFails)
{
    FakeOs fake;
    fake.FailEveryCall(OsFn::MoveFileW);
    EXPECT_EQ(L"", ScrambleFileName(L"C:\\data\\report.docx"));
    EXPECT_EQ(10, fake.Calls(OsFn::MoveFileW));
    EXPECT_EQ(10, fake.Calls(OsFn::BCryptGenRandom));
    fake.FailEveryCall(OsFn::BCryptGenRandom);
    EXPECT_EQ(L"", ScrambleFileName(L"C:\\data\\report.docx"));
    EXPECT_EQ(10, fake.Calls(OsFn::MoveFileW));  // no further attempt
}

TEST(ScrambleFileName, KeepsShareAndDriveAndRefusesAnOverlongDirectory)
{
    FakeOs fake;
    fake.ScriptRandom(std::vector<uint8_t>(48, 1));  // every character 'b'
    fake.hooks.MoveFileW = [](LPCWSTR, LPCWSTR) { return TRUE; };
    EXPECT_EQ(L"\\\\server\\share\\dir\\bbbbbbbbbbbbbbbb", ScrambleFileName(L"\\\\server\\share\\dir\\a.txt"));
    EXPECT_EQ(L"C:bbbbbbbbbbbbbbbb", ScrambleFileName(L"C:a.txt"));
    std::wstring directory = L"\\" + std::wstring(253, L'd') + L"\\";  // 255 characters: still fits
    EXPECT_EQ(L"C:" + directory + L"bbbbbbbbbbbbbbbb", ScrambleFileName((L"C:" + directory + L"x").c_str()));
    directory.insert(1, L"d");
    EXPECT_EQ(L"", ScrambleFileName((L"C:" + directory + L"x").c_str()));
    EXPECT_EQ(3, fake.Calls(OsFn::MoveFileW));
    EXPECT_EQ(3, fake.Calls(OsFn::BCryptGenRandom));
}
