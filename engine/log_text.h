// How the engine turns its messages into text for the log function.
#pragma once

#include "engine/erase_types.h"

#include <cstddef>

// Formats printf-style into `buffer` of `capacity` characters (at least 1).
// A text that does not fit is cut at the last whole character, never inside
// a surrogate pair, and is always terminated. Returns `buffer`.
const wchar_t* FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);

// Hands a fixed text to `log` when there is one. Returns nothing.
void LogText(LogFn log, void* context, const wchar_t* text);

// Formats a text into a buffer of `capacity` characters and logs it; formats
// nothing when there is no log function. Returns nothing.
void LogFormatted(LogFn log, void* context, size_t capacity, const wchar_t* format, ...);

// Returns the buffer size for a message that carries `name`: the ordinary
// `capacity`, widened by the name's length so that a long path always fits
// whole instead of being cut.
size_t CapacityForName(size_t capacity, const wchar_t* name);
