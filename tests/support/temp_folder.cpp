#include "tests/support/temp_folder.h"

#include "os/verbatim_path.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

std::vector<uint8_t> Ramp(size_t count, uint8_t first)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TempFolder::TempFolder()
{
    // The tick count keeps a folder left by an earlier, killed run from being reused.
    static unsigned counter = 0;
    path_ = (fs::temp_directory_path() / (L"tarnwick_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                          std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(++counter))).wstring();
    fs::create_directory(path_);
}

// Read-only files are made writable first, as Windows removes no read-only file.
TempFolder::~TempFolder()
{
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(VerbatimPath(path_), ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(VerbatimPath(path_), ignored);
}

std::wstring TempFolder::Folder(const std::wstring& relative) const
{
    fs::create_directories(VerbatimPath(*this / relative));
    return *this / relative;
}

std::wstring TempFolder::File(const std::wstring& relative, const std::vector<uint8_t>& bytes) const
{
    const fs::path path = VerbatimPath(*this / relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return *this / relative;
}

std::vector<std::wstring> TempFolder::Tree() const
{
    std::vector<std::wstring> entries;
    std::error_code none;
    const std::wstring root = VerbatimPath(path_);
    for (const auto& entry : fs::recursive_directory_iterator(root, none)) entries.push_back(entry.path().wstring().substr(root.size() + 1));
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::ifstream file(fs::path(VerbatimPath(path)), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(VerbatimPath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }
