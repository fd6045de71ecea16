#include "os/os_seam.h"

#include "os/file_dialogs.h"

#include <malloc.h>
#include <system_error>
#include <utility>

namespace {

void* __cdecl AlignedAllocReal(size_t size, size_t alignment)
{
    return _aligned_malloc(size, alignment);
}

void __cdecl AlignedFreeReal(void* block)
{
    _aligned_free(block);
}

bool StartThreadReal(std::function<void()> body, std::thread* thread)
{
    try {
        *thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

const OsCalls realCalls = {
    ::CreateFileW,
    ::CloseHandle,
    ::ReadFile,
    ::WriteFile,
    ::FlushFileBuffers,
    ::GetFileSizeEx,
    ::SetFilePointerEx,
    ::SetEndOfFile,
    ::DeviceIoControl,
    ::GetFileAttributesW,
    ::GetFileAttributesExW,
    ::DeleteFileW,
    ::FindFirstFileW,
    ::FindNextFileW,
    ::FindClose,
    ::GetVolumePathNameW,
    ::GetDiskFreeSpaceW,
    ::GetDiskFreeSpaceExW,
    ::BCryptGenRandom,
    AlignedAllocReal,
    AlignedFreeReal,
    ::MessageBoxW,
    ::SHBrowseForFolderW,
    ::SHGetPathFromIDListW,
    ::CoTaskMemFree,
    ::ShellExecuteW,
    ::CoCreateInstance,
    StartThreadReal,
    ::GetFileInformationByHandleEx,
    ::SetFileInformationByHandle,
    ::GetFinalPathNameByHandleW,
    ::ReOpenFile,
    ChooseOpenPathsReal,
    ChooseSavePathReal,
    ::GetTickCount64,
};

}  // namespace

OsCalls os = realCalls;

const OsCalls& RealOsCalls()
{
    return realCalls;
}
