// The few wide-string functions the launcher calls by their standard names.
#include "runtime/runtime.h"

rt_size rt_wcslen(const wchar_t* text) {
    const wchar_t* end = text;
    while (*end != L'\0') ++end;
    return static_cast<rt_size>(end - text);
}

int rt_wcscmp(const wchar_t* left, const wchar_t* right) {
    while (*left != L'\0' && *left == *right) {
        ++left;
        ++right;
    }
    auto a = static_cast<unsigned short>(*left);
    auto b = static_cast<unsigned short>(*right);
    return a < b ? -1 : (a > b ? 1 : 0);
}

wchar_t* rt_wcsrchr(const wchar_t* text, wchar_t unit) {
    const wchar_t* found = nullptr;
    for (;; ++text) {
        if (*text == unit) found = text;
        if (*text == L'\0') return const_cast<wchar_t*>(found);
    }
}
