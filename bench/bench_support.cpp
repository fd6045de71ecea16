#include "bench/bench_support.h"

#include "os/os_seam.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

double Seconds()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

double MegabytesPerSecond(uint64_t bytes, double seconds)
{
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

void PrintFigure(const char* name, double value, const char* unit)
{
    printf("%-34s %12.1f %s\n", name, value, unit);
    fflush(stdout);
}

bool CreateFilledFile(const std::wstring& path, uint64_t bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<uint8_t> block(65536, 0x5A);
    bool ok = true;
    for (uint64_t left = bytes; ok && left > 0;) {
        DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(left, block.size())), written = 0;
        ok = WriteFile(file, block.data(), chunk, &written, nullptr) && written == chunk;
        left -= chunk;
    }
    ok = FlushFileBuffers(file) && ok;
    CloseHandle(file);
    return ok;
}

uint64_t PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

namespace {

// The seam entries an erase goes through, each with a slot for its figures.
#define TIMED_OS_CALLS(X)                                                                             \
    X(CreateFileW) X(CloseHandle) X(ReadFile) X(WriteFile) X(FlushFileBuffers) X(GetFileSizeEx)       \
    X(SetFilePointerEx) X(SetEndOfFile) X(GetFileInformationByHandleEx) X(DeviceIoControl)            \
    X(GetFileAttributesW) X(DeleteFileW) X(FindFirstFileW) X(FindNextFileW) X(FindClose) X(GetVolumePathNameW) X(GetDiskFreeSpaceW) X(BCryptGenRandom)     \
    X(AlignedAlloc) X(AlignedFree) X(SetFileInformationByHandle) X(GetFinalPathNameByHandleW) X(ReOpenFile)

enum Slot {
#define SLOT(name) Slot##name,
    TIMED_OS_CALLS(SLOT)
#undef SLOT
    SlotCount
};

const char* const kSlotNames[SlotCount] = {
#define NAME(name) #name,
    TIMED_OS_CALLS(NAME)
#undef NAME
};

std::atomic<int64_t> slotTicks[SlotCount];
std::atomic<int64_t> slotCalls[SlotCount];

int64_t Ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Calls the real function behind one seam entry and books its time.
template <typename Fn>
struct TimedCall;

template <typename R, typename... A>
struct TimedCall<R (*)(A...)> {
    template <R (*OsCalls::*Entry)(A...), int slot>
    static R Call(A... args)
    {
        const int64_t start = Ticks();
        R result = (RealOsCalls().*Entry)(args...);
        slotTicks[slot] += Ticks() - start;
        ++slotCalls[slot];
        return result;
    }
};

template <typename... A>
struct TimedCall<void (*)(A...)> {
    template <void (*OsCalls::*Entry)(A...), int slot>
    static void Call(A... args)
    {
        const int64_t start = Ticks();
        (RealOsCalls().*Entry)(args...);
        slotTicks[slot] += Ticks() - start;
        ++slotCalls[slot];
    }
};

}  // namespace

void InstallTimedOs()
{
#define INSTALL(name) os.name = TimedCall<decltype(OsCalls::name)>::Call<&OsCalls::name, Slot##name>;
    TIMED_OS_CALLS(INSTALL)
#undef INSTALL
}

void ResetTimedOs()
{
    for (int slot = 0; slot < SlotCount; ++slot) {
        slotTicks[slot] = 0;
        slotCalls[slot] = 0;
    }
}

double PrintTimedOs(double totalSeconds, size_t shown, size_t items)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<int> order;
    for (int slot = 0; slot < SlotCount; ++slot)
        if (slotCalls[slot] > 0) order.push_back(slot);
    std::sort(order.begin(), order.end(), [](int a, int b) { return slotTicks[a] > slotTicks[b]; });
    double inCalls = 0, others = 0;
    for (size_t rank = 0; rank < order.size(); ++rank) {
        const int slot = order[rank];
        const double seconds = static_cast<double>(slotTicks[slot]) / static_cast<double>(frequency.QuadPart);
        inCalls += seconds;
        if (rank >= shown) {
            others += seconds;
            continue;
        }
        printf("    %-28s %8lld calls %8.3f s %5.1f %%", kSlotNames[slot], static_cast<long long>(slotCalls[slot].load()),
               seconds, totalSeconds > 0 ? 100.0 * seconds / totalSeconds : 0.0);
        if (items > 0) printf("  %6.2f per file", static_cast<double>(slotCalls[slot]) / static_cast<double>(items));
        printf("\n");
    }
    if (items > 0) {
        int64_t calls = 0;
        for (int slot : order) calls += slotCalls[slot];
        printf("    %-28s %8lld calls %24s %6.2f per file\n", "all OS calls", static_cast<long long>(calls), "",
               static_cast<double>(calls) / static_cast<double>(items));
    }
    if (order.size() > shown)
        printf("    %-28s %14s %8.3f s %5.1f %%\n", "other OS calls", "", others,
               totalSeconds > 0 ? 100.0 * others / totalSeconds : 0.0);
    fflush(stdout);
    return inCalls;
}
