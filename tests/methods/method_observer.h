// Runs an erase method over a real file while the OS seam records what the
// engine writes and says, so the method tests judge a method by its effect.
#pragma once

#include "methods/erase_methods.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <cstdint>
#include <string>
#include <vector>

// Size of the files the method tests erase: two whole 4,096-byte clusters,
// so the file is neither lengthened nor zeroed first and every pass is one
// write of exactly this many bytes.
constexpr size_t kObservedSize = 8192;

// Marks the delete of the file among the logged texts.
inline const wchar_t kDeletedMark[] = L"<deleted>";

struct ObservedErase {
    EraseResult result = EraseResult::Error;
    std::vector<std::wstring> events;          // texts, "%NN" percents and kDeletedMark, in order
    std::vector<std::vector<uint8_t>> passes;  // the bytes written, cut into passes of the file's size
};

// Erases `path` (a file of `size` bytes) with `method` under `fake`, which the
// caller has scripted. Returns what the engine wrote and reported.
ObservedErase ObserveErase(FakeOs& fake, EraseMethodFn method, const std::wstring& path,
                           size_t size = kObservedSize, bool keepName = false);

// Returns the passes that `expected` writes over `size` bytes from a stream
// seeded with `seed`, each Random pass continuing where the last one ended.
std::vector<std::vector<uint8_t>> ExpectedPasses(const std::vector<PassSpec>& expected, uint64_t seed,
                                                 size_t size = kObservedSize);

// Returns the 8 bytes that seed the file's stream with `seed`.
std::vector<uint8_t> SeedBytes(uint64_t seed);

// Returns 16 bytes that make a valid random file name.
std::vector<uint8_t> NameBytes();

// Returns `parts` joined, in order: the scripted random bytes of one erase.
std::vector<uint8_t> Script(std::initializer_list<std::vector<uint8_t>> parts);

// The patterned passes of the published Gutmann table, in its order, as the
// bytes each pass repeats (one byte for a fixed pass, three for a rotation).
std::vector<std::vector<uint8_t>> PublishedGutmannSequences();

// Returns the 35 passes of a Gutmann erase whose patterned passes are
// `middle`: four random passes on each side.
std::vector<PassSpec> GutmannPasses(const std::vector<std::vector<uint8_t>>& middle);

// Returns how often `text` occurs among `events`.
int Occurrences(const std::vector<std::wstring>& events, const std::wstring& text);

// Returns the pass announcements ("Pass k/n: ...") among `events`.
std::vector<std::wstring> Announcements(const std::vector<std::wstring>& events);
