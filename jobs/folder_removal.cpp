#include "engine/random_name.h"
#include "jobs/jobs.h"
#include "os/os_seam.h"

#include <algorithm>

namespace {

constexpr int kRenameAttempts = 10;

// Returns true when `path` names a folder right now. The list was made when
// the folders were dropped; if one of them has since been replaced by a file,
// renaming it would touch a file nobody handed us.
bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = os.GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Renames `folder` to a random name in its parent so that its old name does
// not survive in the directory, then removes it. Falls back to removing it
// under its own name when it cannot be renamed. Returns nothing: a folder
// that cannot be removed simply stays.
void RenameAndRemoveFolder(const std::wstring& folder)
{
    const size_t separator = folder.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        os.RemoveDirectoryW(folder.c_str());
        return;
    }
    const std::wstring parent = folder.substr(0, separator);
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        std::wstring name;
        if (!DrawRandomName(name)) {
            break;
        }
        const std::wstring candidate = parent + L'\\' + name;
        if (os.MoveFileW(folder.c_str(), candidate.c_str())) {
            os.RemoveDirectoryW(candidate.c_str());
            return;
        }
    }
    os.RemoveDirectoryW(folder.c_str());
}

}  // namespace

void RemoveFolders(std::vector<std::wstring> folders)
{
    // A subfolder's path is longer than its parent's, so longest first
    // empties every folder before its parent's turn.
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) {
        if (stopRequested.load()) {
            return;
        }
        if (IsFolder(folder)) {
            RenameAndRemoveFolder(folder);
        }
    }
}
