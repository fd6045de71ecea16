// The Wipe Free Space command: the busy rule, the folder browser, the
// question with its GB figure and SSD sentence, and a real wipe into a
// temporary folder whose free space the seam makes small.
#include "tests/ui/window_test.h"

#include "app/ui_state.h"
#include "engine/erase_types.h"
#include "jobs/job_report.h"
#include "ui/control_ids.h"

#include <algorithm>

namespace {

const wchar_t kQuestionTail[] =
    L" GB\n\nResidual data from previously deleted files will be overwritten. This may take time.";
const wchar_t kSsdSentence[] = L"\n\nWarning: This drive is an SSD. Wear leveling may limit effectiveness.";

}  // namespace

class WipeCommandTest : public WindowTest {
protected:
    // The free space every caller is told about, on any volume.
    void ReportFreeSpace(ULONGLONG bytes)
    {
        fake.hooks.GetDiskFreeSpaceExW = [bytes](LPCWSTR, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                                 PULARGE_INTEGER free) {
            available->QuadPart = bytes;
            if (total)
                total->QuadPart = bytes * 2;
            if (free)
                free->QuadPart = bytes;
            return TRUE;
        };
    }

    void ExpectNothingStarted()
    {
        ExpectIdle(L"");
        EXPECT_EQ(0, fake.Calls(OsFn::StartThread));
    }
};

TEST_F(WipeCommandTest, TheBrowserAsksForAFileSystemFolderAndCancelingDoesNothing)
{
    BROWSEINFOW seen = {};
    std::wstring title;
    fake.hooks.SHBrowseForFolderW = [&](LPBROWSEINFOW browse) {
        seen = *browse;
        title = browse->lpszTitle;
        return static_cast<PIDLIST_ABSOLUTE>(nullptr);
    };
    MenuCommand(IDM_WIPE_FREE_SPACE);
    EXPECT_EQ(window, seen.hwndOwner);
    EXPECT_EQ(nullptr, seen.pidlRoot);
    EXPECT_EQ(nullptr, seen.pszDisplayName);
    EXPECT_EQ(L"Select a drive or folder on the target volume", title);
    EXPECT_EQ(static_cast<UINT>(BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE), seen.ulFlags);
    EXPECT_EQ(nullptr, seen.lpfn);
    EXPECT_EQ(0, fake.Calls(OsFn::GetVolumePathNameW));
    EXPECT_TRUE(Boxes().empty());
    ExpectNothingStarted();
}

TEST_F(WipeCommandTest, AChoiceWithoutPathVolumeOrFreeSpaceEndsSilently)
{
    std::wstring folder = temp.Folder(L"Work");
    BrowseTo(L"");  // a path the hook cannot give: the choice has no file-system path
    fake.hooks.SHGetPathFromIDListW = [](PCIDLIST_ABSOLUTE, LPWSTR) { return FALSE; };
    MenuCommand(IDM_WIPE_FREE_SPACE);
    EXPECT_EQ(1, fake.Calls(OsFn::CoTaskMemFree)) << "the item is freed whatever the outcome";
    EXPECT_EQ(0, fake.Calls(OsFn::GetVolumePathNameW));

    BrowseTo(folder);
    fake.FailNthCall(OsFn::GetVolumePathNameW, 1);
    MenuCommand(IDM_WIPE_FREE_SPACE);
    EXPECT_EQ(0, fake.Calls(OsFn::GetDiskFreeSpaceExW));

    fake.FailNthCall(OsFn::GetDiskFreeSpaceExW, 1);
    MenuCommand(IDM_WIPE_FREE_SPACE);
    EXPECT_EQ(1, fake.Calls(OsFn::GetDiskFreeSpaceExW));

    EXPECT_TRUE(Boxes().empty());
    ExpectNothingStarted();
    EXPECT_LEDGER_BALANCED(fake);
}

TEST_F(WipeCommandTest, TheQuestionNamesTheVolumeItsFreeSpaceInGbAndAnSsdSentence)
{
    std::wstring ssd = temp.Folder(L"ssd");
    std::wstring old = temp.Folder(L"Work\\Old");
    volumes.Install(fake, ssd);
    stopRequested.exchange(1);
    verifyReadBack.exchange(0);

    ReportFreeSpace(10737418240ull);
    BrowseTo(old);
    MenuCommand(IDM_WIPE_FREE_SPACE);
    ReportFreeSpace(1610612736ull);
    BrowseTo(ssd);
    MenuCommand(IDM_WIPE_FREE_SPACE);

    auto boxes = Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(std::wstring(L"Wipe free space on drive H:\\?\n\nFree space: 10.00") + kQuestionTail, boxes[0].path);
    EXPECT_EQ(std::wstring(L"Wipe free space on drive S:\\?\n\nFree space: 1.50") + kQuestionTail + kSsdSentence,
              boxes[1].path);
    for (const OsCallRecord& box : boxes) {
        EXPECT_EQ(L"Confirm Free Space Wipe", box.path2);
        EXPECT_EQ(MB_OKCANCEL | MB_ICONWARNING, box.number);
    }
    auto freeSpaceAsked = fake.CallsOf(OsFn::GetDiskFreeSpaceExW);
    ASSERT_EQ(2u, freeSpaceAsked.size());
    EXPECT_EQ(L"H:\\", freeSpaceAsked[0].path);
    // Declining changed nothing.
    ExpectNothingStarted();
    EXPECT_EQ(1, stopRequested.load());
    EXPECT_EQ(0, verifyReadBack.load());
}

TEST_F(WipeCommandTest, AConfirmedWipeFillsTheChosenFolderNotTheVolumeRoot)
{
    std::wstring old = temp.Folder(L"Work\\Old");
    ReportFreeSpace(134217728ull + 4096);  // just above the minimum: a 64 MiB wipe file
    BrowseTo(old);
    SendMessageW(ui.methodCombo, CB_SETCURSEL, 1, 0);  // zero fill
    SendMessageW(ui.verifyCheck, BM_SETCHECK, BST_UNCHECKED, 0);
    boxAnswer = IDOK;
    RecordReports();

    MenuCommand(IDM_WIPE_FREE_SPACE);
    EXPECT_EQ(L"Started wiping free space...", StatusLine());
    EXPECT_FALSE(IsWindowEnabled(ui.startButton));
    EXPECT_TRUE(IsWindowEnabled(ui.cancelButton));
    ASSERT_TRUE(WaitForJobEnd());

    wchar_t volume[MAX_PATH];
    ASSERT_TRUE(GetVolumePathNameW(old.c_str(), volume, MAX_PATH));
    EXPECT_EQ(0u, Boxes().at(0).path.find(std::wstring(L"Wipe free space on drive ") + volume + L"?"));
    auto created = fake.CallsOf(OsFn::CreateFileW);
    bool wipeFileInFolder = std::any_of(created.begin(), created.end(), [&](const OsCallRecord& call) {
        return call.path.rfind(old + L"\\_wipe_", 0) == 0 && call.path.size() == old.size() + 27;
    });
    EXPECT_TRUE(wipeFileInFolder);
    EXPECT_TRUE(Reported(L"Allocating wipe space..."));
    EXPECT_TRUE(Reported(L"File successfully overwritten (Zero fill, 1-pass) and deleted."));
    EXPECT_TRUE(std::all_of(reports.begin(), reports.end(), [](const Report& r) { return r.row == -1; }));
    EXPECT_EQ(0, verifyReadBack.load());
    EXPECT_EQ(L"Operation completed successfully.", StatusLine());
    EXPECT_EQ(0, BarPosition());
    EXPECT_TRUE(IsWindowEnabled(ui.startButton));
    EXPECT_FALSE(IsWindowEnabled(ui.cancelButton));
    WIN32_FIND_DATAW entry;
    HANDLE left = FindFirstFileW((old + L"\\_wipe_*").c_str(), &entry);
    EXPECT_EQ(INVALID_HANDLE_VALUE, left) << "the wipe file is gone";
    if (left != INVALID_HANDLE_VALUE)
        FindClose(left);
    EXPECT_LEDGER_BALANCED(fake);
}

TEST_F(WipeCommandTest, AJobStartedWhileTheQuestionIsOpenMakesTheWipeSayBusy)
{
    Drop({temp.File(L"a.txt")});
    ReportFreeSpace(10737418240ull);
    BrowseTo(temp.path());
    fake.hooks.MessageBoxW = [this](HWND, LPCWSTR, LPCWSTR caption, UINT) {
        if (std::wstring(caption) == L"Confirm Free Space Wipe")
            Click(ui.startButton);  // its own Confirmation is answered below and starts an erase
        return IDOK;
    };
    MenuCommand(IDM_WIPE_FREE_SPACE);
    EXPECT_EQ((std::vector<std::wstring>{L"Confirmation", L"Confirm Free Space Wipe", L"Busy"}), BoxCaptions());
    EXPECT_EQ(1, fake.Calls(OsFn::StartThread));
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(L"Done", RowText(0, 1));
}
