#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <winioctl.h>

namespace {

using Texts = std::vector<std::wstring>;
EraseResult scriptedResult = EraseResult::Success;

// Reports one text; returns Canceled when stopped, else `scriptedResult`, deleting the file on Success as the engine does.
EraseResult ScriptedMethod(const wchar_t* path, ProgressFn, LogFn log, void* context, const StopFlag* stop, bool)
{
    log(L"Working.", context);
    return stop->load() ? EraseResult::Canceled : scriptedResult == EraseResult::Success && !DeleteFileW(path) ? EraseResult::DeleteFailed : scriptedResult;
}

// Three real files, the second held open by another program or stopped in: the
// rows read Done then its word, the third is untouched and the dropped folders stay.
TEST(FileEraseJob, AFailedOrStoppedItemEndsTheJobAndKeepsTheFolders)
{
    const struct { EraseMethodFn method; bool lock, stop; int32_t outcome; const wchar_t* second; } cases[] = {
        {EraseZeroFill, false, false, 0, L"Done"}, {EraseZeroFill, true, false, 2, L"Open Failed"},
        {ScriptedMethod, false, true, 1, L"Canceled"}};
    for (const auto& c : cases) {
        TempFolder temp;
        std::vector<EraseItem> items;
        for (uint8_t i = 0; i < 3; ++i) items.push_back({i, temp.File(L"f" + std::to_wstring(i), Ramp(5000, i))});
        const std::vector<std::wstring> folders = {temp.Folder(L"D"), temp.Folder(L"D\\sub")};
        HANDLE lock = c.lock ? CreateFileW(items[1].path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr;
        stopRequested.store(0);
        JobWindow window;
        window.onReport = [&c](const WindowReport& r) { if (c.stop && r.message == WM_APP_STATUS && r.first == 1) stopRequested.store(1); };
        EXPECT_EQ(c.outcome, window.Run([&] { FileEraseJob(c.method, items, folders); }));
        if (lock) CloseHandle(lock);
        EXPECT_EQ(L"Done", window.LastStatus(0));
        EXPECT_EQ(c.second, window.LastStatus(1));
        EXPECT_EQ(c.outcome ? L"" : L"Done", window.LastStatus(2));
        EXPECT_EQ((c.outcome ? Texts{L"D", L"f1", L"f2"} : Texts{}), temp.Names());
        if (c.outcome) { EXPECT_EQ(Ramp(5000, 2), ReadAll(items[2].path)); }
    }
    stopRequested.store(0);
}

// Empty nested folders go; one still holding a file stays, with its ancestors, under random names.
TEST(RemoveFolders, EmptyFoldersGoAndAHeldOneStaysUnderRandomNames)
{
    TempFolder temp;
    temp.Folder(L"A\\B");
    temp.File(L"K\\L\\M\\kept.bin", Ramp(300, 9));
    RemoveFolders({temp / L"A", temp / L"K\\L", temp / L"A\\B", temp / L"K", temp / L"K\\L\\M"});
    std::wstring folder;
    for (int depth = 0; depth < 3; ++depth) {
        const Texts names = temp.Names(folder);
        ASSERT_EQ(1u, names.size()) << depth;
        EXPECT_TRUE(IsScrambledName(names[0])) << depth;
        folder += (depth ? L"\\" : L"") + names[0];
    }
    EXPECT_EQ(Ramp(300, 9), ReadAll(temp / (folder + L"\\kept.bin")));
}

// The wipe file gets the available space less 64 MiB; a length the volume
// refuses is retried at nine tenths until it would fall to 64 MiB.
TEST(FreeSpaceWipeJob, LengthShrinksByTenthsToTheFloorAndNoWipeFileIsLeft)
{
    const struct { uint64_t available; int64_t largest; EraseResult result; int32_t outcome; std::vector<int64_t> tried; const wchar_t* last; } cases[] = {
        {128 << 20, INT64_MAX, EraseResult::Success, 2, {}, L"Not enough free space to wipe."},
        {1000000007 + (64 << 20), 900000006, EraseResult::Success, 0, {1000000007, 900000006}, L"Working."},
        {1000000007 + (64 << 20), INT64_MAX, EraseResult::WriteFailed, 2, {1000000007}, L"Working."},
        {164 << 20, 0, EraseResult::Success, 2, {104857600, 94371840, 84934656, 76441190, 68797071}, L"Failed to allocate wipe space."}};
    for (const auto& c : cases) {
        TempFolder temp;
        FakeOs fake;
        std::vector<int64_t> tried;  // the real file keeps its length of 0
        fake.hooks.GetDiskFreeSpaceExW = [&c](LPCWSTR, PULARGE_INTEGER free, PULARGE_INTEGER, PULARGE_INTEGER) { free->QuadPart = c.available; return TRUE; };
        fake.hooks.SetFilePointerEx = [&](HANDLE, LARGE_INTEGER to, PLARGE_INTEGER, DWORD) { tried.push_back(to.QuadPart); return TRUE; };
        fake.hooks.SetEndOfFile = [&](HANDLE) { return tried.back() <= c.largest ? TRUE : (SetLastError(ERROR_DISK_FULL), FALSE); };
        scriptedResult = c.result;
        JobWindow window;
        EXPECT_EQ(c.outcome, window.Run([&temp] { FreeSpaceWipeJob(temp.path(), ScriptedMethod); }));
        EXPECT_EQ(c.tried, tried);
        EXPECT_EQ(c.last, window.LastStatus(-1));
        EXPECT_EQ(Texts{}, temp.Names());
        EXPECT_LEDGER_BALANCED(fake);
    }
    scriptedResult = EraseResult::Success;
}

// Whatever the volume's device answers, its handle is closed right after the request.
TEST(HasNoSeekPenalty, AsksTheVolumesDeviceAndAlwaysClosesIt)
{
    const struct { const wchar_t* volume; const wchar_t* device; BOOL answered, penalty, expected; } cases[] = {
        {L"C:\\", L"\\\\.\\C:", TRUE, FALSE, TRUE}, {L"D:\\Mounts\\Data\\", L"\\\\.\\D:\\Mounts\\Data", TRUE, TRUE, FALSE},
        {L"E:\\", L"\\\\.\\E:", FALSE, FALSE, FALSE}};
    for (const auto& c : cases) {
        FakeOs fake;
        std::wstring opened;
        fake.hooks.GetVolumePathNameW = [&c](LPCWSTR, LPWSTR buffer, DWORD size) { return wcsncpy_s(buffer, size, c.volume, _TRUNCATE) == 0; };
        fake.hooks.CreateFileW = [&opened](LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
            opened = path;  // a real handle, so the real CloseHandle and the ledger see it
            return RealOsCalls().CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        };
        fake.hooks.DeviceIoControl = [&c](HANDLE, DWORD, LPVOID, DWORD, LPVOID out, DWORD, LPDWORD, LPOVERLAPPED) {
            static_cast<DEVICE_SEEK_PENALTY_DESCRIPTOR*>(out)->IncursSeekPenalty = c.penalty;  // unset: zeroed by the caller
            return c.answered;
        };
        EXPECT_EQ(c.expected, HasNoSeekPenalty((c.volume + std::wstring(L"x")).c_str())) << c.volume;
        EXPECT_EQ(c.device, opened);
        EXPECT_EQ(1, fake.Calls(OsFn::CloseHandle));
        EXPECT_LEDGER_BALANCED(fake);
    }
}

}  // namespace
