#include "tests/support/temp_folder.h"

#include "os/verbatim_path.h"

#include <windows.h>

#include <algorithm>

namespace {

// Removes `path` (verbatim, so names such as "a." go too) and everything below it, read-only files included.
void RemoveTree(const std::wstring& path)
{
    for (const std::wstring& name : NamesIn(path)) {
        const std::wstring child = path + L"\\" + name;
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(child.c_str())) RemoveTree(child);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

std::vector<std::wstring> NamesIn(const std::wstring& path)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((VerbatimPath(path) + L"\\*").c_str(), &entry);
    for (bool more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileW(listing, &entry)) {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) names.push_back(entry.cFileName);
    }
    if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> Ramp(size_t count, uint8_t first)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

TempFolder::TempFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    static unsigned counter = 0;
    // The tick count keeps a folder left by an earlier, killed run from being reused.
    path_ = std::wstring(temp) + L"tarnwick_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(++counter);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(VerbatimPath(path_)); }

std::wstring TempFolder::Folder(const std::wstring& relative) const
{
    for (size_t end = relative.find(L'\\'); end != std::wstring::npos; end = relative.find(L'\\', end + 1)) {
        CreateDirectoryW(VerbatimPath(*this / relative.substr(0, end)).c_str(), nullptr);
    }
    CreateDirectoryW(VerbatimPath(*this / relative).c_str(), nullptr);
    return *this / relative;
}

std::wstring TempFolder::File(const std::wstring& relative, const std::vector<uint8_t>& bytes) const
{
    if (relative.rfind(L'\\') != std::wstring::npos) Folder(relative.substr(0, relative.rfind(L'\\')));
    HANDLE file = CreateFileW(VerbatimPath(*this / relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return *this / relative;
}

std::vector<std::wstring> TempFolder::Names(const std::wstring& relative) const { return NamesIn(relative.empty() ? path_ : *this / relative); }

std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(VerbatimPath(path).c_str(), GENERIC_READ, FILE_SHARE_VALID_FLAGS, nullptr, OPEN_EXISTING, 0, nullptr);
    uint8_t chunk[65536];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.insert(bytes.end(), chunk, chunk + read);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return bytes;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(VerbatimPath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsScrambledName(const std::wstring& name)
{
    return name.size() == 16 &&
           name.find_first_not_of(L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") == std::wstring::npos;
}
