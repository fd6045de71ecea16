// The system's common file dialogs, as the OS seam's ChooseOpenPaths and
// ChooseSavePath reach them. They need COM on the calling thread, which the
// window's thread has from OleInitialize.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

bool ChooseOpenPathsReal(HWND owner, bool folders, std::vector<std::wstring>* paths);
bool ChooseSavePathReal(HWND owner, const wchar_t* suggestedName, std::wstring* path);
