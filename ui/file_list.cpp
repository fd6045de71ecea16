// The file list: what a drop of files and folders, or a choice in the open
// dialog, turns into, and the removal of rows listed by mistake.
#include "ui/file_list.h"

#include "os/os_seam.h"
#include "os/verbatim_path.h"
#include "ui/handlers.h"
#include "ui/job_start.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <unordered_set>
#include <utility>

std::vector<std::wstring> droppedFiles;
std::vector<uint64_t> droppedSizes;
std::vector<std::wstring> droppedFolders;
uint64_t fileListChanges = 0;

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

// What the list holds, for finding a path in it at once. A folder added
// together with a file or a subfolder inside it, or added again, would
// otherwise list those twice, and the job would fail on the second row of a
// file it has already erased.
struct Listing {
    EntrySet files{0, EntryHash{&droppedFiles}, EntryEqual{&droppedFiles}};
    EntrySet folders{0, EntryHash{&droppedFolders}, EntryEqual{&droppedFolders}};
};
Listing listing;

// Holds the list's redrawing off while rows are added or removed, which
// would otherwise redraw the list and its scroll bar for every row, then has
// it draw them all at once, on every way out.
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

// Keeps the entries whose mark is not set, in their order. An entry is not
// moved onto itself, which would empty a string.
template <typename Entry>
void KeepUnmarked(std::vector<Entry>& entries, const std::vector<bool>& marked)
{
    size_t kept = 0;
    for (size_t index = 0; index < entries.size(); ++index) {
        if (marked[index])
            continue;
        if (kept != index)
            entries[kept] = std::move(entries[index]);
        ++kept;
    }
    entries.resize(kept);
}

// Returns true for the "." and ".." entries of a listing.
bool IsDotEntry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Returns the paths of the drop, each as long as it is (no fixed limit, so
// paths from deep folders survive).
std::vector<std::wstring> DroppedPaths(HDROP drop)
{
    std::vector<std::wstring> paths;
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        UINT length = DragQueryFileW(drop, index, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        UINT copied = DragQueryFileW(drop, index, path.data(), length + 1);
        path.resize(copied < length ? copied : length);
        paths.push_back(std::move(path));
    }
    return paths;
}

// Sets the Status column of `row`.
void SetStatusText(int row, const wchar_t* text)
{
    LVITEMW item = {};
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(text);
    SendMessageW(ui.fileList, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// Makes `row`'s item data its index in droppedFiles.
void SetRowIndex(int row, int index)
{
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = index;
    SendMessageW(ui.fileList, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// Appends `path` and its `size` to the list and a row (file name, "Ready")
// to the list view, unless the list holds the path already.
void AddFileRow(const std::wstring& path, uint64_t size)
{
    if (!AppendOnce(droppedFiles, listing.files, path))
        return;
    droppedSizes.push_back(size);
    int row = static_cast<int>(droppedFiles.size() - 1);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = PathFindFileNameW(droppedFiles.back().c_str());
    item.lParam = row;
    SendMessageW(ui.fileList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    SetStatusText(row, L"Ready");
}

// Returns the 64-bit size that the system reports in two halves.
uint64_t SizeOf(DWORD high, DWORD low)
{
    return (static_cast<uint64_t>(high) << 32) | low;
}

// Lists `folder` in droppedFolders, every file below it as a row and every
// subfolder after its parent, in the order the file system lists them, a
// subfolder's files where it is met; links and junctions are skipped. A
// folder listed before is walked again, so that adding it again brings back
// the files removed from the list since and those saved there since. A
// folder that cannot be listed adds no more. The listing asks for the
// folder's exact name: Win32 would read "dir." as "dir", a different folder.
void AddFolder(const std::wstring& folder)
{
    AppendOnce(droppedFolders, listing.folders, folder);
    WIN32_FIND_DATAW entry;
    HANDLE found = os.FindFirstFileW(VerbatimPath(folder + L"\\*").c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE)
        return;
    do {
        // A link inside a dropped folder may lead anywhere: never follow or list it.
        if (IsDotEntry(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        std::wstring path = folder + L"\\" + entry.cFileName;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            AddFolder(path);
        else
            AddFileRow(path, SizeOf(entry.nFileSizeHigh, entry.nFileSizeLow));
    } while (os.FindNextFileW(found, &entry));
    os.FindClose(found);
}

// Adds one dropped or chosen path to the list: a folder with everything
// below it, or a file. Links, junctions and paths that cannot be queried are
// left out.
void AddListedPath(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!os.GetFileAttributesExW(VerbatimPath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        AddFolder(path);
    else
        AddFileRow(path, SizeOf(data.nFileSizeHigh, data.nFileSizeLow));
}

// Empties the list: its rows, the paths and folders, and what finds them.
void ClearList()
{
    droppedFiles.clear();
    droppedSizes.clear();
    droppedFolders.clear();
    listing.files.clear();
    listing.folders.clear();
    SendMessageW(ui.fileList, LVM_DELETEALLITEMS, 0, 0);
}

// Gives the rows from `first` on their index in droppedFiles as item data,
// and has the listing find every path at its index again.
void ReindexRowsFrom(int first)
{
    listing.files.clear();
    for (size_t index = 0; index < droppedFiles.size(); ++index) {
        listing.files.insert(index);
        if (static_cast<int>(index) >= first)
            SetRowIndex(static_cast<int>(index), static_cast<int>(index));
    }
}

// Gives `row`, or the last row when there is none after, the focus and the
// selection, in sight, so that the keyboard goes on from where rows went.
void FocusRowNear(int row)
{
    int last = ListView_GetItemCount(ui.fileList) - 1;
    if (last < 0)
        return;
    row = row < last ? row : last;
    ListView_SetItemState(ui.fileList, row, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    ListView_EnsureVisible(ui.fileList, row, FALSE);
}

}  // namespace

void AddPathsToList(const std::vector<std::wstring>& paths)
{
    ListRedrawSuspended redrawSuspended;
    for (const std::wstring& path : paths)
        AddListedPath(path);
    ++fileListChanges;
}

// The rows after the first one removed move up: each gets its new index as
// item data, and the paths are found at their new indices.
void RemoveSelectedRows()
{
    const int first = ListView_GetNextItem(ui.fileList, -1, LVNI_SELECTED);
    if (first < 0)
        return;
    ListRedrawSuspended redrawSuspended;
    std::vector<bool> removed(droppedFiles.size());
    for (int row = first; row >= 0; row = ListView_GetNextItem(ui.fileList, row, LVNI_SELECTED))
        removed[row] = true;
    for (int row = static_cast<int>(removed.size()) - 1; row >= first; --row) {
        if (removed[row])
            ListView_DeleteItem(ui.fileList, row);
    }
    KeepUnmarked(droppedFiles, removed);
    KeepUnmarked(droppedSizes, removed);
    ReindexRowsFrom(first);
    FocusRowNear(first);
    ++fileListChanges;
}

void FollowMovedFile(int row, const std::wstring& path)
{
    if (row < 0 || static_cast<size_t>(row) >= droppedFiles.size())
        return;
    listing.files.erase(row);  // found by the path it holds until now
    droppedFiles[row] = path;
    listing.files.insert(row);
}

std::wstring RowStatusText(int row)
{
    wchar_t shown[1024] = {};
    LVITEMW item = {};
    item.iSubItem = 1;
    item.pszText = shown;
    item.cchTextMax = 1024;
    SendMessageW(ui.fileList, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return shown;
}

bool RowShows(int row, const wchar_t* text)
{
    return RowStatusText(row) == text;
}

// Status texts arrive many times a second while a job runs, most of them the
// same "Progress" text again: redrawing a row for nothing is what costs.
void SetRowStatus(int row, const wchar_t* text)
{
    if (!RowShows(row, text))
        SetStatusText(row, text);
}

// A drop replaces the whole list. While a job runs it is refused: it would
// replace the rows on screen while the job goes on erasing the old files
// out of sight.
void OnDropFiles(HDROP drop)
{
    if (!JobIsRunning()) {
        std::vector<std::wstring> paths = DroppedPaths(drop);
        ClearList();
        AddPathsToList(paths);
    }
    DragFinish(drop);
}
