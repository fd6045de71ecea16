#include "engine/erase_types.h"
#include "jobs/jobs.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Texts = std::vector<std::wstring>;
using Renames = std::vector<std::pair<std::wstring, std::wstring>>;

class FolderRemovalTest : public ::testing::Test {
protected:
    void SetUp() override { stopRequested.store(0); }
    void TearDown() override { stopRequested.store(0); }

    // Returns (old name, new name) of every rename, in order.
    Renames RenamesDone() const
    {
        Renames renames;
        for (const OsCallRecord& call : fake.CallsOf(OsFn::MoveFileW)) renames.emplace_back(call.path, call.path2);
        return renames;
    }

    // Returns the paths given to RemoveDirectoryW, in order.
    Texts Removals() const
    {
        Texts paths;
        for (const OsCallRecord& call : fake.CallsOf(OsFn::RemoveDirectoryW)) paths.push_back(call.path);
        return paths;
    }

    // The next two random names are "abcdefghijklmnop" and "qrstuvwxyzABCDEF".
    void ScriptTwoNames() { fake.ScriptRandom(Ramp(32, 0)); }

    TempFolder temp;
    FakeOs fake;
};

TEST_F(FolderRemovalTest, NestedEmptyFoldersAreRenamedInTheirParentAndRemovedChildFirst)
{
    temp.Folder(L"A\\B");
    ScriptTwoNames();

    RemoveFolders({temp / L"A", temp / L"A\\B"});

    const std::wstring childName = temp / L"A\\abcdefghijklmnop";
    const std::wstring parentName = temp / L"qrstuvwxyzABCDEF";
    EXPECT_EQ((Renames{{temp / L"A\\B", childName}, {temp / L"A", parentName}}), RenamesDone());
    EXPECT_EQ((Texts{childName, parentName}), Removals());
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FolderRemovalTest, FolderThatStillHoldsAFileStaysWithItsAncestorsUnderRandomNames)
{
    temp.File(L"A\\B\\C\\kept.bin", Ramp(300, 9));

    RemoveFolders({temp / L"A\\B", temp / L"A", temp / L"A\\B\\C"});

    std::wstring folder;
    for (int depth = 0; depth < 3; ++depth) {
        const Texts names = temp.Names(folder);
        ASSERT_EQ(1u, names.size()) << "at depth " << depth;
        EXPECT_TRUE(IsScrambledName(names[0])) << "at depth " << depth;
        folder += (folder.empty() ? L"" : L"\\") + names[0];
    }
    EXPECT_EQ(Texts{L"kept.bin"}, temp.Names(folder));
    EXPECT_EQ(Ramp(300, 9), ReadAll(temp / (folder + L"\\kept.bin")));
}

TEST_F(FolderRemovalTest, ForwardSlashesStayInTheParentAndTheNewNameJoinsWithABackslash)
{
    temp.Folder(L"A\\B");
    std::wstring slashed = temp.path();
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    ScriptTwoNames();

    RemoveFolders({slashed + L"/A", slashed + L"/A/B"});

    const Renames renames = RenamesDone();
    ASSERT_EQ(2u, renames.size());
    EXPECT_EQ(slashed + L"/A\\abcdefghijklmnop", renames[0].second);
    EXPECT_EQ(slashed + L"\\qrstuvwxyzABCDEF", renames[1].second);
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FolderRemovalTest, PathWithoutSeparatorIsRemovedWithoutRename)
{
    temp.Folder(L"Solo");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.path().c_str()));

    RemoveFolders({L"Solo"});
    SetCurrentDirectoryW(previous);

    EXPECT_TRUE(RenamesDone().empty());
    EXPECT_EQ(Texts{L"Solo"}, Removals());
    EXPECT_FALSE(PathExists(temp / L"Solo"));
}

TEST_F(FolderRemovalTest, TenFailedRenamesFallBackToRemovalUnderTheOldName)
{
    temp.Folder(L"A");
    fake.FailEveryCall(OsFn::MoveFileW, ERROR_ACCESS_DENIED);

    RemoveFolders({temp / L"A"});

    const Renames renames = RenamesDone();
    ASSERT_EQ(10u, renames.size());
    for (const auto& rename : renames) {
        EXPECT_EQ(temp / L"A", rename.first);
        ASSERT_EQ(temp.path().size() + 17, rename.second.size());
        EXPECT_TRUE(IsScrambledName(rename.second.substr(temp.path().size() + 1)));
    }
    EXPECT_NE(renames[0].second, renames[1].second) << "each attempt draws a fresh name";
    EXPECT_EQ(Texts{temp / L"A"}, Removals());
    EXPECT_FALSE(PathExists(temp / L"A"));
}

TEST_F(FolderRemovalTest, RandomSourceFailureSkipsRenamingForThatFolderOnly)
{
    temp.Folder(L"A\\B");
    fake.FailNthCall(OsFn::BCryptGenRandom, 1);

    RemoveFolders({temp / L"A", temp / L"A\\B"});

    const Renames renames = RenamesDone();
    ASSERT_EQ(1u, renames.size());
    EXPECT_EQ(temp / L"A", renames[0].first);
    EXPECT_EQ(temp / L"A\\B", Removals().front());
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FolderRemovalTest, StopFlagIsReadBeforeEachFolder)
{
    temp.Folder(L"A\\B");
    stopRequested.store(1);
    RemoveFolders({temp / L"A", temp / L"A\\B"});
    EXPECT_EQ(0, fake.InjectableCalls()) << "a stop set beforehand touches nothing";
    EXPECT_TRUE(PathExists(temp / L"A\\B"));

    stopRequested.store(0);
    fake.hooks.RemoveDirectoryW = [](LPCWSTR path) {
        stopRequested.store(1);
        return RealOsCalls().RemoveDirectoryW(path);
    };
    RemoveFolders({temp / L"A", temp / L"A\\B"});
    EXPECT_EQ(1u, RenamesDone().size());
    EXPECT_EQ(Texts{L"A"}, temp.Names());
    EXPECT_EQ(Texts{}, temp.Names(L"A"));
}

// Duplicates, folders that vanished since the drop, folders that still hold
// something and a file put in place of a listed folder: each folder is dealt
// with once, quietly, and nothing else moves.
TEST_F(FolderRemovalTest, DuplicateVanishedNonEmptyAndReplacedFoldersInOneList)
{
    temp.Folder(L"Empty");
    temp.File(L"Full\\Inner\\left.txt", Ramp(40, 3));
    temp.File(L"Replaced", Ramp(12, 5));

    RemoveFolders({temp / L"Empty", temp / L"Gone", temp / L"Empty", temp / L"Replaced", temp / L"Full",
                   temp / L"Full\\Inner"});

    const Renames renames = RenamesDone();
    ASSERT_EQ(3u, renames.size());
    EXPECT_EQ(temp / L"Full\\Inner", renames[0].first);
    for (const auto& rename : renames) {
        EXPECT_NE(temp / L"Gone", rename.first);
        EXPECT_NE(temp / L"Replaced", rename.first);
    }
    EXPECT_EQ(Ramp(12, 5), ReadAll(temp / L"Replaced"));
    const Texts left = temp.Names();
    ASSERT_EQ(2u, left.size());
    const std::wstring full = left[0] == L"Replaced" ? left[1] : left[0];
    const Texts inner = temp.Names(full);
    ASSERT_EQ(1u, inner.size());
    EXPECT_EQ(Ramp(40, 3), ReadAll(temp / (full + L"\\" + inner[0] + L"\\left.txt")));
}

}  // namespace
