#include "demo_greeting.h"

#include <cwchar>

namespace {

constexpr wchar_t greeting_prefix[] = L"Hello, ";
constexpr wchar_t greeting_suffix[] = L", from demo_greeting.dll!";

}  // namespace

DEMO_GREETING_API int demo_compose_greeting(const wchar_t* name, wchar_t* out, int capacity) {
    const int length = std::swprintf(out, capacity, L"%ls%ls%ls", greeting_prefix, name, greeting_suffix);
    if (length < 0 || length >= capacity) {
        if (capacity > 0) out[0] = L'\0';
        return -1;
    }
    return length;
}
