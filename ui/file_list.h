// The file list: the dropped files, one list row each, and the folders met
// on the way, which the erase job removes once their files are gone.
#pragma once

#include <string>
#include <vector>

// Entry i is the path of list row i (the row's item data is i).
extern std::vector<std::wstring> droppedFiles;
// Dropped folders and all their subfolders, each parent before its children.
extern std::vector<std::wstring> droppedFolders;

// Appends every file below `folder` to `files` and every subfolder to
// droppedFolders, in the order the file system lists them; links and
// junctions are skipped. Returns nothing: a folder that cannot be listed adds
// nothing.
void EnumerateFolder(const std::wstring& folder, std::vector<std::wstring>& files);

// Appends `path` to droppedFiles and a row (file name, "Ready") to the list.
void AddFileRow(const std::wstring& path);

// Sets the Status column of list row `row`; a row that does not exist is left alone.
void SetRowStatus(int row, const wchar_t* text);
