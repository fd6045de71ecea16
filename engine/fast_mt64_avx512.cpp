// The AVX-512 steps of the 64-bit Mersenne Twister, eight words at a time.
// Only AVX-512 Foundation instructions are used. This file alone is compiled
// with them and is only called once the processor and the OS have been seen
// to support them; like the AVX2 file it includes no standard library
// templates, whose AVX-512 instances the linker could pick for every caller.
#include "engine/fast_mt64_kernels.h"

#include <immintrin.h>

// GCC 12 takes the registers its AVX-512 intrinsics leave undefined, which no
// result depends on, for uninitialised variables (GCC bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// Returns `value` in all eight words.
__m512i Broadcast(uint64_t value)
{
    return _mm512_set1_epi64(static_cast<long long>(value));
}

// Truth tables of the ternary logic instruction over its operands x, y, z:
// bit (x << 2 | y << 1 | z) of the table is the result for those bits.
constexpr int kSelectFirstWhereThird = 0xE4;  // z ? x : y
constexpr int kXorWithAnd = 0x78;             // x ^ (y & z)

// The words that the twist of eight words reads.
struct Group {
    __m512i current;
    __m512i following;
    __m512i far;
};

// Returns the next generation of the eight words of `group`. The joined
// word takes its upper bit from the current word and the rest from the
// following one, so its low bit, which decides whether the twist constant
// is mixed in, is the following word's.
__m512i TwistEight(const Group& group)
{
    const __m512i joined =
        _mm512_ternarylogic_epi64(group.current, group.following, Broadcast(kMt64UpperMask), kSelectFirstWhereThird);
    const __m512i shifted = _mm512_xor_si512(group.far, _mm512_srli_epi64(joined, 1));
    const __mmask8 odd = _mm512_test_epi64_mask(group.following, Broadcast(1));
    return _mm512_mask_xor_epi64(shifted, odd, shifted, Broadcast(kMt64Matrix));
}

// Twists the lanes of `mask` of the eight words from word `i` in place,
// mixing in those from word `far`, and returns them. Lanes outside the mask
// are neither read nor written.
__m512i TwistAt(uint64_t* words, size_t i, size_t far, __mmask8 mask)
{
    const Group group{_mm512_maskz_loadu_epi64(mask, words + i), _mm512_maskz_loadu_epi64(mask, words + i + 1),
                      _mm512_maskz_loadu_epi64(mask, words + far)};
    const __m512i renewed = TwistEight(group);
    _mm512_mask_storeu_epi64(words + i, mask, renewed);
    return renewed;
}

// Twists the last four words in place and returns them: the successor of
// the last word is word 0, already renewed, which takes the fourth lane.
__m512i TwistLast(uint64_t* words)
{
    const size_t i = kMt64Words - 4;
    const __mmask8 four = 0x0F;
    const __m512i following = _mm512_mask_set1_epi64(_mm512_maskz_loadu_epi64(0x07, words + i + 1), 0x08,
                                                      static_cast<long long>(words[0]));
    const Group group{_mm512_maskz_loadu_epi64(four, words + i), following,
                      _mm512_maskz_loadu_epi64(four, words + i - (kMt64Words - kMt64Shift))};
    const __m512i renewed = TwistEight(group);
    _mm512_mask_storeu_epi64(words + i, four, renewed);
    return renewed;
}

// Returns eight words tempered as far as their top bytes need, each top
// byte moved to the word's low byte: the third step's mask is all ones in
// the top byte, and the fourth step cannot reach it. The third step's
// contribution to bits 56..63 is bits 19..26 of the word.
__m512i TopBytesInLowBytes(__m512i x)
{
    x = _mm512_ternarylogic_epi64(x, _mm512_srli_epi64(x, kMt64TemperShift1), Broadcast(kMt64TemperMask1), kXorWithAnd);
    x = _mm512_ternarylogic_epi64(x, _mm512_slli_epi64(x, kMt64TemperShift2), Broadcast(kMt64TemperMask2), kXorWithAnd);
    return _mm512_xor_si512(_mm512_srli_epi64(x, 56), _mm512_srli_epi64(x, 64 - kMt64TemperShift3 - 8));
}

// Writes the top bytes of the lanes of `mask` of `words`, tempered, to `dest`.
// Returns nothing.
void StoreTopBytes(__m512i words, __mmask8 mask, uint8_t* dest)
{
    if (mask == 0xFF) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), _mm512_cvtepi64_epi8(TopBytesInLowBytes(words)));
    } else {
        _mm512_mask_cvtepi64_storeu_epi8(dest, mask, TopBytesInLowBytes(words));
    }
}

// Replaces all words of `words` by the next generation, handing each group
// of renewed words to `each(first word, words, lanes)` while still in a
// register. The first half mixes in words of the old generation, the second
// half words the first half has already renewed, so the halves run in
// order. Each half is 19 groups of eight and one of four, so that no group
// mixes in words of both generations.
template <typename Each>
void TwistGroups(uint64_t* words, Each each)
{
    const size_t wrap = kMt64Words - kMt64Shift;
    size_t i = 0;
    for (; i + 8 <= wrap; i += 8) each(i, TwistAt(words, i, i + kMt64Shift, 0xFF), 0xFF);
    each(i, TwistAt(words, i, i + kMt64Shift, 0x0F), 0x0F);
    for (i = wrap; i + 8 <= kMt64Words - 4; i += 8) each(i, TwistAt(words, i, i - wrap, 0xFF), 0xFF);
    each(kMt64Words - 4, TwistLast(words), 0x0F);
}

}  // namespace

void Mt64TwistAvx512(uint64_t* words)
{
    TwistGroups(words, [](size_t, __m512i, __mmask8) {});
}

void Mt64TopBytesAvx512(const uint64_t* words, size_t count, uint8_t* dest)
{
    for (; count >= 8; count -= 8, words += 8, dest += 8) StoreTopBytes(_mm512_loadu_si512(words), 0xFF, dest);
    // The last few through masks, so that nothing past either end is touched.
    if (count > 0) {
        const __mmask8 rest = static_cast<__mmask8>((1u << count) - 1);
        StoreTopBytes(_mm512_maskz_loadu_epi64(rest, words), rest, dest);
    }
}

// Each group is tempered while still in a register.
void Mt64TwistTopBytesAvx512(uint64_t* words, uint8_t* dest)
{
    TwistGroups(words, [dest](size_t i, __m512i renewed, __mmask8 lanes) { StoreTopBytes(renewed, lanes, dest + i); });
}
