// The file list: what a drop of files and folders turns into.
#include "ui/file_list.h"

#include "os/os_seam.h"
#include "os/verbatim_path.h"
#include "ui/handlers.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <cwchar>
#include <unordered_set>

std::vector<std::wstring> droppedFiles;
std::vector<std::wstring> droppedFolders;

namespace {

// Entries of a list of paths, held as their indices in it and hashed and
// compared as the paths they stand for: a drop of 100,000 files finds a path
// it listed already at once, without a second copy of every path.
struct EntryHash {
    const std::vector<std::wstring>* entries;
    size_t operator()(size_t index) const { return std::hash<std::wstring>{}((*entries)[index]); }
};
struct EntryEqual {
    const std::vector<std::wstring>* entries;
    bool operator()(size_t left, size_t right) const { return (*entries)[left] == (*entries)[right]; }
};
using EntrySet = std::unordered_set<size_t, EntryHash, EntryEqual>;

// What one drop has listed so far. A folder dropped together with a file or
// a subfolder inside it would otherwise list those twice, and the job would
// fail on the second row of a file it has already erased.
struct DropListing {
    EntrySet files{0, EntryHash{&droppedFiles}, EntryEqual{&droppedFiles}};
    EntrySet folders{0, EntryHash{&droppedFolders}, EntryEqual{&droppedFolders}};
};

// Holds the list's redrawing off while a drop replaces its rows, which would
// otherwise redraw the list and its scroll bar for every row, then has it
// draw them all at once, on every way out.
struct ListRedrawSuspended {
    ListRedrawSuspended() { SendMessageW(ui.fileList, WM_SETREDRAW, FALSE, 0); }
    ~ListRedrawSuspended()
    {
        SendMessageW(ui.fileList, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(ui.fileList, nullptr, TRUE);
    }
    ListRedrawSuspended(const ListRedrawSuspended&) = delete;
    ListRedrawSuspended& operator=(const ListRedrawSuspended&) = delete;
};

// Appends `path` to `entries` unless `listed` shows it there already.
// Returns true when it was appended.
bool AppendOnce(std::vector<std::wstring>& entries, EntrySet& listed, const std::wstring& path)
{
    entries.push_back(path);
    if (listed.insert(entries.size() - 1).second)
        return true;
    entries.pop_back();
    return false;
}

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

// Sets the Status column of `row`.
void SetStatusText(int row, const wchar_t* text)
{
    LVITEMW item = {};
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(ui.fileList, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// Appends `path` to droppedFiles and a row (file name, "Ready") to the list,
// unless this drop has listed it already.
void AddFileRow(const std::wstring& path, DropListing& listing)
{
    if (!AppendOnce(droppedFiles, listing.files, path))
        return;
    int row = static_cast<int>(droppedFiles.size() - 1);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = PathFindFileNameW(droppedFiles.back().c_str());
    item.lParam = row;
    SendMessageW(ui.fileList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    SetStatusText(row, L"Ready");
}

// Lists every file below `folder` as a row and every subfolder in
// droppedFolders, in the order the file system lists them, a subfolder's
// files where it is met; links and junctions are skipped. A folder that
// cannot be listed adds nothing. The listing asks for the folder's exact
// name: Win32 would read "dir." as "dir", a different folder.
void EnumerateFolder(const std::wstring& folder, DropListing& listing)
{
    WIN32_FIND_DATAW entry;
    HANDLE found = os.FindFirstFileW(VerbatimPath(folder + L"\\*").c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE)
        return;
    do {
        // A link inside a dropped folder may lead anywhere: never follow or list it.
        if (IsDotEntry(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::wstring path = folder + L"\\" + entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            AddFileRow(path, listing);
        else if (AppendOnce(droppedFolders, listing.folders, path))
            EnumerateFolder(path, listing);
    } while (os.FindNextFileW(found, &entry));
    os.FindClose(found);
}

// Adds one dropped path to the list: a folder with everything below it, or a
// file. Links, junctions and paths that cannot be queried are left out.
void AddDroppedPath(const std::wstring& path, DropListing& listing)
{
    DWORD attributes = os.GetFileAttributesW(VerbatimPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        AddFileRow(path, listing);
    else if (AppendOnce(droppedFolders, listing.folders, path))
        EnumerateFolder(path, listing);
}

}  // namespace

// Status texts arrive many times a second while a job runs, most of them the
// same "Progress" text again: redrawing a row for nothing is what costs.
void SetRowStatus(int row, const wchar_t* text)
{
    wchar_t shown[256] = {};
    LVITEMW item = {};
    item.iSubItem = 1;
    item.pszText = shown;
    item.cchTextMax = 256;
    if (SendMessageW(ui.fileList, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)) &&
        std::wcscmp(shown, text) == 0)
        return;
    SetStatusText(row, text);
}

void OnDropFiles(HDROP drop)
{
    ListRedrawSuspended redrawSuspended;
    droppedFiles.clear();
    droppedFolders.clear();
    SendMessageW(ui.fileList, LVM_DELETEALLITEMS, 0, 0);
    ui.rowsBelongToJob = false;
    DropListing listing;
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index)
        AddDroppedPath(DroppedPath(drop, index), listing);
    DragFinish(drop);
}
