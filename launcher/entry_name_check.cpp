// The entry-name check: whether an archive name may be joined under the
// extraction directory. Kept apart from extraction.cpp and free of Windows
// headers, so the fuzzing harness runs the very check the launcher runs.
#include <cstddef>

#include "launcher/extraction.h"

namespace {

bool is_separator(wchar_t unit) {
    // Only '\' separates in the archive, but Windows also splits at '/', so a
    // '/' must not smuggle a ".." past the check.
    return unit == L'\\' || unit == L'/';
}

wchar_t ascii_upper(wchar_t unit) {
    return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - 32) : unit;
}

bool matches_ignoring_case(const wchar_t* text, std::size_t length, const wchar_t* upper_word) {
    std::size_t i = 0;
    for (; i < length && upper_word[i] != L'\0'; ++i) {
        if (ascii_upper(text[i]) != upper_word[i]) return false;
    }
    return i == length && upper_word[i] == L'\0';
}

// COM and LPT take 1 to 9; Windows also maps the superscript digits.
bool is_port_digit(wchar_t unit) {
    return (unit >= L'1' && unit <= L'9') || unit == 0x00B9 || unit == 0x00B2 || unit == 0x00B3;
}

// A component that Windows maps to a device whatever folder it stands in:
// the part before the first '.', trailing blanks dropped, compared without
// regard to case ("con", "NUL.txt", "com1 .log", "CONIN$").
bool names_device(const wchar_t* component, std::size_t length) {
    std::size_t base = 0;
    while (base < length && component[base] != L'.') ++base;
    while (base > 0 && component[base - 1] == L' ') --base;
    static constexpr const wchar_t* plain_devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : plain_devices) {
        if (matches_ignoring_case(component, base, device)) return true;
    }
    return base == 4 && (matches_ignoring_case(component, 3, L"COM") || matches_ignoring_case(component, 3, L"LPT")) &&
           is_port_digit(component[3]);
}

// Empty ("a\\b", a leading or trailing separator), ending in '.' or ' ' (this
// covers "." and "..", and names like "..." that Windows trims into ".."), or
// naming a device.
bool component_is_safe(const wchar_t* component, std::size_t length) {
    if (length == 0) return false;
    wchar_t last = component[length - 1];
    if (last == L'.' || last == L' ') return false;
    return !names_device(component, length);
}

}  // namespace

bool entry_name_is_safe(const wchar_t* name) {
    if (name[0] == L'\0') return false;
    for (const wchar_t* unit = name; *unit != L'\0'; ++unit) {
        // A colon makes a drive ("C:x") or an alternate data stream ("a:b");
        // control characters are no part of a Windows name.
        if (*unit == L':' || *unit < L' ') return false;
    }
    const wchar_t* component = name;
    for (const wchar_t* unit = name;; ++unit) {
        if (*unit == L'\0' || is_separator(*unit)) {
            if (!component_is_safe(component, static_cast<std::size_t>(unit - component))) return false;
            if (*unit == L'\0') return true;
            component = unit + 1;
        }
    }
}
