// The file list: what a drop of files and folders turns into.
#include "ui/file_list.h"

#include "os/os_seam.h"
#include "ui/handlers.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

std::vector<std::wstring> droppedFiles;
std::vector<std::wstring> droppedFolders;

namespace {

// Returns true for the "." and ".." entries of a listing.
bool IsDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Returns path i of the drop, as long as it is (no fixed limit, so paths
// from deep folders survive).
std::wstring DroppedPath(HDROP drop, UINT index)
{
    UINT length = DragQueryFileW(drop, index, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    UINT copied = DragQueryFileW(drop, index, path.data(), length + 1);
    path.resize(copied < length ? copied : length);
    return path;
}

// Adds one dropped path to the list: a folder with everything below it, or a
// file. Links, junctions and paths that cannot be queried are left out.
void AddDroppedPath(const std::wstring& path)
{
    DWORD attributes = os.GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        AddFileRow(path);
        return;
    }
    droppedFolders.push_back(path);
    std::vector<std::wstring> files;
    EnumerateFolder(path, files);
    for (const std::wstring& file : files)
        AddFileRow(file);
}

}  // namespace

void EnumerateFolder(const std::wstring& folder, std::vector<std::wstring>& files)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = os.FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return;
    do {
        // A link inside a dropped folder may lead anywhere: never follow or list it.
        if (IsDotEntry(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::wstring path = folder + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            droppedFolders.push_back(path);
            EnumerateFolder(path, files);
        } else {
            files.push_back(std::move(path));
        }
    } while (os.FindNextFileW(listing, &entry));
    os.FindClose(listing);
}

void AddFileRow(const std::wstring& path)
{
    droppedFiles.push_back(path);
    int row = static_cast<int>(droppedFiles.size() - 1);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = PathFindFileNameW(droppedFiles.back().c_str());
    item.lParam = row;
    SendMessageW(ui.fileList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    SetRowStatus(row, L"Ready");
}

void SetRowStatus(int row, const wchar_t* text)
{
    LVITEMW item = {};
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(ui.fileList, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

void OnDropFiles(HDROP drop)
{
    droppedFiles.clear();
    droppedFolders.clear();
    SendMessageW(ui.fileList, LVM_DELETEALLITEMS, 0, 0);
    ui.rowsBelongToJob = false;
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index)
        AddDroppedPath(DroppedPath(drop, index));
    DragFinish(drop);
}
