#include "engine/log_text.h"
#include "engine/scramble_name.h"
#include "jobs/jobs.h"
#include "os/os_seam.h"
#include "os/verbatim_path.h"

#include <algorithm>
#include <cwchar>

namespace {

// Returns true when `folder` can be listed and holds nothing but "." and "..".
bool IsEmptyFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = os.FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return false;
    bool empty = true;
    do {
        empty = wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0;
    } while (empty && os.FindNextFileW(listing, &entry));
    os.FindClose(listing);
    return empty;
}

// Returns the status text that says `folder` (as the user knows it) stays.
std::wstring FolderLeftText(const wchar_t* format, const std::wstring& folder)
{
    const std::wstring shown = ShownPath(folder);
    std::wstring text(CapacityForName(64, shown.c_str()), L'\0');
    FormatText(text.data(), text.size(), format, shown.c_str());
    return text.c_str();
}

// Removes the empty folder `renamed`, which was `folder` until a moment ago.
// A folder that will not go (something appeared in it, or holds it) gets its
// own name back. Returns an empty text when it went, else the status text.
std::wstring RemoveRenamedFolder(const std::wstring& folder, const std::wstring& renamed)
{
    if (os.RemoveDirectoryW(renamed.c_str())) return std::wstring();
    if (os.MoveFileW(renamed.c_str(), folder.c_str())) return FolderLeftText(L"Folder not removed: %ls", folder);
    return FolderLeftText(L"Folder not removed; it is now named %ls", renamed);
}

// Renames the empty `folder` to a random name in its parent so that its old
// name does not survive in the directory, then removes it; falls back to
// removing it under its own name when it cannot be renamed. Returns an empty
// text when it is gone, else the status text that says where it stays.
std::wstring RenameAndRemoveFolder(const std::wstring& folder)
{
    const size_t separator = folder.find_last_of(L"\\/");
    const std::wstring renamed =
        separator == std::wstring::npos ? std::wstring() : RenameToRandomName(folder, folder.substr(0, separator + 1));
    if (!renamed.empty()) return RemoveRenamedFolder(folder, renamed);
    if (os.RemoveDirectoryW(folder.c_str())) return std::wstring();
    return FolderLeftText(L"Folder not removed: %ls", folder);
}

// Removes one listed folder if it is still a folder and empty. The list was
// made when the folders were dropped: one that has since gone needs nothing,
// and one replaced by a file is not ours to touch. A folder that is not empty
// keeps its own name: renaming it would hide what is in it from its owner.
// Returns an empty text when it is gone or no longer a folder, else the
// status text that says where it stays.
std::wstring RemoveListedFolder(const std::wstring& folder)
{
    const DWORD attributes = os.GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::wstring();
        return FolderLeftText(L"Folder not removed: %ls", folder);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::wstring();
    if (!IsEmptyFolder(folder)) return FolderLeftText(L"Folder not removed (not empty): %ls", folder);
    return RenameAndRemoveFolder(folder);
}

}  // namespace

std::wstring RemoveFolders(std::vector<std::wstring> folders)
{
    // A subfolder's path is longer than its parent's, so longest first
    // empties every folder before its parent's turn.
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    std::wstring firstLeft;
    for (const std::wstring& folder : folders) {
        if (stopRequested.load()) break;
        const std::wstring left = RemoveListedFolder(VerbatimPath(folder));
        if (firstLeft.empty()) firstLeft = left;
    }
    return firstLeft;
}
