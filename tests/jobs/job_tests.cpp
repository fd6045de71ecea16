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
