// Random names for scrambled files, removed folders and the wipe file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kRandomNameLength = 16;

// The random bytes of one name, one per character.
using RandomNameBytes = uint8_t[kRandomNameLength];

// Returns the name of 16 characters of [a-zA-Z0-9] that `bytes` make, each
// byte taken modulo 62.
std::wstring RandomNameOf(const RandomNameBytes& bytes);

// Fills `name` with the name of a 16-byte draw from the cryptographic
// generator. Returns false, leaving `name` as it was, when the generator fails.
bool DrawRandomName(std::wstring& name);

// Returns true when `name` could be a random name: 16 letters and digits.
bool IsRandomName(const std::wstring& name);
