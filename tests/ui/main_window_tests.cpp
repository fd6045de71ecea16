// The program's real main window in this process, driven by real drops and
// clicks, with message boxes, the folder browser and device questions
// answered through the OS seam, and real files erased by the real job.
#include "app/main_window.h"
#include "tests/support/fake_os.h"
#include "tests/support/message_pump.h"
#include "tests/support/temp_folder.h"
#include "ui/control_ids.h"
#include "ui/file_list.h"
#include "ui/job_progress_view.h"
#include "ui/ui_state.h"

#include <gtest/gtest.h>
#include <commctrl.h>
#include <shobjidl.h>
#include <atomic>

using Texts = std::vector<std::wstring>;

// Stands for the shell's taskbar list: records each state ("N"ormal, "E"rror, "P"aused, "0" none) and, once per run
// of them, a progress value ("v").
struct RecordingTaskbar : ITaskbarList3 {
    std::string calls;
#define TARNWICK_STUB(name, ...) HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return S_OK; }
    TARNWICK_STUB(HrInit) TARNWICK_STUB(AddTab, HWND) TARNWICK_STUB(DeleteTab, HWND) TARNWICK_STUB(ActivateTab, HWND)
    TARNWICK_STUB(SetActiveAlt, HWND) TARNWICK_STUB(MarkFullscreenWindow, HWND, BOOL) TARNWICK_STUB(RegisterTab, HWND, HWND)
    TARNWICK_STUB(UnregisterTab, HWND) TARNWICK_STUB(SetTabOrder, HWND, HWND) TARNWICK_STUB(SetTabActive, HWND, HWND, DWORD)
    TARNWICK_STUB(ThumbBarAddButtons, HWND, UINT, LPTHUMBBUTTON) TARNWICK_STUB(ThumbBarUpdateButtons, HWND, UINT, LPTHUMBBUTTON)
    TARNWICK_STUB(ThumbBarSetImageList, HWND, HIMAGELIST) TARNWICK_STUB(SetOverlayIcon, HWND, HICON, LPCWSTR)
    TARNWICK_STUB(SetThumbnailTooltip, HWND, LPCWSTR) TARNWICK_STUB(SetThumbnailClip, HWND, RECT*)
#undef TARNWICK_STUB
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override { return *object = this, S_OK; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG, ULONGLONG) override { return calls += calls.ends_with('v') ? "" : "v", S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override { return calls += "0?N?E???P"[state], S_OK; }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        [[maybe_unused]] static bool initialised = InitApplication(GetModuleHandleW(nullptr));  // once per process
        fake.hooks.MessageBoxW = [this](HWND, LPCWSTR text, LPCWSTR caption, UINT) { return Answer(caption, text); };
        ASSERT_NE(nullptr, window = CreateMainWindow(SW_SHOWNORMAL));
    }
    void TearDown() override
    {
        EXPECT_TRUE(WaitForJobEnd()) << "timed out waiting for a job that a failed test left running";
        DestroyWindow(window);
        EXPECT_LEDGER_BALANCED(fake);
    }

    // Drops `paths` as the shell does: a header, then the paths, each ending in a NUL, and one NUL more.
    void Drop(const Texts& paths)
    {
        std::wstring block(sizeof(DROPFILES) / sizeof(wchar_t), L'\0');
        for (const std::wstring& path : paths)
            block += path + L'\0';
        *reinterpret_cast<DROPFILES*>(block.data()) = {sizeof(DROPFILES), {}, FALSE, TRUE};
        size_t bytes = (block.size() + 1) * sizeof(wchar_t);
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memcpy(GlobalAlloc(GMEM_FIXED, bytes), block.c_str(), bytes)), 0);
    }
    // Opens the dialog of Add Files or Add Folder and chooses `paths` in it (none: Cancel).
    void Add(int command, const Texts& paths)
    {
        fake.hooks.ChooseOpenPaths = [paths, folders = command == IDM_ADD_FOLDER](HWND, bool asked, std::vector<std::wstring>* chosen) {
            return asked == folders && !(*chosen = paths).empty();
        };
        SendMessageW(window, WM_COMMAND, command, 0);
    }
    void Select(std::initializer_list<int> rows) { for (int row : rows) ListView_SetItemState(ui.fileList, row, LVIS_SELECTED, LVIS_SELECTED); }
    void PressDelete() { SendMessageW(ui.fileList, WM_KEYDOWN, VK_DELETE, 0); }
    int Answer(const std::wstring& caption, const wchar_t* text) { return boxes.push_back(caption + L": " + text), boxAnswer; }
    void Start(int answer = IDOK) { boxAnswer = answer, SendMessageW(ui.startButton, BM_CLICK, 0, 0); }
    bool WaitForJobEnd() { return PumpUntil([] { return !workerThread.joinable(); }, 120000); }
    // Returns true while the menu offers Add Files and the window takes drops.
    bool ListOpen() const
    {
        return !(GetMenuState(GetMenu(window), IDM_ADD_FILES, MF_BYCOMMAND) & MF_GRAYED) && (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    }
    // Returns each row as "name|status", then the status line and whether the window is idle (no job,
    // Start enabled, Cancel not, the list open).
    Texts Shown() const
    {
        Texts shown;
        for (int row = 0; row < ListView_GetItemCount(ui.fileList); ++row) {
            wchar_t name[256] = {}, status[256] = {};
            ListView_GetItemText(ui.fileList, row, 0, name, 256);
            ListView_GetItemText(ui.fileList, row, 1, status, 256);
            shown.push_back(std::wstring(name) + L"|" + status);
        }
        wchar_t line[1024] = {};
        GetWindowTextW(ui.statusLine, line, 1024);
        const bool idle = !workerThread.joinable() && IsWindowEnabled(ui.startButton) && !IsWindowEnabled(ui.cancelButton) && ListOpen();
        shown.push_back(line + std::wstring(idle ? L" (idle)" : L" (running)"));
        return shown;
    }

    FakeOs fake;
    HWND window = nullptr;
    int boxAnswer = IDCANCEL;
    Texts boxes;  // "caption: text" of each message box shown
    TempFolder temp;
};

// A file dropped with its folder is erased once; read back only while the box
// is ticked; a dropped folder "dir." is erased as itself, not as "dir" beside it.
TEST_F(MainWindowTest, ARealEraseDestroysEachListedFileOnceAndReadsBackOnlyWhenTicked)
{
    for (const std::wstring name : {L"tree", L"dir."}) {
        SCOPED_TRACE(name);
        temp.File(name + L"\\sub\\y.txt", Ramp(70000)), temp.File(L"loose.bin"), temp.File(L"dir\\sub\\keep.bin", Ramp(5000));
        int reads = fake.Calls(OsFn::ReadFile);
        Drop({temp / name, temp / name + L"\\sub\\y.txt", temp / L"loose.bin"});
        Start();
        ASSERT_TRUE(WaitForJobEnd()) << "timed out waiting for the erase to end";
        EXPECT_EQ((Texts{L"y.txt|Done", L"loose.bin|Done", L"Operation completed successfully. (idle)"}), Shown());
        EXPECT_EQ(name == L"tree", fake.Calls(OsFn::ReadFile) > reads);
        EXPECT_FALSE(PathExists(temp / name));
        SendMessageW(ui.verifyCheck, BM_CLICK, 0, 0);  // the next run with the box cleared
    }
    EXPECT_EQ(Texts(2, L"Confirmation: Overwrite and delete the selected files?\n\nAll 2 files in the list will be overwritten and deleted."), boxes);
    EXPECT_EQ(Ramp(5000), ReadAll(temp / L"dir\\sub\\keep.bin"));
}

// While a job runs the list is the job's: a drop, the open dialog and Delete change nothing, and a second Start or
// the wipe command starts no other job. Cancel stops the job mid-file, held in its first write meanwhile, and the
// row says where the file is left; the next Start erases it there.
TEST_F(MainWindowTest, ARunningJobLocksTheListIgnoresSecondStartsAndCancels)
{
    auto writing = std::make_shared<std::atomic<bool>>(false);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fake.hooks.WriteFile = [=, this](HANDLE file, LPCVOID bytes, DWORD n, LPDWORD done, LPOVERLAPPED overlapped) {  // wakes the pump
        return *writing = true, PostMessageW(window, WM_NULL, 0, 0), WaitForSingleObject(release, 60000), RealOsCalls().WriteFile(file, bytes, n, done, overlapped);
    };
    std::wstring later = temp.File(L"later.txt"), fresh = temp.File(L"fresh.txt");
    Drop({temp.File(L"first.bin", Ramp(1 << 20)), later});
    Start();
    ASSERT_TRUE(PumpUntil([&] { return writing->load(); })) << (SetEvent(release), "the job never wrote");
    EXPECT_FALSE(ListOpen());
    Select({0, 1});
    PressDelete();
    Drop({fresh});
    Add(IDM_ADD_FILES, {fresh});
    SendMessageW(window, WM_COMMAND, IDC_START, 0);
    SendMessageW(window, WM_COMMAND, IDM_WIPE_FREE_SPACE, 0);
    SendMessageW(ui.cancelButton, BM_CLICK, 0, 0);
    SetEvent(release);
    ASSERT_TRUE(WaitForJobEnd()) << "timed out waiting for the canceled job to end";
    const Texts left = temp.Tree();
    const auto scrambled = std::find_if(left.begin(), left.end(), IsRandomName);  // where the row says the file is
    ASSERT_NE(left.end(), scrambled);
    EXPECT_EQ((Texts{L"first.bin|Canceled; the file is now named " + *scrambled + L" in the same folder", L"later.txt|Ready",
                     L"Operation was canceled. (idle)"}), Shown());
    EXPECT_TRUE(PathExists(later) && PathExists(fresh));
    EXPECT_EQ((std::vector<int>{1, 0, 0}), (std::vector<int>{fake.Calls(OsFn::StartThread), fake.Calls(OsFn::SHBrowseForFolderW),
                                                             fake.Calls(OsFn::ChooseOpenPaths)}));
    Start();  // the row follows its file to the random name: Start finishes it there
    ASSERT_TRUE(WaitForJobEnd()) << "timed out waiting for the canceled file's erase to end";
    EXPECT_EQ((Texts{L"first.bin|Done", L"later.txt|Done", L"Operation completed successfully. (idle)"}), Shown());
    // A wipe first deletes the hidden files an earlier, cut-off wipe left, and nothing else; one that fails has no
    // rows to tell why: its reason stays on the status line.
    const std::wstring leftover = temp.File(L"_wipe_abcdefghijklmnop.tmp"), unhidden = temp.File(L"_wipe_abcdefghijklmnoq.tmp");
    SetFileAttributesW(leftover.c_str(), FILE_ATTRIBUTE_HIDDEN);
    fake.hooks.SHBrowseForFolderW = [](LPBROWSEINFOW) { return static_cast<PIDLIST_ABSOLUTE>(CoTaskMemAlloc(sizeof(ITEMIDLIST))); };
    fake.hooks.SHGetPathFromIDListW = [this](PCIDLIST_ABSOLUTE, LPWSTR path) { return wcscpy(path, temp.path().c_str()), TRUE; };
    fake.hooks.GetDiskFreeSpaceExW = [](LPCWSTR, PULARGE_INTEGER free, auto...) { return free->QuadPart = 100 << 20, TRUE; };
    boxAnswer = IDOK;
    SendMessageW(window, WM_COMMAND, IDM_WIPE_FREE_SPACE, 0);
    ASSERT_TRUE(WaitForJobEnd()) << "timed out waiting for the wipe to end";
    EXPECT_EQ(L"Operation stopped due to error: Not enough free space to wipe. (idle)", Shown().back());
    EXPECT_EQ(std::pair(false, true), std::pair(PathExists(leftover), PathExists(unhidden)));
    CloseHandle(release);
}

// The open dialogs append what a drop of the same paths would list: a path listed already is not listed again, a
// link is refused, a folder brings its files at any depth and is remembered for removal; Cancel changes nothing,
// and a drop still replaces the whole list.
TEST_F(MainWindowTest, TheOpenDialogsAppendWhatADropWouldListAndADropReplacesIt)
{
    const std::wstring a = temp.File(L"a.txt"), b = temp.File(L"b.txt", Ramp(70000)), link = temp.File(L"link.txt");
    const std::wstring d = temp.File(L"dir\\sub\\d.txt", Ramp(10));
    fake.hooks.GetFileAttributesExW = [](LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
        auto* found = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(data);
        return RealOsCalls().GetFileAttributesExW(path, level, data) &&
               (!wcsstr(path, L"link") || (found->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT));
    };
    Drop({a});
    Add(IDM_ADD_FILES, {b, a, link});
    Add(IDM_ADD_FOLDER, {temp / L"dir"});
    Add(IDM_ADD_FILES, {});
    EXPECT_EQ((Texts{L"a.txt|Ready", L"b.txt|Ready", L"d.txt|Ready", L" (idle)"}), Shown());
    EXPECT_EQ((Texts{a, b, d}), droppedFiles);
    EXPECT_EQ((std::vector<uint64_t>{1000, 70000, 10}), droppedSizes);
    EXPECT_EQ((Texts{temp / L"dir", temp / L"dir\\sub"}), droppedFolders);
    Drop({b});
    // Moved to a monitor at 150 %, the window lays its controls and columns out again, keeping its rows.
    RECT suggested = {10, 20, 1210, 720}, start = {};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    GetWindowRect(ui.startButton, &start), MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&start), 2);
    EXPECT_EQ((std::vector<LONG>{18, 584, 131, 619, 750}), (std::vector<LONG>{start.left, start.top, start.right, start.bottom, ListView_GetColumnWidth(ui.fileList, 0)}));
    EXPECT_EQ((Texts{L"b.txt|Ready", L" (idle)"}), Shown());
    EXPECT_EQ((std::pair(Texts{b}, Texts{})), std::pair(droppedFiles, droppedFolders));
}

// Delete removes exactly the selected rows with their paths, and a removed file can be added again, once; the job
// erases the rows left, in order, stopping at a held file, and the next Start only the rows not Done; each question
// says how many files Start erases.
TEST_F(MainWindowTest, DeleteRemovesTheSelectedRowsAndStartErasesTheRowsLeftThatAreNotDone)
{
    const Texts files = {temp.File(L"1"), temp.File(L"2"), temp.File(L"3"), temp.File(L"4"), temp.File(L"5")};
    Drop(files);
    Select({1, 3});
    PressDelete();
    Add(IDM_ADD_FILES, {files[1], files[2]});
    EXPECT_EQ((Texts{files[0], files[2], files[4], files[1]}), droppedFiles);
    HANDLE held = CreateFileW(files[2].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Start();
    ASSERT_TRUE(WaitForJobEnd()) << "timed out waiting for the first erase to end";
    CloseHandle(held);
    const Texts first = Shown();
    Start();
    ASSERT_TRUE(WaitForJobEnd()) << "timed out waiting for the second erase to end";
    Start();
    EXPECT_EQ((Texts{L"1|Done", L"3|Open Failed", L"5|Ready", L"2|Ready",
                     L"Operation stopped due to error. Check per-item status for details. (idle)"}), first);
    EXPECT_EQ((Texts{L"1|Done", L"3|Done", L"5|Done", L"2|Done", L"Operation completed successfully. (idle)"}), Shown());
    EXPECT_EQ((Texts{L"Confirmation: Overwrite and delete the selected files?\n\nAll 4 files in the list will be overwritten and deleted.",
                     L"Confirmation: Overwrite and delete the selected files?\n\nThe 3 files in the list not marked Done will be overwritten and deleted.",
                     L"No Items: Every file in the list has been erased. Add or drop files to erase more."}), boxes);
    EXPECT_EQ((Texts{L"4"}), temp.Tree());
}

// Start with nothing listed says so; the files of one folder are asked for their volume once and those of another
// on their own, so an SSD there is seen; its warning replaces the confirmation and declining it changes nothing;
// a worker thread that cannot start leaves the window idle and says so; a drop while the question is open starts
// nothing, as the answer was about other rows.
TEST_F(MainWindowTest, TheQuestionsBeforeAJobAndAWorkerThatCannotStart)
{
    auto ssd = std::make_shared<bool>();  // the volume asked for last is the SSD, named as the other in lower case
    fake.hooks.GetVolumePathNameW = [ssd](LPCWSTR path, LPWSTR volume, DWORD n) {
        return RealOsCalls().GetVolumePathNameW(path, volume, n) && (!(*ssd = wcsstr(path, L"\\ssd\\")) || (volume[0] |= 0x20));
    };
    fake.hooks.DeviceIoControl = [ssd](auto, auto, auto, auto, LPVOID out, auto, auto, auto) {
        return static_cast<DEVICE_SEEK_PENALTY_DESCRIPTOR*>(out)->IncursSeekPenalty = !*ssd, TRUE;
    };
    fake.hooks.StartThread = [](auto, auto) { return false; };
    Start();  // nothing listed yet
    Drop({temp.File(L"hdd\\1"), temp.File(L"hdd\\2"), temp.File(L"hdd\\3"), temp.File(L"ssd\\4")});
    Start(IDCANCEL);
    EXPECT_EQ(4, fake.Calls(OsFn::GetVolumePathNameW));  // per folder, and per volume by its probe
    EXPECT_EQ(L"4|Ready", Shown().at(3));
    Start(IDOK);
    EXPECT_EQ((Texts{L"1|Ready", L"2|Ready", L"3|Ready", L"4|Ready", L"Could not start the operation: Windows refused to create a worker thread. "
                                                                      L"Nothing was changed. (idle)"}), Shown());
    EXPECT_EQ(L"No Items: Drag and drop the files you want to delete.", boxes.at(0));
    EXPECT_TRUE(boxes.at(1).starts_with(L"SSD Warning: ") && boxes[1].ends_with(L"anyway?\n\nAll 4 files in the list will be overwritten and deleted.") &&
                boxes.at(2) == boxes[1]) << boxes[1];
    fake.hooks.MessageBoxW = [this](HWND, LPCWSTR, LPCWSTR, UINT) { return Drop({temp / L"hdd\\1"}), IDOK; };
    Start();
    EXPECT_EQ(1, fake.Calls(OsFn::StartThread));
}

// A failed job is shown on the taskbar button, created once, until the window is brought to the front; its record,
// saved as the report, names the method, the read-back and each file with its size and what became of it, and the
// outcome; a report that cannot be written whole is not written at all, and the record stays to be saved again.
// The time left is worded at its boundaries.
TEST_F(MainWindowTest, AFailedJobIsOnTheTaskbarButtonAndInTheReportSavedWhole)
{
    RecordingTaskbar taskbar;
    fake.hooks.CoCreateInstance = [&](REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID* list) { return *list = &taskbar, S_OK; };
    std::wstring suggested;
    fake.hooks.ChooseSavePath = [&](HWND, LPCWSTR name, std::wstring* path) { return suggested = name, *path = temp / L"r.txt", true; };
    for (int created : {0, 1}) SendMessageW(window, RegisterWindowMessageW(L"TaskbarButtonCreated"), created, 0);
    const std::wstring gone = temp.File(L"gone.bin"), loose = temp.File(L"loose.bin");
    temp.File(L"D\\a.bin", Ramp(5000));
    Drop({temp / L"D", gone, loose});
    DeleteFileW(gone.c_str());
    SendMessageW(ui.methodCombo, CB_SETCURSEL, 3, 0);
    Start();
    ASSERT_TRUE(WaitForJobEnd()) << "timed out waiting for the erase to end";
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(std::pair(std::string("NvE0"), 1), std::pair(taskbar.calls, fake.Calls(OsFn::CoCreateInstance)));
    fake.FailNthCall(OsFn::WriteFile, fake.Calls(OsFn::WriteFile) + 1, ERROR_DISK_FULL);
    SendMessageW(window, WM_COMMAND, IDM_SAVE_REPORT, 0);
    EXPECT_TRUE(boxes.back().starts_with(L"Save Report: The report could not be saved as " + temp / L"r.txt")) << boxes.back();
    EXPECT_EQ((Texts{L"D", L"loose.bin"}), temp.Tree());
    SendMessageW(window, WM_COMMAND, IDM_SAVE_REPORT, 0);
    const std::vector<uint8_t> saved = ReadAll(temp / L"r.txt");
    const std::wstring report(saved.begin() + 3, saved.end());  // past the UTF-8 mark; the paths are ASCII
    for (const std::wstring& line : Texts{L"Method\tDoD 5220.22-M (3-pass) -- Legacy", L"Passes\t3", L"Read back\tevery pass read back from the disk",
                                     temp / L"D\\a.bin\t5000\tDone\t3\t3\t", gone + L"\t1000\tOpen Failed\t\t\t", loose + L"\t1000\tNot reached\t\t\t",
                                     L"Folder\t" + temp / L"D\tkept: the job did not get to removing folders",
                                     L"Outcome\tOperation stopped due to error. Check per-item status for details."})
        EXPECT_NE(std::wstring::npos, report.find(line + L"\r\n")) << report;
    EXPECT_TRUE(suggested.starts_with(L"Erasure report ") && suggested.ends_with(L".txt")) << suggested;
    // The time left the title shows is worded as Windows words it, to the nearest minute.
    EXPECT_EQ((Texts{L"Less than a minute left", L"About 1 minute left", L"About 3 minutes left", L"About 59 minutes left", L"About 1 hour left",
                     L"About 1 hour 1 minute left", L"About 2 hours 10 minutes left"}),
              (Texts{TimeLeftText(59), TimeLeftText(60), TimeLeftText(150), TimeLeftText(3569), TimeLeftText(3570), TimeLeftText(3630), TimeLeftText(7800)}));
}
