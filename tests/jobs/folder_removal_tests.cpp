#include "engine/erase_types.h"
#include "jobs/jobs.h"
#include "tests/jobs/temp_folder.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Texts = std::vector<std::wstring>;

class FolderRemovalTest : public ::testing::Test {
protected:
    void SetUp() override { stopRequested.store(0); }
    void TearDown() override { stopRequested.store(0); }

    // Returns (old name, new name) of every rename, in order.
    std::vector<std::pair<std::wstring, std::wstring>> Renames() const
    {
        std::vector<std::pair<std::wstring, std::wstring>> renames;
        for (const OsCallRecord& call : fake.CallsOf(OsFn::MoveFileW)) {
            renames.emplace_back(call.path, call.path2);
        }
        return renames;
    }

    // Returns the paths given to RemoveDirectoryW, in order.
    Texts Removals() const
    {
        Texts paths;
        for (const OsCallRecord& call : fake.CallsOf(OsFn::RemoveDirectoryW)) {
            paths.push_back(call.path);
        }
        return paths;
    }

    // Scripts the next two random names: "abcdefghijklmnop", then "qrstuvwxyzABCDEF".
    void ScriptTwoNames()
    {
        std::vector<uint8_t> bytes(32);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i);
        }
        fake.ScriptRandom(bytes);
    }

    TempFolder temp;
    FakeOs fake;
};

TEST_F(FolderRemovalTest, NestedEmptyFoldersAreRenamedInTheirParentAndRemovedChildFirst)
{
    ASSERT_TRUE(MakeFolder(temp / L"A\\B"));
    ScriptTwoNames();

    RemoveFolders({temp / L"A", temp / L"A\\B"});

    const std::wstring childName = temp / L"A\\abcdefghijklmnop";
    const std::wstring parentName = temp / L"qrstuvwxyzABCDEF";
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{{temp / L"A\\B", childName},
                                                                   {temp / L"A", parentName}}),
              Renames());
    EXPECT_EQ((Texts{childName, parentName}), Removals());
    EXPECT_EQ(Texts{}, NamesIn(temp.path()));
}

TEST_F(FolderRemovalTest, FolderThatStillHoldsAFileStaysWithItsAncestorsUnderRandomNames)
{
    ASSERT_TRUE(MakeFolder(temp / L"A\\B\\C"));
    ASSERT_TRUE(WriteWholeFile(temp / L"A\\B\\C\\kept.bin", PatternBytes(300, 9)));

    RemoveFolders({temp / L"A\\B", temp / L"A", temp / L"A\\B\\C"});

    std::wstring folder = temp.path();
    for (int depth = 0; depth < 3; ++depth) {
        const Texts names = NamesIn(folder);
        ASSERT_EQ(1u, names.size()) << "at depth " << depth;
        EXPECT_TRUE(IsRandomName(names[0])) << "at depth " << depth;
        folder += L"\\" + names[0];
    }
    EXPECT_EQ(Texts{L"kept.bin"}, NamesIn(folder));
    EXPECT_EQ(PatternBytes(300, 9), ReadWholeFile(folder + L"\\kept.bin"));
}

TEST_F(FolderRemovalTest, ForwardSlashesStayInTheParentAndTheNewNameJoinsWithABackslash)
{
    ASSERT_TRUE(MakeFolder(temp / L"A\\B"));
    std::wstring slashed = temp.path();
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    ScriptTwoNames();

    RemoveFolders({slashed + L"/A", slashed + L"/A/B"});

    const auto renames = Renames();
    ASSERT_EQ(2u, renames.size());
    EXPECT_EQ(slashed + L"/A\\abcdefghijklmnop", renames[0].second);
    EXPECT_EQ(slashed + L"\\qrstuvwxyzABCDEF", renames[1].second);
    EXPECT_EQ(Texts{}, NamesIn(temp.path()));
}

TEST_F(FolderRemovalTest, PathWithoutSeparatorIsRemovedWithoutRename)
{
    ASSERT_TRUE(MakeFolder(temp / L"Solo"));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.path().c_str()));

    RemoveFolders({L"Solo"});
    SetCurrentDirectoryW(previous);

    EXPECT_TRUE(Renames().empty());
    EXPECT_EQ(Texts{L"Solo"}, Removals());
    EXPECT_FALSE(PathExists(temp / L"Solo"));
}

TEST_F(FolderRemovalTest, TenFailedRenamesFallBackToRemovalUnderTheOldName)
{
    ASSERT_TRUE(MakeFolder(temp / L"A"));
    fake.FailEveryCall(OsFn::MoveFileW, ERROR_ACCESS_DENIED);

    RemoveFolders({temp / L"A"});

    const auto renames = Renames();
    ASSERT_EQ(10u, renames.size());
    for (const auto& rename : renames) {
        EXPECT_EQ(temp / L"A", rename.first);
        ASSERT_EQ(temp.path().size() + 17, rename.second.size());
        EXPECT_TRUE(IsRandomName(rename.second.substr(temp.path().size() + 1)));
    }
    EXPECT_NE(renames[0].second, renames[1].second) << "each attempt draws a fresh name";
    EXPECT_EQ(Texts{temp / L"A"}, Removals());
    EXPECT_FALSE(PathExists(temp / L"A"));
}

TEST_F(FolderRemovalTest, RandomSourceFailureSkipsRenamingForThatFolderOnly)
{
    ASSERT_TRUE(MakeFolder(temp / L"A\\B"));
    fake.FailNthCall(OsFn::BCryptGenRandom, 1);

    RemoveFolders({temp / L"A", temp / L"A\\B"});

    const auto renames = Renames();
    ASSERT_EQ(1u, renames.size());
    EXPECT_EQ(temp / L"A", renames[0].first);
    EXPECT_EQ(temp / L"A\\B", Removals().front());
    EXPECT_EQ(Texts{}, NamesIn(temp.path()));
}

TEST_F(FolderRemovalTest, StopFlagSetBeforehandTouchesNothing)
{
    ASSERT_TRUE(MakeFolder(temp / L"A\\B"));
    stopRequested.store(1);

    RemoveFolders({temp / L"A", temp / L"A\\B"});

    EXPECT_EQ(0, fake.InjectableCalls());
    EXPECT_TRUE(PathExists(temp / L"A\\B"));
}

TEST_F(FolderRemovalTest, StopFlagIsReadBeforeEachFolder)
{
    ASSERT_TRUE(MakeFolder(temp / L"A\\B"));
    fake.hooks.RemoveDirectoryW = [](LPCWSTR path) {
        stopRequested.store(1);
        return RealOsCalls().RemoveDirectoryW(path);
    };

    RemoveFolders({temp / L"A", temp / L"A\\B"});

    EXPECT_EQ(1u, Renames().size());
    EXPECT_EQ(Texts{L"A"}, NamesIn(temp.path()));
    EXPECT_EQ(Texts{}, NamesIn(temp / L"A"));
}

// Duplicates, folders that vanished since the drop and folders that still
// hold something: each is dealt with once, quietly, and nothing else moves.
TEST_F(FolderRemovalTest, DuplicateVanishedAndNonEmptyFoldersInOneList)
{
    ASSERT_TRUE(MakeFolder(temp / L"Empty"));
    ASSERT_TRUE(MakeFolder(temp / L"Full\\Inner"));
    ASSERT_TRUE(WriteWholeFile(temp / L"Full\\Inner\\left.txt", PatternBytes(40, 3)));

    RemoveFolders({temp / L"Empty", temp / L"Gone", temp / L"Empty", temp / L"Full", temp / L"Full\\Inner"});

    const auto renames = Renames();
    ASSERT_EQ(3u, renames.size());
    EXPECT_EQ(temp / L"Full\\Inner", renames[0].first);
    for (const auto& rename : renames) {
        EXPECT_NE(temp / L"Gone", rename.first);
    }
    const Texts left = NamesIn(temp.path());
    ASSERT_EQ(1u, left.size());
    const Texts inner = NamesIn(temp / left[0]);
    ASSERT_EQ(1u, inner.size());
    EXPECT_EQ(PatternBytes(40, 3), ReadWholeFile(temp / (left[0] + L"\\" + inner[0] + L"\\left.txt")));
}

// A listed folder that has been replaced by a file since the drop is not a
// folder we were given: the file keeps its name.
TEST_F(FolderRemovalTest, FileInPlaceOfAListedFolderIsNotRenamed)
{
    ASSERT_TRUE(WriteWholeFile(temp / L"A", PatternBytes(12, 5)));

    RemoveFolders({temp / L"A"});

    EXPECT_TRUE(Renames().empty());
    EXPECT_EQ(PatternBytes(12, 5), ReadWholeFile(temp / L"A"));
}

}  // namespace
