// The nine overwrite methods and the table that the window and jobs choose from.
#pragma once

#include "engine/erase_types.h"

#include <cstdint>

using EraseMethodFn = EraseResult (*)(const wchar_t* path, ProgressFn progress, LogFn log,
                                      void* context, const StopFlag* stop, bool keepName);

struct EraseMethod {
    const wchar_t* displayName;
    EraseMethodFn run;
    int32_t passes;  // over the main stream, as the method writes them
};

constexpr int kEraseMethodCount = 9;
extern const EraseMethod EraseMethodTable[kEraseMethodCount];

// Returns the method for a combo-box selection: the index is read as unsigned,
// and anything above 8 (including -1, no selection) selects row 0.
const EraseMethod& SelectEraseMethod(intptr_t comboIndex);

// Returns the number of passes of the table's method `run`, or 1 for a
// method that is not in the table.
int32_t PassCountOf(EraseMethodFn run);

EraseResult EraseRandom(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseZeroFill(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseGost(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseDod3Pass(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseDodEce7Pass(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseHmgIs5(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseSchneier(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseBsiVsitr(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);
EraseResult EraseGutmann(const wchar_t*, ProgressFn, LogFn, void*, const StopFlag*, bool);

// Fills `dest` with `count` bytes from the system's preferred cryptographic
// generator in one request. Returns false when the generator fails; `dest`
// may then hold anything.
bool DrawMethodBytes(uint8_t* dest, uint32_t count);

// One patterned pass of the Gutmann method: one byte (written as a FixedByte
// pass) or three (written cyclically as a Pattern pass).
struct GutmannSequence {
    uint8_t length;
    uint8_t bytes[3];
};

constexpr int kGutmannPatternCount = 27;

// The 27 patterned passes in the published table's order, which is also the
// starting order of the shuffle.
extern const GutmannSequence GutmannPatterns[kGutmannPatternCount];
