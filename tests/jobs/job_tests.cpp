#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <winioctl.h>
#include <tuple>

namespace {

using Texts = std::vector<std::wstring>;
EraseResult scriptedResult = EraseResult::Success;

// Reports one text; returns Canceled when stopped, else `scriptedResult`, deleting the file on Success as the engine does.
EraseResult ScriptedMethod(const wchar_t* path, ProgressFn, LogFn log, void* context, const StopFlag* stop, bool)
{
    log(L"Working.", context);
    if (stop->load()) return EraseResult::Canceled;
    return scriptedResult == EraseResult::Success && !DeleteFileW(path) ? EraseResult::DeleteFailed : scriptedResult;
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
        HANDLE lock = c.lock ? CreateFileW(items[1].path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) : 0;
        JobWindow window;
        window.onReport = [&c](const WindowReport& r) { c.stop && r.first == 1 ? stopRequested.store(1) : void(); };
        EXPECT_EQ(c.outcome, window.Run([&] { FileEraseJob(c.method, items, folders); }));
        if (lock) CloseHandle(lock);
        const Texts rows = {L"Done", c.second, c.outcome ? L"" : L"Done"}, left = {L"D", L"f1", L"f2"};
        EXPECT_EQ(std::make_tuple(rows, c.outcome ? left : Texts{}, c.outcome ? Ramp(5000, 2) : std::vector<uint8_t>{}),
                  std::make_tuple(Texts{window.LastStatus(0), window.LastStatus(1), window.LastStatus(2)}, temp.Names(),
                                  ReadAll(items[2].path)));
    }
}

// Empty nested folders go; one still holding a file stays, with its ancestors, under its own name.
TEST(RemoveFolders, EmptyFoldersGoAndAHeldOneKeepsItsName)
{
    TempFolder temp;
    temp.Folder(L"A\\B");
    temp.File(L"K\\L\\M\\kept.bin", Ramp(300, 9));
    EXPECT_EQ(L"Folder not removed (not empty): " + temp / L"K\\L\\M",
              RemoveFolders({temp / L"A", temp / L"K\\L", temp / L"A\\B", temp / L"K", temp / L"K\\L\\M"}));
    EXPECT_EQ(Texts{L"K"}, temp.Names());
    EXPECT_EQ(Ramp(300, 9), ReadAll(temp / L"K\\L\\M\\kept.bin"));
}

// The wipe file gets the available space less 64 MiB; a length the volume
// refuses is retried at nine tenths until it would fall to 64 MiB.
TEST(FreeSpaceWipeJob, LengthShrinksByTenthsToTheFloorAndNoWipeFileIsLeft)
{
    const struct {
        uint64_t available;
        int64_t largest;  // the longest length the volume accepts
        EraseResult result;
        int32_t outcome;
        std::vector<int64_t> tried;
        const wchar_t* last;
    } cases[] = {
        {128 << 20, INT64_MAX, EraseResult::Success, 2, {}, L"Not enough free space to wipe."},
        {1000000007 + (64 << 20), 900000006, EraseResult::Success, 0, {1000000007, 900000006}, L"Working."},
        {1000000007 + (64 << 20), INT64_MAX, EraseResult::WriteFailed, 2, {1000000007}, L"Working."},
        {164 << 20, 0, EraseResult::Success, 2, {104857600, 94371840, 84934656, 76441190, 68797071}, L"Failed to allocate wipe space."}};
    for (const auto& c : cases) {
        TempFolder temp;
        FakeOs fake;
        std::vector<int64_t> tried;  // the real file keeps its length of 0
        fake.hooks.GetDiskFreeSpaceExW = [&c](LPCWSTR, PULARGE_INTEGER free, auto...) {
            free->QuadPart = c.available;
            return TRUE;
        };
        fake.hooks.SetFilePointerEx = [&](HANDLE, LARGE_INTEGER to, auto...) {
            tried.push_back(to.QuadPart);
            return TRUE;
        };
        fake.hooks.SetEndOfFile = [&](HANDLE) {
            if (tried.back() <= c.largest) return TRUE;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        };
        scriptedResult = c.result;
        JobWindow window;
        const int32_t outcome = window.Run([&temp] { FreeSpaceWipeJob(temp.path(), ScriptedMethod); });
        EXPECT_EQ(std::make_tuple(c.outcome, c.tried, std::wstring(c.last), Texts{}),
                  std::make_tuple(outcome, tried, window.LastStatus(-1), temp.Names()));
        EXPECT_LEDGER_BALANCED(fake);
    }
}

// Whatever the volume's device answers, its handle is closed right after the request.
TEST(HasNoSeekPenalty, AsksTheVolumesDeviceAndAlwaysClosesIt)
{
    for (const int answer : {0, 1, 2, 3}) {
        const BOOL answered = answer & 1, penalty = answer >> 1;
        FakeOs fake;
        // A real handle, so that the real CloseHandle and the ledger see it.
        fake.hooks.CreateFileW = [](auto...) { return RealOsCalls().CreateFileW(L"NUL", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr); };
        fake.hooks.DeviceIoControl = [=](HANDLE, DWORD, LPVOID, DWORD, LPVOID out, auto...) {
            return static_cast<DEVICE_SEEK_PENALTY_DESCRIPTOR*>(out)->IncursSeekPenalty = penalty, answered;
        };
        EXPECT_EQ(answered && !penalty, HasNoSeekPenalty(L"C:\\")) << answer;
        EXPECT_EQ(1, fake.Calls(OsFn::CloseHandle)) << answer;
        EXPECT_LEDGER_BALANCED(fake);
    }
}

}  // namespace
