// Random names for scrambled files, removed folders and the wipe file.
#pragma once

#include <string>

// Fills `name` with 16 characters of [a-zA-Z0-9], one per byte of a 16-byte
// draw from the cryptographic generator, each byte taken modulo 62. Returns
// false, leaving `name` as it was, when the generator fails.
bool DrawRandomName(std::wstring& name);
