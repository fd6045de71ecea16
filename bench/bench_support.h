// What the benchmarks share: a clock, files to erase, the process's memory
// figures, and a timed OS seam that tells where an erase spends its time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

constexpr uint64_t kMiB = 1024 * 1024;

// Returns seconds from an arbitrary start, with the performance counter's resolution.
double Seconds();

// Returns bytes per second as MB/s (10^6 bytes, as dd and shred count them).
double MegabytesPerSecond(uint64_t bytes, double seconds);

// Prints one figure as "<name> <value> <unit>" for scripts/bench to collect.
void PrintFigure(const char* name, double value, const char* unit);

// Creates (or replaces) `path` holding `bytes` bytes of 0x5A, flushed to the
// disk. Returns false when it cannot be written whole.
bool CreateFilledFile(const std::wstring& path, uint64_t bytes);

// Returns the process's peak working set in bytes (0 when unknown).
uint64_t PeakWorkingSet();

// Replaces the file and volume entries of the OS seam with wrappers that
// count calls and the time spent in them. Install only while no worker runs.
void InstallTimedOs();

// Sets every timed call's count and time back to zero. Returns nothing.
void ResetTimedOs();

// Prints the `shown` timed calls that took longest, largest time first, each
// with its share of `totalSeconds` and, when `items` is not 0, its calls per
// item; then the others together. Returns the seconds spent in all of them.
double PrintTimedOs(double totalSeconds, size_t shown = 8, size_t items = 0);

// Erases the file tree under `root` file by file (`verify`: read back every
// pass), first through the real erase job and main window ("job") or with
// the method alone and no reporting ("direct"), and prints the rate under
// "small.LABEL". Returns the process exit code.
int RunSmallFilesBench(const std::wstring& root, bool verify, bool throughJob, const char* label);

// Creates `count` files in folders of 100 under `root`, each of `bytes`
// bytes, or of 1 to 8 KiB when `bytes` is 0. Returns false when one cannot
// be created.
bool CreateFileTree(const std::wstring& root, int count, DWORD bytes);
