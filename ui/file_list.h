// The file list: the files dropped or added, one list row each, and the
// folders met on the way, which the erase job removes once their files are
// gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Entry i is the path of list row i (the row's item data is i), as the drop
// or the open dialog gave it; each path at most once.
extern std::vector<std::wstring> droppedFiles;
// Entry i is the size in bytes of droppedFiles[i] when it was listed.
extern std::vector<uint64_t> droppedSizes;
// Dropped or added folders and all their subfolders, each path at most once.
extern std::vector<std::wstring> droppedFolders;
// Counts the changes of the rows, so that a command that asked the user
// about them can tell whether they are still the rows shown.
extern uint64_t fileListChanges;

// Appends the files and folders at `paths` to the list as a drop of them
// would list them; what is listed already is not listed again.
void AddPathsToList(const std::vector<std::wstring>& paths);

// Removes the selected rows and their paths from the list; the folders stay
// listed. The row after the first one removed gets the focus and selection.
void RemoveSelectedRows();

// Has list row `row` name its file at `path`, where a job left it under a
// name the user did not give it, so that the next Start finds it there. The
// row goes on showing the name it was listed by.
void FollowMovedFile(int row, const std::wstring& path);

// Returns the text list row `row` shows in its Status column; empty for a
// row that does not exist.
std::wstring RowStatusText(int row);

// Returns true when list row `row` shows `text` in its Status column.
bool RowShows(int row, const wchar_t* text);

// Sets the Status column of list row `row` unless it shows that text already;
// a row that does not exist is left alone.
void SetRowStatus(int row, const wchar_t* text);

// While a job runs, the rows are the job's: the commands that change them
// are disabled and drops refused. Shows the list locked or open again.
void ShowListLocked(bool locked);
