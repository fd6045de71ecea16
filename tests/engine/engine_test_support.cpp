#include "tests/engine/engine_test_support.h"

#include "os/os_seam.h"

#include <cstdio>

ScratchFolder::ScratchFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    folder_ = std::wstring(temp) + L"tarnwick-engine-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(++counter);
    CreateDirectoryW(folder_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    for (const std::wstring& name : Names()) {
        SetFileAttributesW(Path(name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Path(name).c_str());
    }
    RemoveDirectoryW(folder_.c_str());
}

std::vector<std::wstring> ScratchFolder::Names() const
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Path(L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring ScratchFolder::Create(const std::wstring& name, const std::vector<uint8_t>& bytes) const
{
    std::wstring path = Path(name);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

std::vector<uint8_t> Ramp(size_t count, uint8_t first)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

intptr_t RecordProgress(int32_t percent, void* context)
{
    auto* sink = static_cast<SinkRecord*>(context);
    sink->events.push_back(L"%" + std::to_wstring(percent));
    if (sink->raise != nullptr && percent >= sink->raiseAt) sink->raise->store(1);
    return 0;
}

intptr_t RecordLog(const wchar_t* text, void* context)
{
    static_cast<SinkRecord*>(context)->events.push_back(text);
    return 0;
}

PassSpec Fixed(uint8_t value)
{
    return PassSpec{PassKind::FixedByte, value, {}};
}

PassSpec Pattern(std::vector<uint8_t> bytes)
{
    return PassSpec{PassKind::Pattern, 0, std::move(bytes)};
}

PassSpec RandomPass()
{
    return PassSpec{PassKind::Random, 0, {}};
}

std::vector<uint8_t> Expected(const PassSpec& pass, size_t count, EraseRng rng)
{
    std::vector<uint8_t> bytes(count);
    uint64_t cursor = 0;
    FillPassBuffer(bytes.data(), count, pass, cursor, rng, ByteDistribution());
    return bytes;
}

bool IsScrambledName(const std::wstring& name)
{
    return name.size() == 16 &&
           name.find_first_not_of(L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") ==
               std::wstring::npos;
}
