#include "jobs/jobs.h"
#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/jobs/scripted_method.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <winioctl.h>

namespace {

using Texts = std::vector<std::wstring>;
using Sizes = std::vector<int64_t>;

constexpr uint64_t kMiB = 1024 * 1024;

class FreeSpaceWipeJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        stopRequested.store(0);
        verifyReadBack.store(0);
        methodScript = MethodScript{};
        methodScript.deleteOnSuccess = true;
    }

    void TearDown() override
    {
        // The wipe has no list row: every text and percentage goes to row -1.
        for (int32_t row : window.ReportedRows()) {
            EXPECT_EQ(-1, row);
        }
        EXPECT_LEDGER_BALANCED(fake);
        stopRequested.store(0);
        verifyReadBack.store(0);
    }

    // The volume reports `available` bytes free to the caller.
    void Available(uint64_t available)
    {
        fake.hooks.GetDiskFreeSpaceExW = [available](LPCWSTR, PULARGE_INTEGER free, PULARGE_INTEGER total,
                                                     PULARGE_INTEGER totalFree) {
            EXPECT_EQ(nullptr, total);
            EXPECT_EQ(nullptr, totalFree);
            free->QuadPart = available;
            return TRUE;
        };
    }

    // Setting the wipe file's length succeeds up to `largest` bytes and fails
    // above; the real file keeps its length of 0, so no space is taken.
    void LengthsAcceptedUpTo(int64_t largest)
    {
        fake.hooks.SetFilePointerEx = [this](HANDLE, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD how) {
            EXPECT_EQ(nullptr, position);
            EXPECT_EQ(static_cast<DWORD>(FILE_BEGIN), how);
            pointer = distance.QuadPart;
            return TRUE;
        };
        fake.hooks.SetEndOfFile = [this, largest](HANDLE) {
            if (pointer > largest) {
                SetLastError(ERROR_DISK_FULL);
                return FALSE;
            }
            return TRUE;
        };
    }

    // Returns the lengths the job tried to give the wipe file, in order.
    Sizes TriedSizes() const
    {
        Sizes sizes;
        for (const OsCallRecord& call : fake.CallsOf(OsFn::SetFilePointerEx)) {
            sizes.push_back(call.number);
        }
        return sizes;
    }

    int32_t RunWipe(const std::wstring& folder, EraseMethodFn method = ScriptedMethod)
    {
        return window.Run([folder, method] { FreeSpaceWipeJob(folder, method); });
    }

    // Runs a wipe of the temp folder that gets past every check (180 MiB
    // free, every length accepted) and returns its outcome.
    int32_t RunWipeThatReachesTheMethod(EraseMethodFn method = ScriptedMethod)
    {
        Available(180 * kMiB);
        LengthsAcceptedUpTo(INT64_MAX);
        return RunWipe(temp.path(), method);
    }

    TempFolder temp;
    FakeOs fake;
    JobWindow window;
    int64_t pointer = 0;
};

TEST_F(FreeSpaceWipeJobTest, OneByteMoreLeavesTheReserveAndHandsTheHiddenFileToTheMethod)
{
    Available(134217729);
    LengthsAcceptedUpTo(INT64_MAX);
    fake.ScriptRandom({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});

    EXPECT_EQ(0, RunWipe(temp.path()));

    EXPECT_EQ(Sizes{67108865}, TriedSizes());
    const std::wstring wipeFile = temp / L"_wipe_abcdefghijklmnop.tmp";
    ASSERT_EQ(1u, methodScript.calls.size());
    const MethodCall& call = methodScript.calls[0];
    EXPECT_EQ(wipeFile, call.path);
    EXPECT_TRUE(call.keepName);
    EXPECT_EQ(-1, call.contextRow);
    EXPECT_EQ(window.hwnd(), call.contextWindow);
    EXPECT_EQ(&stopRequested, call.stop);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, call.attributes) << "the file exists while the method runs";
    EXPECT_TRUE(call.attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ((Texts{L"Allocating wipe space...", kScriptedMethodText}), window.StatusTexts());

    const auto creates = fake.CallsOf(OsFn::CreateFileW);
    ASSERT_EQ(1u, creates.size());
    EXPECT_EQ(wipeFile, creates[0].path);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_WRITE), creates[0].access);
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, creates[0].number);
    const auto controls = fake.CallsOf(OsFn::DeviceIoControl);
    ASSERT_EQ(1u, controls.size());
    EXPECT_EQ(0x9C040, controls[0].number);
    EXPECT_EQ(Texts{}, temp.Names());
}

// The wipe file gets the available space less 64 MiB; a length the volume
// refuses is retried at nine tenths, rounded down, until it would fall to
// 64 MiB. Exactly 128 MiB available is refused before any file exists.
TEST_F(FreeSpaceWipeJobTest, TheFileLeavesTheReserveAndShrinksByTenthsToTheFloor)
{
    const struct {
        uint64_t available;
        int64_t largestAccepted;
        Sizes tried;
        int32_t outcome;
        Texts texts;
    } cases[] = {
        {134217728, INT64_MAX, {}, 2, {L"Not enough free space to wipe."}},
        {1000000007 + 64 * kMiB, 900000006, {1000000007, 900000006}, 0,
         {L"Allocating wipe space...", kScriptedMethodText}},
        {164 * kMiB, 0, {104857600, 94371840, 84934656, 76441190, 68797071}, 2,
         {L"Allocating wipe space...", L"Failed to allocate wipe space."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.available);
        methodScript.calls.clear();
        Available(c.available);
        LengthsAcceptedUpTo(c.largestAccepted);
        const Sizes before = TriedSizes();
        const int createsBefore = fake.Calls(OsFn::CreateFileW);
        EXPECT_EQ(c.outcome, RunWipe(temp.path()));
        const Sizes after = TriedSizes();
        EXPECT_EQ(c.tried, Sizes(after.begin() + before.size(), after.end()));
        EXPECT_EQ(c.tried.empty() ? 0 : 1, fake.Calls(OsFn::CreateFileW) - createsBefore);
        EXPECT_EQ(c.texts, window.StatusTexts());
        EXPECT_EQ(c.outcome == 0 ? 1u : 0u, methodScript.calls.size());
        EXPECT_EQ(Texts{}, temp.Names());
    }
}

// A stop while a length is being set, whether that attempt fails or not:
// the flag is read before every attempt and again before the method.
TEST_F(FreeSpaceWipeJobTest, StopDuringAllocationDeletesTheFileSilently)
{
    Available(164 * kMiB);
    for (BOOL lengthSet : {FALSE, TRUE}) {
        stopRequested.store(0);
        fake.hooks.SetEndOfFile = [lengthSet](HANDLE) {
            PressCancel();
            SetLastError(ERROR_DISK_FULL);
            return lengthSet;
        };
        EXPECT_EQ(1, RunWipe(temp.path()));
        EXPECT_EQ(Texts{L"Allocating wipe space..."}, window.StatusTexts());
    }
    EXPECT_EQ(2u, TriedSizes().size());
    EXPECT_TRUE(methodScript.calls.empty());
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FreeSpaceWipeJobTest, FailingMethodLeavesNoWipeFile)
{
    methodScript.results = {static_cast<int32_t>(EraseResult::WriteFailed)};

    EXPECT_EQ(2, RunWipeThatReachesTheMethod());

    ASSERT_EQ(1u, methodScript.calls.size());
    EXPECT_EQ(Texts{}, temp.Names());
    // The method's own texts are the last word; the job adds none.
    EXPECT_EQ(kScriptedMethodText, window.StatusTexts().back());
}

TEST_F(FreeSpaceWipeJobTest, CancelDuringTheOverwriteLeavesNoWipeFile)
{
    window.onReport = [](const WindowReport& report) {
        if (report.message == WM_APP_PROGRESS) {
            PressCancel();
        }
    };

    EXPECT_EQ(1, RunWipeThatReachesTheMethod());

    EXPECT_EQ(1u, methodScript.calls.size());
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FreeSpaceWipeJobTest, WipeFileNameJoinsTheFolderWithExactlyOneSeparator)
{
    Available(180 * kMiB);
    LengthsAcceptedUpTo(INT64_MAX);
    const struct {
        std::wstring folder;
        std::wstring expected;
    } cases[] = {
        {temp.path(), temp.path() + L"\\_wipe_"},
        {temp.path() + L"\\", temp.path() + L"\\_wipe_"},
        {temp.path() + L"/", temp.path() + L"/_wipe_"},
    };
    for (const auto& c : cases) {
        methodScript.calls.clear();
        EXPECT_EQ(0, RunWipe(c.folder));
        ASSERT_EQ(1u, methodScript.calls.size());
        const std::wstring& path = methodScript.calls[0].path;
        ASSERT_EQ(c.expected.size() + 20, path.size()) << "26 characters after the separator";
        EXPECT_EQ(c.expected, path.substr(0, c.expected.size()));
        EXPECT_TRUE(IsScrambledName(path.substr(c.expected.size(), 16)));
        EXPECT_EQ(L".tmp", path.substr(c.expected.size() + 16));
    }
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FreeSpaceWipeJobTest, FailuresBeforeTheFileExistsLeaveNothing)
{
    const struct {
        OsFn failing;
        Texts texts;
    } cases[] = {
        {OsFn::GetDiskFreeSpaceExW, {L"Failed to query free space."}},
        {OsFn::BCryptGenRandom, {L"Failed to obtain cryptographic random for filename."}},
        {OsFn::CreateFileW, {L"Allocating wipe space...", L"Failed to create wipe file."}},
    };
    Available(180 * kMiB);
    LengthsAcceptedUpTo(INT64_MAX);
    for (const auto& c : cases) {
        fake.FailNthCall(c.failing, fake.Calls(c.failing) + 1);
        EXPECT_EQ(2, RunWipe(temp.path())) << OsFnName(c.failing);
        EXPECT_EQ(c.texts, window.StatusTexts()) << OsFnName(c.failing);
    }
    EXPECT_TRUE(methodScript.calls.empty());
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FreeSpaceWipeJobTest, FolderThatNoLongerExistsFailsWithoutAFile)
{
    const std::wstring gone = temp / L"gone";

    EXPECT_EQ(2, RunWipe(gone));

    const Texts texts = window.StatusTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_TRUE(texts.back() == L"Failed to query free space." || texts.back() == L"Failed to create wipe file.")
        << "last text was not a wipe failure";
    EXPECT_TRUE(methodScript.calls.empty());
    EXPECT_EQ(Texts{}, temp.Names());
}

// A volume that fills up during the pass: the engine's write fails, the job
// deletes the wipe file and reports the failure.
TEST_F(FreeSpaceWipeJobTest, VolumeFillingUpDuringThePassLeavesNoWipeFile)
{
    Available(134217729);
    fake.FailNthCall(OsFn::WriteFile, 50, ERROR_DISK_FULL);

    EXPECT_EQ(2, RunWipe(temp.path(), EraseZeroFill));

    EXPECT_EQ(L"Failed during overwrite pass.", window.StatusTexts().back());
    EXPECT_EQ(Texts{}, temp.Names());
}

}  // namespace
