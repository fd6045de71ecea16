#include "engine/fast_mt64.h"

#include <atomic>

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

// Returns `word` tempered: the output the state word stands for.
uint64_t Temper(uint64_t word)
{
    word ^= (word >> kMt64TemperShift1) & kMt64TemperMask1;
    word ^= (word << kMt64TemperShift2) & kMt64TemperMask2;
    word ^= (word << kMt64TemperShift3) & kMt64TemperMask3;
    return word ^ (word >> kMt64TemperShift4);
}

// Returns the next generation of word `current`, given the word after it and
// the word `kMt64Shift` places on. The twist constant is masked in rather
// than chosen by a branch, which the processor could not predict.
uint64_t TwistWord(uint64_t current, uint64_t following, uint64_t far)
{
    const uint64_t joined = (current & kMt64UpperMask) | (following & ~kMt64UpperMask);
    return far ^ (joined >> 1) ^ ((0 - (joined & 1)) & kMt64Matrix);
}

// The x86-64 processor features the SIMD paths need, and the register
// states the OS must save across thread switches for each.
constexpr int kAvxBit = 1 << 28;          // CPUID 1, ECX
constexpr int kOsXsaveBit = 1 << 27;      // CPUID 1, ECX: the OS saves extended state
constexpr int kAvx2Bit = 1 << 5;          // CPUID 7.0, EBX
constexpr int kAvx512FoundationBit = 1 << 16;  // CPUID 7.0, EBX
constexpr uint64_t kYmmState = 0x6;       // XCR0: XMM and YMM registers
constexpr uint64_t kZmmState = 0xE6;      // XCR0: those, the opmask registers and all of ZMM

// Fills `regs` with EAX, EBX, ECX, EDX of CPUID `leaf`, `subleaf`. Returns nothing.
void ReadCpuid(int leaf, int subleaf, int regs[4])
{
#if defined(_MSC_VER)
    __cpuidex(regs, leaf, subleaf);
#else
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid_count(leaf, subleaf, a, b, c, d);
    regs[0] = static_cast<int>(a);
    regs[1] = static_cast<int>(b);
    regs[2] = static_cast<int>(c);
    regs[3] = static_cast<int>(d);
#endif
}

// Returns XCR0, the register states the OS saves. Only valid to call when
// CPUID reports OSXSAVE.
#if !defined(_MSC_VER)
__attribute__((target("xsave")))
#endif
uint64_t ReadXcr0()
{
    return _xgetbv(0);
}

// Returns true when the processor has every feature of `leaf7Ebx` (CPUID
// 7.0, EBX) and the OS saves every register state of `xcr0State`; a
// processor feature whose registers the OS does not save is unusable.
bool CanRun(int leaf7Ebx, uint64_t xcr0State)
{
    int regs[4];
    ReadCpuid(0, 0, regs);
    if (regs[0] < 7) return false;
    ReadCpuid(1, 0, regs);
    if ((regs[2] & (kAvxBit | kOsXsaveBit)) != (kAvxBit | kOsXsaveBit)) return false;
    if ((ReadXcr0() & xcr0State) != xcr0State) return false;
    ReadCpuid(7, 0, regs);
    return (regs[1] & leaf7Ebx) == leaf7Ebx;
}

// Returns true when this processor and its OS can run `path`; each is
// checked once.
bool CanRunPath(Mt64Path path)
{
    static const bool avx2 = CanRun(kAvx2Bit, kYmmState);
    static const bool avx512 = CanRun(kAvx512FoundationBit, kZmmState);
    switch (path) {
    case Mt64Path::Avx2: return avx2;
    case Mt64Path::Avx512: return avx512;
    default: return true;
    }
}

// The path in use, chosen once on first use.
std::atomic<Mt64Path>& ActivePath()
{
    static std::atomic<Mt64Path> path{BestMt64Path()};
    return path;
}

// The bulk steps of one path.
struct Mt64Kernels {
    void (*twist)(uint64_t* words);
    void (*topBytes)(const uint64_t* words, size_t count, uint8_t* dest);
    void (*twistTopBytes)(uint64_t* words, uint8_t* dest);
};

constexpr Mt64Kernels kScalarKernels{Mt64TwistScalar, Mt64TopBytesScalar, Mt64TwistTopBytesScalar};
constexpr Mt64Kernels kAvx2Kernels{Mt64TwistAvx2, Mt64TopBytesAvx2, Mt64TwistTopBytesAvx2};
constexpr Mt64Kernels kAvx512Kernels{Mt64TwistAvx512, Mt64TopBytesAvx512, Mt64TwistTopBytesAvx512};

// Returns the bulk steps of the active path.
const Mt64Kernels& ActiveKernels()
{
    switch (ActiveMt64Path()) {
    case Mt64Path::Avx512: return kAvx512Kernels;
    case Mt64Path::Avx2: return kAvx2Kernels;
    default: return kScalarKernels;
    }
}

}  // namespace

void Mt64TwistScalar(uint64_t* words)
{
    const size_t wrap = kMt64Words - kMt64Shift;
    for (size_t i = 0; i < wrap; ++i) words[i] = TwistWord(words[i], words[i + 1], words[i + kMt64Shift]);
    for (size_t i = wrap; i < kMt64Words - 1; ++i) words[i] = TwistWord(words[i], words[i + 1], words[i - wrap]);
    // The last word's successor is word 0, already of the new generation.
    words[kMt64Words - 1] = TwistWord(words[kMt64Words - 1], words[0], words[kMt64Shift - 1]);
}

void Mt64TopBytesScalar(const uint64_t* words, size_t count, uint8_t* dest)
{
    for (size_t i = 0; i < count; ++i) dest[i] = static_cast<uint8_t>(Temper(words[i]) >> 56);
}

void Mt64TwistTopBytesScalar(uint64_t* words, uint8_t* dest)
{
    Mt64TwistScalar(words);
    Mt64TopBytesScalar(words, kMt64Words, dest);
}

Mt64Path BestMt64Path()
{
    for (Mt64Path path : {Mt64Path::Avx512, Mt64Path::Avx2})
        if (CanRunPath(path)) return path;
    return Mt64Path::Scalar;
}

Mt64Path ActiveMt64Path()
{
    return ActivePath().load(std::memory_order_relaxed);
}

bool UseMt64Path(Mt64Path path)
{
    if (!CanRunPath(path)) return false;
    ActivePath().store(path, std::memory_order_relaxed);
    return true;
}

// The standard's initialisation: each word derives from the one before.
void FastMt64::seed(uint64_t value)
{
    words[0] = value;
    for (size_t i = 1; i < kMt64Words; ++i)
        words[i] = 6364136223846793005ULL * (words[i - 1] ^ (words[i - 1] >> 62)) + i;
    next = kMt64Words;
}

uint64_t FastMt64::operator()()
{
    if (next == kMt64Words) {
        ActiveKernels().twist(words);
        next = 0;
    }
    return Temper(words[next++]);
}

// Twists only when the skip runs past the current generation, as drawing
// would, so a skipped engine equals one that drew the same count.
void FastMt64::discard(uint64_t count)
{
    const Mt64Kernels& kernels = ActiveKernels();
    while (count > 0) {
        if (next == kMt64Words) {
            kernels.twist(words);
            next = 0;
        }
        const uint64_t run = count < kMt64Words - next ? count : kMt64Words - next;
        next += static_cast<size_t>(run);
        count -= run;
    }
}

// Whole generations go straight from the twist to `dest`; the rest is
// tempered from the state.
void FastMt64::FillTopBytes(uint8_t* dest, size_t count)
{
    const Mt64Kernels& kernels = ActiveKernels();
    while (count > 0) {
        if (next == kMt64Words && count >= kMt64Words) {
            kernels.twistTopBytes(words, dest);
            dest += kMt64Words;
            count -= kMt64Words;
            continue;
        }
        if (next == kMt64Words) {
            kernels.twist(words);
            next = 0;
        }
        const size_t run = count < kMt64Words - next ? count : kMt64Words - next;
        kernels.topBytes(words + next, run, dest);
        next += run;
        dest += run;
        count -= run;
    }
}
