#include "jobs/jobs.h"
#include "os/os_seam.h"

#include <winioctl.h>
#include <string>

namespace {

// The device of a volume is its mount point without the trailing backslash,
// behind "\\.\": C:\ becomes \\.\C: and D:\Mounts\Data\ becomes
// \\.\D:\Mounts\Data. Returns that device path.
std::wstring VolumeDevicePath(const wchar_t* volumePath)
{
    std::wstring device = L"\\\\.\\";
    device += volumePath;
    if (device.size() > 4 && device.back() == L'\\') {
        device.pop_back();
    }
    return device;
}

}  // namespace

bool HasNoSeekPenalty(const wchar_t* path)
{
    wchar_t volumePath[MAX_PATH] = {};
    if (!os.GetVolumePathNameW(path, volumePath, MAX_PATH)) {
        return false;
    }
    const std::wstring device = VolumeDevicePath(volumePath);
    // No read or write access: asking a device for its properties needs none,
    // and so needs no elevation.
    HANDLE volume = os.CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) {
        return false;
    }
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR descriptor = {};
    DWORD returned = 0;
    static_assert(sizeof query == 12 && sizeof descriptor == 12, "the request is 12 bytes each way");
    const BOOL answered = os.DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                                             &descriptor, sizeof descriptor, &returned, nullptr);
    os.CloseHandle(volume);
    return answered && !descriptor.IncursSeekPenalty;
}
