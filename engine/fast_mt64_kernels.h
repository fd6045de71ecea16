// The bulk steps of the 64-bit Mersenne Twister, in plain x86-64 code, in AVX2
// and in AVX-512. This header holds only constants and declarations: the SIMD
// sources include it, and no inline code may be compiled there with their
// instructions and then be picked by the linker for callers on processors
// without them.
#pragma once

#include <cstddef>
#include <cstdint>

// The published MT19937-64 parameters.
constexpr size_t kMt64Words = 312;                       // words of state
constexpr size_t kMt64Shift = 156;                       // distance of the word mixed in
constexpr uint64_t kMt64Matrix = 0xB5026F5AA96619E9ULL;  // twist constant
constexpr uint64_t kMt64UpperMask = 0xFFFFFFFF80000000ULL;
constexpr int kMt64TemperShift1 = 29;
constexpr uint64_t kMt64TemperMask1 = 0x5555555555555555ULL;
constexpr int kMt64TemperShift2 = 17;
constexpr uint64_t kMt64TemperMask2 = 0x71D67FFFEDA60000ULL;
constexpr int kMt64TemperShift3 = 37;
constexpr uint64_t kMt64TemperMask3 = 0xFFF7EEE000000000ULL;
constexpr int kMt64TemperShift4 = 43;

// Replaces all 312 words of `words` by the next generation. Returns nothing.
void Mt64TwistScalar(uint64_t* words);
void Mt64TwistAvx2(uint64_t* words);
void Mt64TwistAvx512(uint64_t* words);

// Writes to `dest` the top eight bits of the tempered value of each of the
// `count` words at `words`. Returns nothing.
void Mt64TopBytesScalar(const uint64_t* words, size_t count, uint8_t* dest);
void Mt64TopBytesAvx2(const uint64_t* words, size_t count, uint8_t* dest);
void Mt64TopBytesAvx512(const uint64_t* words, size_t count, uint8_t* dest);

// Replaces all words of `words` by the next generation and writes the top
// eight bits of each tempered new word to `dest` (312 bytes). Returns nothing.
void Mt64TwistTopBytesScalar(uint64_t* words, uint8_t* dest);
void Mt64TwistTopBytesAvx2(uint64_t* words, uint8_t* dest);
void Mt64TwistTopBytesAvx512(uint64_t* words, uint8_t* dest);
