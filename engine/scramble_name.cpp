#include "engine/scramble_name.h"

#include "engine/random_name.h"
#include "os/os_seam.h"

namespace {

constexpr int kRenameAttempts = 10;
constexpr size_t kMaxDirectoryPart = 255;

// Splits off the folder of `path` as the runtime's path splitting does: the
// drive part is the first two characters when the second is a colon, the
// directory part runs to the last backslash or slash. Done here rather than
// by _wsplitpath_s, whose runtime may end the process through its invalid
// parameter handler when a part does not fit. Returns false, leaving
// `folder` alone, when the directory part is longer than 255 characters.
bool SplitFolder(const std::wstring& path, std::wstring& folder)
{
    size_t driveLength = path.size() >= 2 && path[1] == L':' ? 2 : 0;
    size_t lastSeparator = path.find_last_of(L"\\/");
    size_t folderEnd = lastSeparator == std::wstring::npos || lastSeparator < driveLength ? driveLength
                                                                                           : lastSeparator + 1;
    if (folderEnd - driveLength > kMaxDirectoryPart) return false;
    folder = path.substr(0, folderEnd);
    return true;
}

}  // namespace

std::wstring ScrambleFileName(const wchar_t* path)
{
    std::wstring folder;
    if (!SplitFolder(path, folder)) return std::wstring();
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        std::wstring name;
        if (!DrawRandomName(name)) return std::wstring();
        std::wstring candidate = folder + name;
        if (os.MoveFileW(path, candidate.c_str())) return candidate;
    }
    return std::wstring();
}
