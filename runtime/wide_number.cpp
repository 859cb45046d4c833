// wcstol, as one scan routine and a thin wrapper that applies the limits of the
// result type (the shape of musl's intscan and wcstol). The scan never stops
// early on overflow: the end pointer always passes every digit, as C requires.
#include "runtime/runtime.h"

namespace {

// The C locale's white space.
bool is_space(wchar_t unit) {
    return unit == L' ' || (unit >= L'\t' && unit <= L'\r');
}

// Value of a digit in bases up to 36; 36 for anything else.
unsigned digit_value(wchar_t unit) {
    if (unit >= L'0' && unit <= L'9') return static_cast<unsigned>(unit - L'0');
    if (unit >= L'a' && unit <= L'z') return static_cast<unsigned>(unit - L'a') + 10;
    if (unit >= L'A' && unit <= L'Z') return static_cast<unsigned>(unit - L'A') + 10;
    return 36;
}

struct IntegerScan {
    unsigned long long magnitude;
    bool negative;
    bool overflowed;  // the magnitude did not fit in 64 bits
    bool valid;       // at least one digit was read
    const wchar_t* end;
};

IntegerScan scan_wide_integer(const wchar_t* text, int base) {
    IntegerScan scan{0, false, false, false, text};
    const wchar_t* p = text;
    while (is_space(*p)) ++p;
    if (*p == L'+' || *p == L'-') {
        scan.negative = *p == L'-';
        ++p;
    }
    // "0x" only counts as a prefix when a hex digit follows; otherwise the
    // subject is the "0" alone and the end points at the 'x'.
    bool hex_prefix = p[0] == L'0' && (p[1] == L'x' || p[1] == L'X') && digit_value(p[2]) < 16;
    if (base == 0) base = hex_prefix ? 16 : (p[0] == L'0' ? 8 : 10);
    if (base == 16 && hex_prefix) p += 2;

    const unsigned long long limit = ~0ULL;
    for (unsigned digit; (digit = digit_value(*p)) < static_cast<unsigned>(base); ++p) {
        scan.valid = true;
        if (scan.magnitude > (limit - digit) / static_cast<unsigned>(base)) {
            scan.overflowed = true;
        } else {
            scan.magnitude = scan.magnitude * static_cast<unsigned>(base) + digit;
        }
    }
    if (scan.valid) scan.end = p;
    return scan;
}

}  // namespace

long rt_wcstol(const wchar_t* text, wchar_t** end, int base) {
    if (base < 0 || base == 1 || base > 36) {
        if (end != nullptr) *end = const_cast<wchar_t*>(text);
        rt_errno = rt_EINVAL;
        return 0;
    }
    IntegerScan scan = scan_wide_integer(text, base);
    if (end != nullptr) *end = const_cast<wchar_t*>(scan.end);
    if (!scan.valid) return 0;

    // long is 32 bits on Windows: the negative side reaches one further.
    constexpr unsigned long long largest = 0x7FFFFFFFULL;
    unsigned long long allowed = scan.negative ? largest + 1 : largest;
    if (scan.overflowed || scan.magnitude > allowed) {
        rt_errno = rt_ERANGE;
        return scan.negative ? -static_cast<long>(largest) - 1 : static_cast<long>(largest);
    }
    if (scan.negative) return static_cast<long>(0 - scan.magnitude);
    return static_cast<long>(scan.magnitude);
}
