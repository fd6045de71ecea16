// The file list: the dropped files, one list row each, and the folders met
// on the way, which the erase job removes once their files are gone.
#pragma once

#include <string>
#include <vector>

// Entry i is the path of list row i (the row's item data is i), as the drop
// gave it; each path at most once.
extern std::vector<std::wstring> droppedFiles;
// Dropped folders and all their subfolders, each parent met before its
// children, each path at most once.
extern std::vector<std::wstring> droppedFolders;

// Sets the Status column of list row `row` unless it shows that text already;
// a row that does not exist is left alone.
void SetRowStatus(int row, const wchar_t* text);
