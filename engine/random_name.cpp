#include "engine/random_name.h"

#include "os/os_seam.h"

namespace {

constexpr wchar_t kNameAlphabet[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kNameAlphabetSize = 62;

}  // namespace

std::wstring RandomNameOf(const RandomNameBytes& bytes)
{
    std::wstring name(kRandomNameLength, L'\0');
    for (size_t k = 0; k < kRandomNameLength; ++k) name[k] = kNameAlphabet[bytes[k] % kNameAlphabetSize];
    return name;
}

bool DrawRandomName(std::wstring& name)
{
    RandomNameBytes bytes = {};
    if (!BCRYPT_SUCCESS(os.BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return false;
    }
    name = RandomNameOf(bytes);
    return true;
}

bool IsRandomName(const std::wstring& name)
{
    return name.size() == kRandomNameLength && name.find_first_not_of(kNameAlphabet) == std::wstring::npos;
}
