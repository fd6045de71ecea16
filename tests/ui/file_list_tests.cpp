// Drops of files and folders onto the window and the list they make.
#include "tests/ui/window_test.h"

#include "app/ui_state.h"
#include "ui/file_list.h"

#include <commctrl.h>
#include <algorithm>

namespace {

// Returns the files below `folder` in the order the file system lists them,
// each folder's files where the folder is met; folders go to `folders`.
void ListTree(const std::wstring& folder, std::vector<std::wstring>& files, std::vector<std::wstring>& folders)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, listing);
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(path);
            ListTree(path, files, folders);
        } else {
            files.push_back(path);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

std::wstring FileNameOf(const std::wstring& path)
{
    return path.substr(path.rfind(L'\\') + 1);
}

LPARAM ItemData(int row)
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageW(ui.fileList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

}  // namespace

class FileListTest : public WindowTest {
protected:
    // Checks that the list shows exactly `paths`, in order, each "Ready",
    // and that droppedFiles and the rows' item data agree with it.
    void ExpectRows(const std::vector<std::wstring>& paths)
    {
        EXPECT_EQ(paths, droppedFiles);
        ASSERT_EQ(static_cast<int>(paths.size()), RowCount());
        for (int row = 0; row < RowCount(); ++row) {
            EXPECT_EQ(FileNameOf(paths[row]), RowText(row, 0));
            EXPECT_EQ(L"Ready", RowText(row, 1));
            EXPECT_EQ(row, ItemData(row));
        }
    }

};

TEST_F(FileListTest, ASingleFileIsOneReadyRowAndNoFolder)
{
    std::wstring file = temp.File(L"secret.txt");
    Drop({file});
    ExpectRows({file});
    EXPECT_TRUE(droppedFolders.empty());
}

TEST_F(FileListTest, AFolderTreeListsItsFilesInListingOrderAndItsFoldersParentFirst)
{
    std::wstring a = temp.Folder(L"A");
    temp.File(L"A\\f.txt");
    temp.File(L"A\\B\\g.txt");
    temp.File(L"A\\B\\C\\h.txt");
    temp.File(L"A\\z.txt");
    temp.Folder(L"A\\Empty");
    std::wstring loose = temp.File(L"loose.txt");

    Drop({a, loose});

    std::vector<std::wstring> files, folders = {a};
    ListTree(a, files, folders);
    files.push_back(loose);
    ExpectRows(files);
    EXPECT_EQ(folders, droppedFolders);
    auto position = [](const std::wstring& folder) {
        return std::find(droppedFolders.begin(), droppedFolders.end(), folder) - droppedFolders.begin();
    };
    EXPECT_LT(position(a), position(a + L"\\B"));
    EXPECT_LT(position(a + L"\\B"), position(a + L"\\B\\C"));
    EXPECT_NE(droppedFolders.end(), std::find(droppedFolders.begin(), droppedFolders.end(), a + L"\\Empty"));
}

TEST_F(FileListTest, LinksAndJunctionsAreNeitherFollowedNorListed)
{
    // Wine reports a directory symlink as a reparse point; make one appear
    // inside the dropped folder and as a dropped path of its own.
    std::wstring a = temp.Folder(L"A");
    std::wstring kept = temp.File(L"A\\kept.txt");
    temp.File(L"A\\link\\outside.txt");
    std::wstring topLink = temp.File(L"toplink");
    auto markLinks = [](LPWIN32_FIND_DATAW entry) {
        if (wcscmp(entry->cFileName, L"link") == 0)
            entry->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    };
    fake.hooks.FindFirstFileW = [markLinks](LPCWSTR pattern, LPWIN32_FIND_DATAW entry) {
        HANDLE listing = RealOsCalls().FindFirstFileW(pattern, entry);
        if (listing != INVALID_HANDLE_VALUE)
            markLinks(entry);
        return listing;
    };
    fake.hooks.FindNextFileW = [markLinks](HANDLE listing, LPWIN32_FIND_DATAW entry) {
        BOOL more = RealOsCalls().FindNextFileW(listing, entry);
        if (more)
            markLinks(entry);
        return more;
    };
    fake.hooks.GetFileAttributesW = [topLink](LPCWSTR path) {
        DWORD attributes = RealOsCalls().GetFileAttributesW(path);
        return topLink == path ? attributes | FILE_ATTRIBUTE_REPARSE_POINT : attributes;
    };

    Drop({topLink, a});

    ExpectRows({kept});
    EXPECT_EQ(std::vector<std::wstring>{a}, droppedFolders);
    for (const OsCallRecord& listing : fake.CallsOf(OsFn::FindFirstFileW))
        EXPECT_EQ(std::wstring::npos, listing.path.find(L"link")) << "followed the link: " << Narrow(listing.path);
    EXPECT_EQ(fake.Calls(OsFn::FindFirstFileW), fake.Calls(OsFn::FindClose));
}

TEST_F(FileListTest, ASecondDropReplacesTheFirstEvenWhenItBringsNothing)
{
    std::wstring folder = temp.Folder(L"A");
    temp.File(L"A\\one.txt");
    Drop({folder});
    ASSERT_EQ(1, RowCount());

    std::wstring other = temp.File(L"other.txt");
    Drop({other});
    ExpectRows({other});
    EXPECT_TRUE(droppedFolders.empty());

    Drop({temp.path() + L"\\vanished.txt"});
    ExpectRows({});
    Drop({});
    ExpectRows({});
    EXPECT_TRUE(droppedFolders.empty());
}

TEST_F(FileListTest, AFileDroppedAlsoInsideADroppedFolderIsListedTwice)
{
    std::wstring folder = temp.Folder(L"A");
    std::wstring file = temp.File(L"A\\twice.txt");
    Drop({folder, file});
    ExpectRows({file, file});
}

TEST_F(FileListTest, AnUnlistableFolderIsRecordedButAddsNoRows)
{
    std::wstring folder = temp.Folder(L"Locked");
    temp.File(L"Locked\\hidden.txt");
    fake.FailEveryCall(OsFn::FindFirstFileW);
    Drop({folder});
    ExpectRows({});
    EXPECT_EQ(std::vector<std::wstring>{folder}, droppedFolders);
}

TEST_F(FileListTest, PathsLongerThanTheOldLimitArriveWhole)
{
    std::wstring deep = L"deep";
    while (deep.size() < 300)
        deep += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + deep.size() % 26));
    std::wstring top = temp.Folder(L"deep");
    std::wstring file = temp.File(deep + L"\\long name.txt");
    ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
    ASSERT_TRUE(PathExists(file));

    Drop({file});
    ExpectRows({file});
    Drop({top});
    ExpectRows({file});
}
