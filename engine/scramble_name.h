// Giving a file a meaningless name in its own folder.
#pragma once

#include <string>

// Renames the file at `path` to 16 random letters and digits in the same
// folder, with a fresh name for each of up to ten attempts. Returns the new
// full path, or an empty string when the file kept its name (the path could
// not be split, the random source failed, or ten renames failed).
std::wstring ScrambleFileName(const wchar_t* path);
