#include "engine/log_text.h"

#include <cstdarg>
#include <cwchar>
#include <stdio.h>
#include <string>

namespace {

// Formats into `buffer`, cutting an overlong text at a whole character.
void FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    int written = _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
    if (written >= 0) return;
    // Cut: the text fills capacity - 1 characters; a high surrogate left at
    // the end would be half a character, so it goes too.
    size_t length = wcslen(buffer);
    if (length > 0 && buffer[length - 1] >= 0xD800 && buffer[length - 1] <= 0xDBFF) {
        buffer[length - 1] = L'\0';
    }
}

}  // namespace

const wchar_t* FormatText(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatInto(buffer, capacity, format, args);
    va_end(args);
    return buffer;
}

void LogText(LogFn log, void* context, const wchar_t* text)
{
    if (log != nullptr) log(text, context);
}

void LogFormatted(LogFn log, void* context, size_t capacity, const wchar_t* format, ...)
{
    if (log == nullptr) return;
    std::wstring buffer(capacity, L'\0');
    va_list args;
    va_start(args, format);
    FormatInto(buffer.data(), capacity, format, args);
    va_end(args);
    log(buffer.c_str(), context);
}

size_t CapacityForName(size_t capacity, const wchar_t* name)
{
    return capacity + wcslen(name);
}
