// Real folders and files for the tests, made and read with the real Win32
// calls so that a FakeOs never sees (or counts) them. Paths are reached in
// their exact form, so names such as "a." or "nul.txt" are what they say.
#pragma once

#include "engine/random_name.h"  // IsRandomName, to tell a scrambled name

#include <cstdint>
#include <string>
#include <vector>

// Returns `count` bytes counting up from `first`.
std::vector<uint8_t> Ramp(size_t count, uint8_t first = 1);

// A fresh folder under the system's temporary folder, removed with
// everything in it when the holder goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Returns the folder's path, without a trailing backslash.
    const std::wstring& path() const { return path_; }
    // Returns the path of `relative` inside the folder.
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }
    // Creates the folder `relative` and its missing parents; returns its full path.
    std::wstring Folder(const std::wstring& relative) const;
    // Creates (or replaces) the file `relative`, and its folders, holding `bytes`; returns its full path.
    std::wstring File(const std::wstring& relative, const std::vector<uint8_t>& bytes = Ramp(1000)) const;
    // Returns every file and folder inside, as paths relative to it, sorted (so parents come before their contents).
    std::vector<std::wstring> Tree() const;

private:
    std::wstring path_;
};

// Returns the bytes of the file at `path` (empty when it cannot be read).
std::vector<uint8_t> ReadAll(const std::wstring& path);
// Returns true when `path` names an existing file or folder.
bool PathExists(const std::wstring& path);
