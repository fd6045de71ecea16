#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <tuple>

namespace {

using Texts = std::vector<std::wstring>;

// In the manner of SQLite's I/O-error tests: whole wipes (Random, verified) with the
// Nth call through the seam failing, for N = 1, 2, ... until a run meets no
// failure, which must then have tried exactly the lengths of the row: the
// available space less 64 MiB, nine tenths of that down to 64 MiB, and further
// files for what is left above the 64 MiB reserve. On model
// volumes where every file created takes 512 KiB and the job's lengths (over
// 1 MiB) are kept 4096 times shorter on disk.
TEST(FreeSpaceWipeSweep, EveryFailedCallEndsInOneOutcomeLeavingNoFileAndAFailedOverwriteNeverCompletes)
{
    const uint64_t a = 1000000007 + (64 << 20);
    // `largest`: the longest length the volume accepts; `files`: the wipe files it lets the job create.
    const struct { uint64_t available; int64_t largest; int files; int32_t outcome; std::vector<int64_t> tried; const wchar_t* last; } cases[] = {
        {128 << 20, INT64_MAX, 9, 2, {}, L"Not enough free space to wipe."},
        {a, 900000006, 9, 0, {1000000007, 900000006, 100000001}, L"File successfully overwritten (NIST-aligned single-pass random) and deleted."},
        {a, 900000006, 1, 3, {1000000007, 900000006}, L"Could not allocate all free space; 95 MiB were not wiped."},
        {264 << 20, 188743680, 9, 0, {209715200, 188743680, 20971520}, L"File successfully overwritten (NIST-aligned single-pass random) and deleted."},
        {164 << 20, 0, 9, 2, {104857600, 94371840, 84934656, 76441190, 68797071}, L"Failed to allocate wipe space."}};
    verifyReadBack.store(1);
    for (const auto& c : cases) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << c.available << " bytes, call " << n);
            TempFolder temp;
            FakeOs fake;
            uint64_t created = 0;
            int wipeFiles = 0;
            std::vector<int64_t> tried;
            fake.hooks.CreateFileW = [&](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how, DWORD flags, HANDLE t) {
                if (how == CREATE_ALWAYS && ++wipeFiles > c.files) return SetLastError(ERROR_DISK_FULL), INVALID_HANDLE_VALUE;
                created += how != OPEN_EXISTING;
                return RealOsCalls().CreateFileW(path, access, share, sa, how, flags, t);
            };
            fake.hooks.GetDiskFreeSpaceExW = [&](LPCWSTR, PULARGE_INTEGER free, auto...) { return free->QuadPart = c.available - (created << 19), TRUE; };
            fake.hooks.SetFilePointerEx = [&](HANDLE file, LARGE_INTEGER to, PLARGE_INTEGER at, DWORD how) {
                return (to.QuadPart > 1 << 20 ? tried.push_back(to.QuadPart), to.QuadPart >>= 12 : 0), RealOsCalls().SetFilePointerEx(file, to, at, how);
            };
            fake.hooks.SetEndOfFile = [&](HANDLE file) { return tried.empty() || tried.back() <= c.largest ? RealOsCalls().SetEndOfFile(file) : (SetLastError(ERROR_DISK_FULL), FALSE); };
            fake.FailNthCall(OsFn::Any, n);
            JobWindow window;
            const int32_t outcome = window.Run([&temp] { FreeSpaceWipeJob(temp.path(), EraseRandom); });
            const std::vector<OsCallRecord> log = fake.CallLog();
            // Fillers write 600 bytes; any other failed write is the overwrite's.
            EXPECT_FALSE(outcome == 0 && std::any_of(log.begin(), log.end(), [](const OsCallRecord& call) {
                return call.injected && call.fn == OsFn::WriteFile && call.number != 600;
            }));
            EXPECT_EQ(Texts{}, temp.Tree());
            EXPECT_LEDGER_BALANCED(fake);
            if (fake.InjectionFired()) continue;
            EXPECT_EQ(std::make_tuple(c.outcome, c.tried, std::wstring(c.last)), std::make_tuple(outcome, tried, window.LastStatus(-1)));
            break;
        }
    }
    verifyReadBack.store(0);
}

}  // namespace
