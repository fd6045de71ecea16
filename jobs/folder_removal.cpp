#include "engine/log_text.h"
#include "engine/os_handle.h"
#include "engine/scramble_name.h"
#include "jobs/jobs.h"
#include "os/file_by_handle.h"
#include "os/os_seam.h"
#include "os/verbatim_path.h"

#include <algorithm>
#include <cwchar>

namespace {

// Returns true for the "." and ".." entries of a listing.
bool IsDotEntry(const FILE_ID_BOTH_DIR_INFO& entry)
{
    return entry.FileNameLength <= 2 * sizeof(wchar_t) && entry.FileName[0] == L'.' &&
           (entry.FileNameLength == sizeof(wchar_t) || entry.FileName[1] == L'.');
}

// Returns true when the open `folder` can be listed through its handle and
// holds nothing but "." and "..".
bool IsEmptyFolder(HANDLE folder)
{
    alignas(LONGLONG) unsigned char block[4096];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    for (; os.GetFileInformationByHandleEx(folder, kind, block, sizeof block); kind = FileIdBothDirectoryInfo) {
        for (auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(block);;
             entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
            if (!IsDotEntry(*entry)) return false;
            if (entry->NextEntryOffset == 0) break;
        }
    }
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// Returns the status text that says `folder` (as the user knows it) stays.
std::wstring FolderLeftText(const wchar_t* format, const std::wstring& folder)
{
    const std::wstring shown = ShownPath(folder);
    std::wstring text(CapacityForName(wcslen(format), shown.c_str()), L'\0');
    FormatText(text.data(), text.size(), format, shown.c_str());
    return text.c_str();
}

// Renames the open, empty `folder` to a random name in its parent so that
// its old name does not survive in the directory, then removes it, all
// through its handle; falls back to removing it under its own name when it
// cannot be renamed. A folder that will not go (something appeared in it,
// or holds it) gets its own name back. Returns an empty text when it is
// gone, else the status text that says where it stays.
std::wstring RenameAndRemoveFolder(HANDLE handle, const std::wstring& folder)
{
    const size_t separator = folder.find_last_of(L"\\/");
    const std::wstring renamed =
        separator == std::wstring::npos ? std::wstring() : RenameToRandomName(handle, folder.substr(0, separator + 1));
    if (DeleteOpenFile(handle)) return std::wstring();
    if (renamed.empty() || RenameOpenFile(handle, folder)) return FolderLeftText(L"Folder not removed: %ls", folder);
    return FolderLeftText(L"Folder not removed; it is now named %ls", renamed);
}

// Removes one listed folder if it is still a folder, still where it was
// listed, and empty; it is opened without following a link, checked, renamed
// and removed through that one handle. The list was made when the folders
// were dropped: one that has since gone needs nothing, and one replaced by a
// file, or reached through a link or junction now, is not ours to touch. A
// folder that is not empty keeps its own name: renaming it would hide what
// is in it from its owner. Returns an empty text when it is gone or no
// longer a folder, else the status text that says where it stays.
std::wstring RemoveListedFolder(const std::wstring& folder)
{
    FileHandle handle(os.CreateFileW(folder.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.IsValid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::wstring();
        return FolderLeftText(L"Folder not removed: %ls", folder);
    }
    const DWORD attributes = OpenFileAttributes(handle.Get());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FolderLeftText(L"Folder not removed: %ls", folder);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::wstring();
    std::wstring reached;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !LeadsTo(handle.Get(), folder, reached)) {
        return FolderLeftText(L"Folder not removed (a link or junction is now in its place or on the way): %ls", folder);
    }
    if (!IsEmptyFolder(handle.Get())) return FolderLeftText(L"Folder not removed (not empty): %ls", folder);
    return RenameAndRemoveFolder(handle.Get(), folder);
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
