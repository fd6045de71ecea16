// Shared pieces of the engine and method tests: a sink that records what the
// engine reports, pass builders, and a hook that keeps every written buffer.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <cstdint>
#include <string>
#include <vector>

// Records every text and percent the engine reports, as "text" and "%NN".
struct SinkRecord {
    std::vector<std::wstring> events;
};
intptr_t RecordProgress(int32_t percent, void* context);
intptr_t RecordLog(const wchar_t* text, void* context);

inline PassSpec Fixed(uint8_t value) { return PassSpec{PassKind::FixedByte, value, {}}; }
inline PassSpec Pattern(std::vector<uint8_t> bytes) { return PassSpec{PassKind::Pattern, 0, std::move(bytes)}; }
inline PassSpec RandomPass() { return PassSpec{PassKind::Random, 0, {}}; }

// Returns the bytes `passes` write over `size` bytes, pass after pass, when the file's stream is `rng`.
std::vector<uint8_t> ExpectedBytes(const PassList& passes, size_t size, EraseRng rng);

// Makes `fake` append every byte written to `written`, in order, while the writes still reach the file.
void CaptureWrites(FakeOs& fake, std::vector<uint8_t>& written);
