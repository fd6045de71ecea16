// Shared pieces of the engine tests: a scratch folder of real files, a sink
// that records what the engine reports, and short pass builders.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, emptied and removed
// when the test ends.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Returns the folder followed by a backslash and `name`.
    std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }
    // Returns the names of the files in the folder.
    std::vector<std::wstring> Names() const;
    // Creates (or replaces) a file holding `bytes`; returns its full path.
    std::wstring Create(const std::wstring& name, const std::vector<uint8_t>& bytes) const;

private:
    std::wstring folder_;
};

// Returns the bytes of the file at `path` (empty when it cannot be read).
std::vector<uint8_t> ReadAll(const std::wstring& path);
// Returns `count` bytes counting up from `first`.
std::vector<uint8_t> Ramp(size_t count, uint8_t first = 1);

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

// Returns true when `name` could be a scrambled name: 16 letters and digits.
bool IsScrambledName(const std::wstring& name);
