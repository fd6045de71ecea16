// The program's real main window in this process, driven by real drops and
// clicks, with message boxes, the folder browser and device questions
// answered through the OS seam, and real files erased by the real job.
#include "app/main_window.h"
#include "engine/erase_types.h"
#include "tests/support/fake_os.h"
#include "tests/support/message_pump.h"
#include "tests/support/temp_folder.h"
#include "ui/control_ids.h"
#include "ui/file_list.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <shlobj.h>
#include <windows.h>
#include <winioctl.h>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

// Returns a drop handle listing `paths`, as the shell builds one.
static HDROP MakeDrop(const std::vector<std::wstring>& paths)
{
    std::wstring list;  // each path ends in a NUL, and the list in one more (the zeroed block's last)
    for (const std::wstring& path : paths)
        list += path + L'\0';
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + (list.size() + 2) * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(header + 1, list.c_str(), list.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// A stand-in item list for a browser answered by the test; never dereferenced.
static ITEMIDLIST_ABSOLUTE browsedItem;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static bool initialised = InitApplication(GetModuleHandleW(nullptr));
        ASSERT_TRUE(initialised);
        closeAfterJob = false;
        stopRequested.exchange(0);
        fake.hooks.MessageBoxW = [this](HWND, LPCWSTR, LPCWSTR, UINT) { return boxAnswer; };
        window = CreateMainWindow(SW_SHOWNORMAL);
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override
    {
        SetEvent(released);
        if (workerThread.joinable()) {
            stopRequested.exchange(1);
            EXPECT_TRUE(WaitForJobEnd()) << "a job was still running at the end of the test";
        }
        DestroyWindow(window);
        PumpUntil([] { return true; });  // takes the WM_QUIT of the destroyed window
        CloseHandle(reached);
        CloseHandle(released);
    }

    void Drop(const std::vector<std::wstring>& paths)
    {
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
    }
    void Start() { SendMessageW(ui.startButton, BM_CLICK, 0, 0); }
    bool WaitForJobEnd() { return PumpUntil([] { return !workerThread.joinable(); }, nullptr, 120000); }
    // Drop, Start and answer OK, then pump until the worker waits at its first write.
    bool StartHeldAtFirstWrite(const std::vector<std::wstring>& paths)
    {
        fake.hooks.WriteFile = [this](HANDLE file, LPCVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
            if (!gateUsed.exchange(true)) {
                SetEvent(reached);
                WaitForSingleObject(released, 60000);
            }
            return RealOsCalls().WriteFile(file, data, size, done, overlapped);
        };
        Drop(paths);
        boxAnswer = IDOK;
        Start();
        return PumpUntil([this] { return WaitForSingleObject(reached, 0) == WAIT_OBJECT_0; }, reached);
    }
    std::vector<std::wstring> Statuses() const
    {
        std::vector<std::wstring> texts;
        for (int row = 0; row < SendMessageW(ui.fileList, LVM_GETITEMCOUNT, 0, 0); ++row) {
            wchar_t text[256] = {};
            ListView_GetItemText(ui.fileList, row, 1, text, 256);
            texts.push_back(text);
        }
        return texts;
    }
    // Checks that no job runs and the window is idle with `status` on its status line.
    void ExpectIdle(const std::wstring& status) const
    {
        wchar_t shown[1024] = {};
        GetWindowTextW(ui.statusLine, shown, 1024);
        EXPECT_FALSE(workerThread.joinable());
        EXPECT_EQ(status, shown);
        EXPECT_TRUE(IsWindowEnabled(ui.startButton));
        EXPECT_FALSE(IsWindowEnabled(ui.cancelButton));
    }
    std::vector<OsCallRecord> Boxes() const { return fake.CallsOf(OsFn::MessageBoxW); }

    FakeOs fake;
    HWND window = nullptr;
    int boxAnswer = IDCANCEL;
    TempFolder temp;
    HANDLE reached = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> gateUsed{false};
};

TEST_F(MainWindowTest, ClientAreaAndControlsSitWhereTheLayoutPutsThem)
{
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ((std::vector<LONG>{800, 444}), (std::vector<LONG>{client.right, client.bottom}));
    const int expected[][5] = {
        {IDC_FILE_LIST, 12, 27, 776, 200},  {IDC_STATUS, 12, 230, 776, 16},        {IDC_PROGRESS, 12, 246, 776, 23},
        {IDC_METHOD_GROUP, 12, 275, 776, 108}, {IDC_METHOD_COMBO, 34, 315, 740, -1}, {IDC_VERIFY_CHECK, 34, 350, 700, 20},
        {IDC_START, 12, 389, 75, 23},       {IDC_CANCEL, 93, 389, 75, 23},
    };
    for (const auto& want : expected) {
        RECT rect;
        GetWindowRect(GetDlgItem(window, want[0]), &rect);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
        // A closed drop-down list is only as tall as its edit part: its height is not compared.
        int height = want[4] < 0 ? want[4] : rect.bottom - rect.top;
        EXPECT_EQ(std::vector<int>(want, want + 5),
                  (std::vector<int>{want[0], rect.left, rect.top, rect.right - rect.left, height}));
    }
}

TEST_F(MainWindowTest, StartWithNoRowsSaysNoItemsAndDropsListFilesReadyTheLastReplacingTheFirst)
{
    Start();
    EXPECT_EQ(L"No Items", Boxes().at(0).path2);
    EXPECT_EQ(0, fake.Calls(OsFn::StartThread));
    std::wstring tree = temp.Folder(L"A");
    temp.File(L"A\\f.txt");
    temp.File(L"A\\B\\C\\h.txt");
    std::wstring loose = temp.File(L"loose.txt");
    Drop({tree, loose});
    EXPECT_EQ(std::vector<std::wstring>(3, L"Ready"), Statuses());
    Drop({loose});
    EXPECT_EQ(std::vector<std::wstring>{loose}, droppedFiles);
    EXPECT_EQ(std::vector<std::wstring>{L"Ready"}, Statuses());
}

TEST_F(MainWindowTest, TheSsdWarningReplacesTheConfirmationAndDecliningChangesNothing)
{
    fake.hooks.DeviceIoControl = [](HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD, LPDWORD, LPOVERLAPPED) {
        static_cast<DEVICE_SEEK_PENALTY_DESCRIPTOR*>(out)->IncursSeekPenalty = FALSE;
        return static_cast<BOOL>(code == IOCTL_STORAGE_QUERY_PROPERTY);
    };
    std::wstring file = temp.File(L"s.txt");
    Drop({file});
    Start();
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(L"SSD Warning", Boxes()[0].path2);
    ExpectIdle(L"");
    EXPECT_TRUE(PathExists(file));
}

TEST_F(MainWindowTest, ARealEraseDestroysTheFilesAndFoldersAndEndsIdle)
{
    std::wstring one = temp.File(L"one.bin", Ramp(70000));
    std::wstring tree = temp.Folder(L"tree");
    std::wstring inside = temp.File(L"tree\\sub\\b.txt");
    temp.Folder(L"tree\\empty");
    Drop({one, tree});
    boxAnswer = IDOK;
    Start();
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(L"Confirmation", Boxes().at(0).path2);
    EXPECT_EQ(std::vector<std::wstring>(2, L"Done"), Statuses());
    for (const std::wstring& path : {one, tree, inside})
        EXPECT_FALSE(PathExists(path));
    ExpectIdle(L"Operation completed successfully.");
    EXPECT_LEDGER_BALANCED(fake);
}

TEST_F(MainWindowTest, AHeldJobIgnoresASecondStartOrWipeAndEndsCanceledOnCancel)
{
    std::wstring later = temp.File(L"later.txt");
    ASSERT_TRUE(StartHeldAtFirstWrite({temp.File(L"big.bin", Ramp(1 << 20)), later}));
    SendMessageW(window, WM_COMMAND, IDC_START, 0);
    SendMessageW(window, WM_COMMAND, IDM_WIPE_FREE_SPACE, 0);
    EXPECT_EQ(1, fake.Calls(OsFn::StartThread));
    EXPECT_EQ(0, fake.Calls(OsFn::SHBrowseForFolderW));
    SendMessageW(ui.cancelButton, BM_CLICK, 0, 0);
    SetEvent(released);
    ASSERT_TRUE(WaitForJobEnd());
    ExpectIdle(L"Operation was canceled.");
    EXPECT_TRUE(PathExists(later));
}

TEST_F(MainWindowTest, ADropDuringAJobKeepsTheJobsReportsOffTheNewRows)
{
    std::vector<std::wstring> fresh = {temp.File(L"new1.txt"), temp.File(L"new2.txt")};
    ASSERT_TRUE(StartHeldAtFirstWrite({temp.File(L"old1.bin", Ramp(1 << 20)), temp.File(L"old2.txt")}));
    Drop(fresh);
    SetEvent(released);
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(std::vector<std::wstring>(2, L"Ready"), Statuses());
    EXPECT_TRUE(PathExists(fresh[0]) && PathExists(fresh[1]));
    ExpectIdle(L"Operation completed successfully.");
}

TEST_F(MainWindowTest, AWorkerThreadThatCannotStartLeavesTheWindowIdle)
{
    std::wstring file = temp.File(L"kept.txt");
    fake.hooks.StartThread = [](std::function<void()>, std::thread*) { return false; };
    Drop({file});
    boxAnswer = IDOK;
    Start();
    ExpectIdle(L"Could not start the operation: Windows refused to create a worker thread. Nothing was changed.");
    EXPECT_EQ(std::vector<std::wstring>{L"Ready"}, Statuses());
    EXPECT_TRUE(PathExists(file));
}

TEST_F(MainWindowTest, TheWipeQuestionShowsTheFreeSpaceInGb)
{
    fake.hooks.GetDiskFreeSpaceExW = [](LPCWSTR, PULARGE_INTEGER available, PULARGE_INTEGER, PULARGE_INTEGER) {
        available->QuadPart = 10737418240ull;
        return TRUE;
    };
    fake.hooks.SHBrowseForFolderW = [](LPBROWSEINFOW) { return &browsedItem; };
    fake.hooks.SHGetPathFromIDListW = [this](PCIDLIST_ABSOLUTE, LPWSTR path) {
        return static_cast<BOOL>(wcscpy_s(path, MAX_PATH, temp.path().c_str()) == 0);
    };
    SendMessageW(window, WM_COMMAND, IDM_WIPE_FREE_SPACE, 0);
    EXPECT_NE(std::wstring::npos, Boxes().at(0).path.find(L"Free space: 10.00 GB"));
}
