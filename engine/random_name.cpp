#include "engine/random_name.h"

#include "os/os_seam.h"

namespace {

constexpr wchar_t kNameAlphabet[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kNameAlphabetSize = 62;
constexpr int kNameLength = 16;

}  // namespace

bool DrawRandomName(std::wstring& name)
{
    UCHAR bytes[kNameLength] = {};
    if (!BCRYPT_SUCCESS(os.BCryptGenRandom(nullptr, bytes, kNameLength, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return false;
    }
    std::wstring drawn(kNameLength, L'\0');
    for (int k = 0; k < kNameLength; ++k) drawn[k] = kNameAlphabet[bytes[k] % kNameAlphabetSize];
    name = drawn;
    return true;
}
