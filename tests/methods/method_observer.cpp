#include "tests/methods/method_observer.h"

#include <algorithm>

ObservedErase ObserveErase(FakeOs& fake, EraseMethodFn method, const std::wstring& path, size_t size,
                           bool keepName)
{
    SinkRecord sink;
    std::vector<uint8_t> written;
    fake.hooks.WriteFile = [&](HANDLE file, LPCVOID data, DWORD count, LPDWORD done, LPOVERLAPPED overlapped) {
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        written.insert(written.end(), bytes, bytes + count);
        return RealOsCalls().WriteFile(file, data, count, done, overlapped);
    };
    fake.hooks.DeleteFileW = [&](LPCWSTR name) {
        BOOL deleted = RealOsCalls().DeleteFileW(name);
        if (deleted) sink.events.push_back(kDeletedMark);
        return deleted;
    };
    StopFlag stop{0};
    ObservedErase observed;
    observed.result = method(path.c_str(), RecordProgress, RecordLog, &sink, &stop, keepName);
    fake.hooks.WriteFile = nullptr;
    fake.hooks.DeleteFileW = nullptr;
    observed.events = sink.events;
    for (size_t at = 0; size > 0 && at < written.size(); at += size)
        observed.passes.emplace_back(written.begin() + at, written.begin() + std::min(written.size(), at + size));
    return observed;
}

std::vector<std::vector<uint8_t>> ExpectedPasses(const std::vector<PassSpec>& expected, uint64_t seed, size_t size)
{
    EraseRng rng(seed);
    std::vector<std::vector<uint8_t>> passes;
    for (const PassSpec& pass : expected) {
        passes.push_back(Expected(pass, size, rng));
        if (pass.kind == PassKind::Random) rng.discard(size);
    }
    return passes;
}

std::vector<uint8_t> SeedBytes(uint64_t seed)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(seed >> (8 * i)));
    return bytes;
}

std::vector<uint8_t> NameBytes()
{
    return Ramp(16, 0);
}

std::vector<uint8_t> Script(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::vector<uint8_t>> PublishedGutmannSequences()
{
    return {
        {0x55}, {0xAA}, {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49}, {0x00}, {0x11}, {0x22}, {0x33},
        {0x44}, {0x55}, {0x66}, {0x77}, {0x88}, {0x99}, {0xAA}, {0xBB}, {0xCC}, {0xDD}, {0xEE}, {0xFF},
        {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49}, {0x6D, 0xB6, 0xDB}, {0xB6, 0xDB, 0x6D}, {0xDB, 0x6D, 0xB6},
    };
}

std::vector<PassSpec> GutmannPasses(const std::vector<std::vector<uint8_t>>& middle)
{
    std::vector<PassSpec> passes(4, RandomPass());
    for (const std::vector<uint8_t>& bytes : middle) passes.push_back(bytes.size() == 1 ? Fixed(bytes[0]) : Pattern(bytes));
    passes.insert(passes.end(), 4, RandomPass());
    return passes;
}

int Occurrences(const std::vector<std::wstring>& events, const std::wstring& text)
{
    return static_cast<int>(std::count(events.begin(), events.end(), text));
}

std::vector<std::wstring> Announcements(const std::vector<std::wstring>& events)
{
    std::vector<std::wstring> found;
    for (const std::wstring& event : events)
        if (event.rfind(L"Pass ", 0) == 0) found.push_back(event);
    return found;
}
