#include "jobs/jobs.h"
#include "tests/support/temp_folder.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <winioctl.h>

#include <cstring>
#include <optional>

namespace {

// What the fake device says: nothing (the request fails), or a descriptor
// byte, or success without filling in anything.
enum class DeviceAnswer { Refuses, IncursPenalty, NoPenalty, FillsNothing };

class StorageProbeTest : public ::testing::Test {
protected:
    // Makes the volume under every path `volumePath` and the device at its
    // name open as a real file, answering `answer`.
    void FakeVolume(const std::wstring& volumePath, DeviceAnswer answer)
    {
        fake.hooks.GetVolumePathNameW = [volumePath](LPCWSTR, LPWSTR buffer, DWORD size) {
            EXPECT_EQ(static_cast<DWORD>(MAX_PATH), size);
            wcsncpy_s(buffer, size, volumePath.c_str(), _TRUNCATE);
            return TRUE;
        };
        fake.hooks.CreateFileW = [this](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                        DWORD disposition, DWORD flags, HANDLE templ) {
            devicePath = path;
            EXPECT_EQ(0u, access);
            EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE), share);
            EXPECT_EQ(nullptr, security);
            EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), disposition);
            EXPECT_EQ(0u, flags);
            EXPECT_EQ(nullptr, templ);
            // A real handle, so that the real CloseHandle and the ledger see it.
            deviceHandle = RealOsCalls().CreateFileW((temp / L"device").c_str(), GENERIC_READ, 0, nullptr,
                                                     CREATE_ALWAYS, 0, nullptr);
            return deviceHandle;
        };
        fake.hooks.DeviceIoControl = [this, answer](HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                                    DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
            EXPECT_EQ(deviceHandle, handle);
            EXPECT_EQ(0x2D1400u, code);
            EXPECT_EQ(12u, inSize);
            EXPECT_EQ(12u, outSize);
            EXPECT_NE(nullptr, returned);
            EXPECT_EQ(nullptr, overlapped);
            const auto* query = static_cast<const STORAGE_PROPERTY_QUERY*>(in);
            EXPECT_EQ(7, static_cast<int>(query->PropertyId));
            EXPECT_EQ(0, static_cast<int>(query->QueryType));
            EXPECT_EQ(0, query->AdditionalParameters[0]);
            const unsigned char zero[12] = {};
            EXPECT_EQ(0, std::memcmp(zero, out, 12)) << "the descriptor must start zeroed";
            auto* descriptor = static_cast<DEVICE_SEEK_PENALTY_DESCRIPTOR*>(out);
            switch (answer) {
            case DeviceAnswer::Refuses:
                SetLastError(ERROR_INVALID_FUNCTION);
                return FALSE;
            case DeviceAnswer::IncursPenalty:
            case DeviceAnswer::NoPenalty:
                descriptor->Version = sizeof *descriptor;
                descriptor->Size = sizeof *descriptor;
                descriptor->IncursSeekPenalty = answer == DeviceAnswer::IncursPenalty;
                *returned = sizeof *descriptor;
                return TRUE;
            case DeviceAnswer::FillsNothing:
                *returned = 0;
                return TRUE;
            }
            return FALSE;
        };
    }

    TempFolder temp;
    FakeOs fake;
    std::optional<std::wstring> devicePath;
    HANDLE deviceHandle = INVALID_HANDLE_VALUE;
};

// The device is the volume path less one trailing backslash, after "\\.\";
// whatever it answers, its handle is closed right after the request.
TEST_F(StorageProbeTest, AsksTheVolumesDeviceAndClosesIt)
{
    const struct {
        const wchar_t* volume;
        const wchar_t* device;
        DeviceAnswer answer;
        bool expected;
    } cases[] = {
        {L"C:\\", L"\\\\.\\C:", DeviceAnswer::NoPenalty, true},
        {L"D:\\Mounts\\Data\\", L"\\\\.\\D:\\Mounts\\Data", DeviceAnswer::IncursPenalty, false},
        {L"D:\\Mounts\\Data\\\\", L"\\\\.\\D:\\Mounts\\Data\\", DeviceAnswer::IncursPenalty, false},
        {L"E:\\", L"\\\\.\\E:", DeviceAnswer::Refuses, false},
        // The descriptor stays zeroed, which reads as "no seek penalty".
        {L"E:\\", L"\\\\.\\E:", DeviceAnswer::FillsNothing, true},
    };
    int closes = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        FakeVolume(c.volume, c.answer);
        EXPECT_EQ(c.expected, HasNoSeekPenalty((c.volume + std::wstring(L"x")).c_str()));
        EXPECT_EQ(c.device, devicePath.value_or(L"(not opened)"));
        EXPECT_EQ(++closes, fake.Calls(OsFn::CloseHandle));
    }
    EXPECT_LEDGER_BALANCED(fake);
}

TEST_F(StorageProbeTest, NoVolumePathOrNoDeviceMeansFalseWithNothingLeftOpen)
{
    FakeVolume(L"C:\\", DeviceAnswer::NoPenalty);
    fake.FailNthCall(OsFn::GetVolumePathNameW, 1);
    EXPECT_FALSE(HasNoSeekPenalty(L"C:\\file"));
    EXPECT_EQ(0, fake.Calls(OsFn::CreateFileW));

    fake.FailNthCall(OsFn::CreateFileW, 1);
    EXPECT_FALSE(HasNoSeekPenalty(L"C:\\file"));
    EXPECT_EQ(0, fake.Calls(OsFn::DeviceIoControl));
    EXPECT_EQ(0, fake.Calls(OsFn::CloseHandle));
    EXPECT_LEDGER_BALANCED(fake);
}

// Wine has no device that reports a seek penalty property, so the real call
// must end in false, quietly and with nothing left open.
TEST(StorageProbeRealTest, WineVolumesAnswerFalse)
{
    FakeOs fake;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);

    EXPECT_FALSE(HasNoSeekPenalty(temp));
    EXPECT_FALSE(HasNoSeekPenalty(L"C:\\"));

    EXPECT_EQ(2, fake.Calls(OsFn::GetVolumePathNameW));
    EXPECT_LEDGER_BALANCED(fake);
}

}  // namespace
