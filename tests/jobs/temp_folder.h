// Real folders and files for the job tests, removed again afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh, uniquely named folder under the system's temporary folder,
// removed with everything in it when the holder goes.
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

private:
    std::wstring path_;
};

// Creates `path` as a folder and its missing parents; returns true on success.
bool MakeFolder(const std::wstring& path);
// Writes `bytes` to a new file at `path`; returns true when all were written.
bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);
// Returns the bytes of the file at `path`, or an empty list when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::wstring& path);
// Returns true when `path` names an existing file or folder.
bool PathExists(const std::wstring& path);
// Returns the names in `folder` (no "." or ".."), sorted.
std::vector<std::wstring> NamesIn(const std::wstring& folder);
// Returns true when `name` is 16 characters of [a-zA-Z0-9].
bool IsRandomName(const std::wstring& name);
// Returns `count` bytes of a fixed, non-repeating-looking pattern.
std::vector<uint8_t> PatternBytes(size_t count, uint8_t seed);
