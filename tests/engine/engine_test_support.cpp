#include "tests/engine/engine_test_support.h"

intptr_t RecordProgress(int32_t percent, void* context)
{
    static_cast<SinkRecord*>(context)->events.push_back(L"%" + std::to_wstring(percent));
    return 0;
}

intptr_t RecordLog(const wchar_t* text, void* context)
{
    static_cast<SinkRecord*>(context)->events.push_back(text);
    return 0;
}

std::vector<uint8_t> ExpectedBytes(const PassList& passes, size_t size, EraseRng rng)
{
    std::vector<uint8_t> bytes(passes.size() * size);
    for (size_t at = 0; at < bytes.size(); at += size) {
        uint64_t cursor = 0;
        FillPassBuffer(bytes.data() + at, size, passes[at / size], cursor, rng, ByteDistribution());
    }
    return bytes;
}

void CaptureWrites(FakeOs& fake, std::vector<uint8_t>& written)
{
    fake.hooks.WriteFile = [&written](HANDLE h, LPCVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
        written.insert(written.end(), static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + n);
        return RealOsCalls().WriteFile(h, b, n, d, o);
    };
}
