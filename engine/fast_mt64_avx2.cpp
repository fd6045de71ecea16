// The AVX2 steps of the 64-bit Mersenne Twister, four words at a time. This
// file alone is compiled with AVX2 and is only called once the processor and
// the OS have been seen to support it; it includes no standard library
// templates, whose AVX2 instances the linker could pick for every caller.
#include "engine/fast_mt64_kernels.h"

#include <immintrin.h>
#include <string.h>

namespace {

// Returns the four words at `at`, which need no particular alignment.
__m256i Load(const uint64_t* at)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Writes four words to `at`. Returns nothing.
void Store(uint64_t* at, __m256i value)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), value);
}

// Returns `value` in all four words.
__m256i Broadcast(uint64_t value)
{
    return _mm256_set1_epi64x(static_cast<long long>(value));
}

// The constants of the twist, loaded once per generation.
struct TwistConstants {
    __m256i upper = Broadcast(kMt64UpperMask);
    // Per 128-bit lane {0, constant}: the twist constant for odd words.
    __m256d oddTerm = _mm256_castsi256_pd(
        _mm256_setr_epi64x(0, static_cast<long long>(kMt64Matrix), 0, static_cast<long long>(kMt64Matrix)));
};

// Returns the next generation of four words, given them, the four words one
// place on and the four `kMt64Shift` places on. The low bit of a joined word
// is that of the following word; doubling that word moves the bit to where
// the lane permute reads its selector, which picks 0 or the twist constant.
__m256i TwistFour(const TwistConstants& k, __m256i current, __m256i following, __m256i far)
{
    const __m256i joined = _mm256_xor_si256(following, _mm256_and_si256(_mm256_xor_si256(current, following), k.upper));
    const __m256i odd = _mm256_castpd_si256(_mm256_permutevar_pd(k.oddTerm, _mm256_add_epi64(following, following)));
    return _mm256_xor_si256(_mm256_xor_si256(far, _mm256_srli_epi64(joined, 1)), odd);
}

// Returns four words tempered as far as their top bytes need: the third
// step's mask is all ones there, and the fourth step cannot reach them.
__m256i TemperTopBytes(__m256i x)
{
    x = _mm256_xor_si256(x, _mm256_and_si256(_mm256_srli_epi64(x, kMt64TemperShift1), Broadcast(kMt64TemperMask1)));
    x = _mm256_xor_si256(x, _mm256_and_si256(_mm256_slli_epi64(x, kMt64TemperShift2), Broadcast(kMt64TemperMask2)));
    return _mm256_xor_si256(x, _mm256_slli_epi64(x, kMt64TemperShift3));
}

// Byte shuffles that move the top bytes of the four words of group k (k =
// 0..3 in a run of sixteen words) to bytes 4k..4k+3: the two of the low lane
// stay in the low lane, the two of the high lane in the high one, and every
// other byte becomes zero, so that the lanes OR-ed give the bytes in order.
// Read from memory, not built on the stack, which would stall each load.
constexpr unsigned char Z = 0x80;  // selects a zero
alignas(32) const unsigned char kGatherControls[4][32] = {
    {7, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 7, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z},
    {Z, Z, Z, Z, 7, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 7, 15, Z, Z, Z, Z, Z, Z, Z, Z},
    {Z, Z, Z, Z, Z, Z, Z, Z, 7, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 7, 15, Z, Z, Z, Z},
    {Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 7, 15, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 7, 15},
};

// Returns the top bytes of the four words of `state` tempered, placed as
// group `k`.
__m256i Gather(int k, __m256i state)
{
    const __m256i control = _mm256_load_si256(reinterpret_cast<const __m256i*>(kGatherControls[k]));
    return _mm256_shuffle_epi8(TemperTopBytes(state), control);
}

// Returns the two lanes of `gathered` OR-ed: sixteen bytes in order.
__m128i FoldLanes(__m256i gathered)
{
    return _mm_or_si128(_mm256_castsi256_si128(gathered), _mm256_extracti128_si256(gathered, 1));
}

// Twists the four words from word `i` (a multiple of four below the last
// four) in place and returns them. The first half mixes in words of the old
// generation, the second half words the first half has already renewed, so
// groups must be twisted in order.
__m256i TwistAt(const TwistConstants& k, uint64_t* words, size_t i)
{
    const size_t wrap = kMt64Words - kMt64Shift;
    const size_t far = i < wrap ? i + kMt64Shift : i - wrap;
    const __m256i renewed = TwistFour(k, Load(words + i), Load(words + i + 1), Load(words + far));
    Store(words + i, renewed);
    return renewed;
}

// Twists the last four words in place and returns them: the successor of the
// last word is word 0, already renewed.
__m256i TwistLast(const TwistConstants& k, uint64_t* words)
{
    const size_t i = kMt64Words - 4;
    const __m256i following = _mm256_setr_epi64x(static_cast<long long>(words[i + 1]), static_cast<long long>(words[i + 2]),
                                                  static_cast<long long>(words[i + 3]), static_cast<long long>(words[0]));
    const __m256i renewed = TwistFour(k, Load(words + i), following, Load(words + i - (kMt64Words - kMt64Shift)));
    Store(words + i, renewed);
    return renewed;
}

}  // namespace

void Mt64TwistAvx2(uint64_t* words)
{
    const TwistConstants k;
    for (size_t i = 0; i < kMt64Words - 4; i += 4) TwistAt(k, words, i);
    TwistLast(k, words);
}

// Each group is tempered while still in a register; the state holds 19 runs
// of sixteen words and eight words more.
void Mt64TwistTopBytesAvx2(uint64_t* words, uint8_t* dest)
{
    const TwistConstants k;
    size_t i = 0;
    for (; i + 16 <= kMt64Words - 4; i += 16, dest += 16) {
        __m256i gathered = Gather(0, TwistAt(k, words, i));
        gathered = _mm256_or_si256(gathered, Gather(1, TwistAt(k, words, i + 4)));
        gathered = _mm256_or_si256(gathered, Gather(2, TwistAt(k, words, i + 8)));
        gathered = _mm256_or_si256(gathered, Gather(3, TwistAt(k, words, i + 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), FoldLanes(gathered));
    }
    __m256i gathered = Gather(0, TwistAt(k, words, i));
    gathered = _mm256_or_si256(gathered, Gather(1, TwistLast(k, words)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), FoldLanes(gathered));
}

void Mt64TopBytesAvx2(const uint64_t* words, size_t count, uint8_t* dest)
{
    for (; count >= 16; count -= 16, words += 16, dest += 16) {
        const __m256i gathered = _mm256_or_si256(_mm256_or_si256(Gather(0, Load(words)), Gather(1, Load(words + 4))),
                                                 _mm256_or_si256(Gather(2, Load(words + 8)), Gather(3, Load(words + 12))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), FoldLanes(gathered));
    }
    for (; count >= 4; count -= 4, words += 4, dest += 4) {
        const int bytes = _mm_cvtsi128_si32(FoldLanes(Gather(0, Load(words))));
        memcpy(dest, &bytes, 4);
    }
    // The last few from a padded copy, so that nothing past the state is read.
    if (count > 0) {
        uint64_t four[4] = {0, 0, 0, 0};
        memcpy(four, words, count * sizeof(uint64_t));
        const int bytes = _mm_cvtsi128_si32(FoldLanes(Gather(0, Load(four))));
        memcpy(dest, &bytes, count);
    }
}
