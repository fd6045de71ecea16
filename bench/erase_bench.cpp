// Figures for scripts/bench: how fast a pass is filled, how fast one large
// file is erased, how much memory an erase holds, and how many small files a
// second the erase job gets through. Run under Wine on the machine measured.
//
//   erase_bench fill MiB
//   erase_bench erase FOLDER MiB LABEL
//   erase_bench memory FOLDER MiB
//   erase_bench tree FOLDER COUNT [BYTES]
//   erase_bench small FOLDER verify|noverify job|direct LABEL
#include "bench/bench_support.h"

#include "engine/erase_types.h"
#include "engine/pass.h"
#include "methods/erase_methods.h"
#include "os/os_seam.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Returns the name a path's figures carry.
const char* PathLabel(Mt64Path path)
{
    switch (path) {
    case Mt64Path::Avx512: return "avx512";
    case Mt64Path::Avx2: return "avx2";
    default: return "scalar";
    }
}

// Fills `mebibytes` of `pass` into one 64 KiB buffer, as a pass does, and
// prints the rate as `name`.
void BenchFillOf(const char* name, const PassSpec& pass, uint64_t mebibytes)
{
    std::vector<uint8_t> buffer(65536);
    const uint64_t bytes = mebibytes * kMiB;
    EraseRng rng(5489);
    uint64_t cursor = 0, sum = 0;
    const double start = Seconds();
    for (uint64_t done = 0; done < bytes; done += buffer.size()) {
        FillPassBuffer(buffer.data(), buffer.size(), pass, cursor, rng, ByteDistribution());
        sum += buffer[done % buffer.size()];
    }
    const double seconds = Seconds() - start;
    PrintFigure(name, MegabytesPerSecond(bytes, seconds), "MB/s");
    if (sum == 1) printf("\n");  // keeps the fill from being optimised away
}

// Prints the fill rate of each kind of pass, the random one on the path the
// program takes ("fill.random") and on every other path this machine runs.
int BenchFill(uint64_t mebibytes)
{
    BenchFillOf("fill.fixed", PassSpec{PassKind::FixedByte, 0x00, {}}, mebibytes);
    BenchFillOf("fill.pattern", PassSpec{PassKind::Pattern, 0, {0x92, 0x49, 0x24}}, mebibytes);
    const PassSpec random{PassKind::Random, 0, {}};
    printf("    random fill on the path taken: %s\n", PathLabel(BestMt64Path()));
    BenchFillOf("fill.random", random, mebibytes);
    for (Mt64Path path : {Mt64Path::Avx512, Mt64Path::Avx2, Mt64Path::Scalar}) {
        if (!UseMt64Path(path)) continue;
        char name[64];
        snprintf(name, sizeof name, "fill.random.%s", PathLabel(path));
        BenchFillOf(name, random, mebibytes);
    }
    UseMt64Path(BestMt64Path());
    return 0;
}

// When the current erase announced its first pass and when it asked for
// the delete: the time between is the pass itself (written, flushed, and
// read back when verification is on), without the rename, probe and delete.
double passStarted = 0;
double deleteAsked = 0;

intptr_t NotePassStart(const wchar_t* text, void*)
{
    if (passStarted == 0 && wcsncmp(text, L"Pass ", 5) == 0) passStarted = Seconds();
    return 0;
}

BOOL(WINAPI* timedSetInformation)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) = nullptr;

BOOL WINAPI NoteDelete(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size)
{
    if (kind == FileDispositionInfo) deleteAsked = Seconds();
    return timedSetInformation(file, kind, info, size);
}

// Fails every thread start, so that a pass makes its random bytes itself and
// leaves every flush to its end, as passes did before they had helper threads.
bool NoThread(std::function<void()>, std::thread*)
{
    return false;
}

// Erases a fresh file of `mebibytes` in `folder` with Random and Zero fill
// 1-pass, verification off and on, and prints the rate of the whole erase
// as "erase.LABEL.KIND" and of its pass alone as "pass.LABEL.KIND", with the
// OS calls that took the most time. The "inline" cases run without helper
// threads, the "old" ones also with the AVX2 kernel, as the builds before
// the AVX-512 kernel and the helper threads did.
int BenchErase(const std::wstring& folder, uint64_t mebibytes, const char* label)
{
    struct Case {
        const char* name;
        EraseMethodFn method;
        bool verify;
        Mt64Path path;
        bool secondThread;
    };
    const Mt64Path best = BestMt64Path();
    const Case cases[] = {
        {"random", EraseRandom, false, best, true},
        {"random.inline", EraseRandom, false, best, false},
        {"random.old", EraseRandom, false, Mt64Path::Avx2, false},
        {"zero", EraseZeroFill, false, best, true},
        {"zero.old", EraseZeroFill, false, best, false},
        {"random.verify", EraseRandom, true, best, true},
        {"random.verify.old", EraseRandom, true, Mt64Path::Avx2, false},
        {"zero.verify", EraseZeroFill, true, best, true},
    };
    const std::wstring path = folder + L"\\erase_bench.dat";
    const uint64_t bytes = mebibytes * kMiB;
    InstallTimedOs();
    timedSetInformation = os.SetFileInformationByHandle;
    os.SetFileInformationByHandle = NoteDelete;
    for (const Case& erase : cases) {
        if (!UseMt64Path(erase.path)) continue;
        if (!CreateFilledFile(path, bytes)) {
            printf("cannot create the file to erase\n");
            return 1;
        }
        os.StartThread = erase.secondThread ? RealOsCalls().StartThread : NoThread;
        verifyReadBack.store(erase.verify ? 1 : 0);
        StopFlag stop{0};
        passStarted = 0;
        ResetTimedOs();
        const double start = Seconds();
        EraseResult result = erase.method(path.c_str(), nullptr, NotePassStart, nullptr, &stop, false);
        const double seconds = Seconds() - start;
        if (result != EraseResult::Success) {
            printf("erase failed with %d\n", static_cast<int>(result));
            return 1;
        }
        char name[64];
        snprintf(name, sizeof name, "erase.%s.%s", label, erase.name);
        PrintFigure(name, MegabytesPerSecond(bytes, seconds), "MB/s");
        snprintf(name, sizeof name, "pass.%s.%s", label, erase.name);
        PrintFigure(name, MegabytesPerSecond(bytes, deleteAsked - passStarted), "MB/s");
        PrintTimedOs(seconds, 3);
    }
    UseMt64Path(best);
    os = RealOsCalls();
    return 0;
}

// Erases one file of `mebibytes` with Random 1-pass and verification, and
// prints the peak working set before and after.
int BenchMemory(const std::wstring& folder, uint64_t mebibytes)
{
    const std::wstring path = folder + L"\\erase_bench_memory.dat";
    if (!CreateFilledFile(path, mebibytes * kMiB)) return 1;
    const uint64_t before = PeakWorkingSet();
    verifyReadBack.store(1);
    StopFlag stop{0};
    if (EraseRandom(path.c_str(), nullptr, nullptr, nullptr, &stop, false) != EraseResult::Success) return 1;
    const uint64_t after = PeakWorkingSet();
    char name[64];
    snprintf(name, sizeof name, "memory.%lluMiB.peak", static_cast<unsigned long long>(mebibytes));
    PrintFigure(name, static_cast<double>(after) / kMiB, "MiB");
    snprintf(name, sizeof name, "memory.%lluMiB.growth", static_cast<unsigned long long>(mebibytes));
    PrintFigure(name, static_cast<double>(after - before) / kMiB, "MiB");
    return 0;
}

int Usage()
{
    printf("usage: erase_bench fill MiB | erase FOLDER MiB LABEL | memory FOLDER MiB |\n"
           "                   tree FOLDER COUNT [BYTES] | small FOLDER verify|noverify job|direct LABEL\n");
    return 2;
}

}  // namespace

// Reads the wide command line itself, which MinGW's main does not offer.
int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) return Usage();
    const std::wstring command = argv[1];
    if (command == L"fill") return BenchFill(wcstoull(argv[2], nullptr, 10));
    if (argc < 4) return Usage();
    const std::wstring folder = argv[2];
    if (command == L"erase" && argc == 5) {
        char label[32];
        snprintf(label, sizeof label, "%ls", argv[4]);
        return BenchErase(folder, wcstoull(argv[3], nullptr, 10), label);
    }
    if (command == L"memory") return BenchMemory(folder, wcstoull(argv[3], nullptr, 10));
    if (command == L"tree") return CreateFileTree(folder, _wtoi(argv[3]), argc > 4 ? _wtoi(argv[4]) : 0) ? 0 : 1;
    if (command == L"small" && argc == 6) {
        char label[32];
        snprintf(label, sizeof label, "%ls", argv[5]);
        return RunSmallFilesBench(folder, std::wstring(argv[3]) == L"verify", std::wstring(argv[4]) == L"job", label);
    }
    return Usage();
}
