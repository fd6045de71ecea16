// Shared pieces of the engine and method tests: a sink that records what the
// engine reports, short pass builders, and hooks that watch the writes.
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
    StopFlag* raise = nullptr;  // when set, a percent of `raiseAt` or more sets this flag
    int32_t raiseAt = 0;
};
intptr_t RecordProgress(int32_t percent, void* context);
intptr_t RecordLog(const wchar_t* text, void* context);

PassSpec Fixed(uint8_t value);
PassSpec Pattern(std::vector<uint8_t> bytes);
PassSpec RandomPass();

// Returns the first `count` bytes that `pass` writes when the file's stream is `rng`.
std::vector<uint8_t> Expected(const PassSpec& pass, size_t count, EraseRng rng);

// Sets `verifyReadBack` for one test and puts the old value back afterwards.
class VerifySetting {
public:
    explicit VerifySetting(bool on) : old_(verifyReadBack.exchange(on)) {}
    ~VerifySetting() { verifyReadBack = old_; }
    VerifySetting(const VerifySetting&) = delete;
    VerifySetting& operator=(const VerifySetting&) = delete;

private:
    uint8_t old_;
};

// Keeps a copy of every buffer written through `fake`'s WriteFile, in order,
// while the writes still reach the file.
struct WriteCapture {
    std::vector<std::vector<uint8_t>> writes;
    explicit WriteCapture(FakeOs& fake);
};

// Makes the first write through `fake` set `stop`, as a Cancel pressed
// while a write is under way does.
void StopAtFirstWrite(FakeOs& fake, StopFlag& stop);

// Returns the byte counts asked of every WriteFile call, in order.
std::vector<int64_t> WriteSizes(const FakeOs& fake);
