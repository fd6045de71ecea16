// The method table, the selection rule and the eight methods whose pass
// lists are fixed sequences. Each method only builds its list and hands it
// to SecureEraseFile; everything that touches the file happens there.
#include "methods/erase_methods.h"

#include "engine/secure_erase.h"
#include "os/os_seam.h"

namespace {

PassSpec Fixed(uint8_t value)
{
    return PassSpec{PassKind::FixedByte, value, {}};
}

// Returns the FixedByte pass of the bitwise complement of `value`.
PassSpec Complement(uint8_t value)
{
    return Fixed(static_cast<uint8_t>(value ^ 0xFF));
}

PassSpec Random()
{
    return PassSpec{PassKind::Random, 0, {}};
}

}  // namespace

const EraseMethod EraseMethodTable[kEraseMethodCount] = {
    {L"Random (1-pass) -- Recommended (NIST SP 800-88 Rev.2)", EraseRandom, 1},
    {L"Zero fill (1-pass)", EraseZeroFill, 1},
    {L"GOST R 50739-95 (2-pass)", EraseGost, 2},
    {L"DoD 5220.22-M (3-pass) -- Legacy", EraseDod3Pass, 3},
    {L"DoD 5220.22-M ECE (7-pass) -- Legacy", EraseDodEce7Pass, 7},
    {L"HMG IS5 Enhanced (3-pass) -- Legacy (IS5 deprecated by NCSC)", EraseHmgIs5, 3},
    {L"Schneier (7-pass) -- Legacy", EraseSchneier, 7},
    {L"BSI/VSITR (7-pass) -- Legacy", EraseBsiVsitr, 7},
    {L"Gutmann (35-pass) -- Legacy (magnetic-media era)", EraseGutmann, 35},
};

// The whole width is compared, so a stray value above 32 bits cannot
// alias a real row after truncation; for everything a combo box reports
// this is the same as reading the index as unsigned 32-bit.
const EraseMethod& SelectEraseMethod(intptr_t comboIndex)
{
    const uintptr_t index = static_cast<uintptr_t>(comboIndex);
    return EraseMethodTable[index < kEraseMethodCount ? index : 0];
}

int32_t PassCountOf(EraseMethodFn run)
{
    for (const EraseMethod& method : EraseMethodTable) {
        if (method.run == run) return method.passes;
    }
    return 1;
}

bool DrawMethodBytes(uint8_t* dest, uint32_t count)
{
    return os.BCryptGenRandom(nullptr, dest, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

EraseResult EraseRandom(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                        const StopFlag* stop, bool keepName)
{
    return SecureEraseFile(path, {Random()},
                           L"File successfully overwritten (NIST-aligned single-pass random) and deleted.",
                           progress, log, context, stop, keepName);
}

EraseResult EraseZeroFill(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                          const StopFlag* stop, bool keepName)
{
    return SecureEraseFile(path, {Fixed(0x00)},
                           L"File successfully overwritten (Zero fill, 1-pass) and deleted.",
                           progress, log, context, stop, keepName);
}

EraseResult EraseGost(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                      const StopFlag* stop, bool keepName)
{
    return SecureEraseFile(path, {Fixed(0x00), Random()},
                           L"File successfully overwritten (GOST R 50739-95, 2-pass) and deleted.",
                           progress, log, context, stop, keepName);
}

// The drawn byte is fresh for every file; a failed draw leaves the file alone.
EraseResult EraseDod3Pass(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                          const StopFlag* stop, bool keepName)
{
    uint8_t b = 0;
    if (!DrawMethodBytes(&b, 1))
        return EraseResult::Error;
    return SecureEraseFile(path, {Fixed(b), Complement(b), Random()},
                           L"File successfully overwritten (DoD 5220.22-M, 3-pass) and deleted.",
                           progress, log, context, stop, keepName);
}

// Both drawn bytes come from one request; a failed draw leaves the file alone.
EraseResult EraseDodEce7Pass(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                             const StopFlag* stop, bool keepName)
{
    uint8_t b[2] = {};
    if (!DrawMethodBytes(b, 2))
        return EraseResult::Error;
    return SecureEraseFile(path,
                           {Fixed(b[0]), Complement(b[0]), Random(), Fixed(b[1]), Complement(b[1]),
                            Random(), Random()},
                           L"File successfully overwritten (DoD 5220.22-M ECE, 7-pass) and deleted.",
                           progress, log, context, stop, keepName);
}

EraseResult EraseHmgIs5(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                        const StopFlag* stop, bool keepName)
{
    return SecureEraseFile(path, {Fixed(0x00), Fixed(0xFF), Random()},
                           L"File successfully overwritten (HMG IS5 Enhanced, 3-pass) and deleted.",
                           progress, log, context, stop, keepName);
}

EraseResult EraseSchneier(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                          const StopFlag* stop, bool keepName)
{
    return SecureEraseFile(path, {Fixed(0xFF), Fixed(0x00), Random(), Random(), Random(), Random(), Random()},
                           L"File successfully overwritten (Schneier, 7-pass) and deleted.",
                           progress, log, context, stop, keepName);
}

EraseResult EraseBsiVsitr(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                          const StopFlag* stop, bool keepName)
{
    return SecureEraseFile(path,
                           {Fixed(0x00), Fixed(0xFF), Fixed(0x00), Fixed(0xFF), Fixed(0x00), Fixed(0xFF),
                            Random()},
                           L"File successfully overwritten (BSI/VSITR, 7-pass) and deleted.",
                           progress, log, context, stop, keepName);
}
