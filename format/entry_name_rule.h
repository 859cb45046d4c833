// The entry-name rule: which archive names the launcher may join under its
// extraction directory. The packer refuses what the rule refuses (with a
// message saying why), the launcher refuses it again before it creates
// anything, and the fuzzer runs the same code, so the two sides cannot drift.
//
// A name is refused when it is empty, longer than max_name_units, or any of
// its components (split at '\'):
//   - is empty (a leading, trailing or doubled separator);
//   - holds a control character, ':' (a drive or an alternate data stream),
//     or one of / < > " | ? * (no part of a Windows name; '/' would also
//     separate, so it could smuggle a ".." past the component rule);
//   - ends in '.' or ' ' (covers "." and "..", and names like "..." that
//     Windows trims into "..");
//   - names a device whatever folder it stands in: CON, PRN, AUX, NUL, CONIN$,
//     CONOUT$, COM0-9, LPT0-9 (superscript 1, 2, 3 too), with or without an
//     extension or trailing blanks before it, in any letter case.
//
// Free of Windows and of the standard library's containers: a template over
// the code unit type (char16_t in the packer, wchar_t in the launcher, whose
// wchar_t is 32 bits in the native fuzzing build).
#pragma once

#include <cstddef>

#include "format/payload_layout.h"

namespace payload_layout {

enum class NameProblem {
    none,
    empty_name,
    too_long,
    empty_component,
    control_character,
    colon,
    forbidden_character,  // one of / < > " | ? *
    trailing_dot_or_space,
    device_name,
};

inline bool is_forbidden_name_character(unsigned long unit) {
    return unit == '/' || unit == '<' || unit == '>' || unit == '"' || unit == '|' || unit == '?' || unit == '*';
}

template <typename Unit>
unsigned long ascii_upper_unit(Unit unit) {
    auto value = static_cast<unsigned long>(unit);
    return value >= 'a' && value <= 'z' ? value - 32 : value;
}

template <typename Unit>
bool matches_word_ignoring_case(const Unit* text, std::size_t length, const char* upper_word) {
    std::size_t i = 0;
    for (; i < length && upper_word[i] != '\0'; ++i) {
        if (ascii_upper_unit(text[i]) != static_cast<unsigned long>(upper_word[i])) return false;
    }
    return i == length && upper_word[i] == '\0';
}

// COM and LPT take 0 to 9; Windows also maps the superscript digits.
inline bool is_port_digit(unsigned long unit) {
    return (unit >= '0' && unit <= '9') || unit == 0x00B9 || unit == 0x00B2 || unit == 0x00B3;
}

// The part before the first '.', trailing blanks dropped, compared without
// regard to case ("con", "NUL.txt", "com1 .log", "CONIN$").
template <typename Unit>
bool names_device(const Unit* component, std::size_t length) {
    std::size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    static constexpr const char* plain_devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : plain_devices) {
        if (matches_word_ignoring_case(component, base, device)) return true;
    }
    return base == 4 &&
           (matches_word_ignoring_case(component, 3, "COM") || matches_word_ignoring_case(component, 3, "LPT")) &&
           is_port_digit(static_cast<unsigned long>(component[3]));
}

template <typename Unit>
NameProblem component_problem(const Unit* component, std::size_t length) {
    if (length == 0) return NameProblem::empty_component;
    for (std::size_t i = 0; i < length; ++i) {
        auto unit = static_cast<unsigned long>(component[i]);
        if (unit < 0x20) return NameProblem::control_character;
        if (unit == ':') return NameProblem::colon;
        if (is_forbidden_name_character(unit)) return NameProblem::forbidden_character;
    }
    const auto last = static_cast<unsigned long>(component[length - 1]);
    if (last == '.' || last == ' ') return NameProblem::trailing_dot_or_space;
    if (names_device(component, length)) return NameProblem::device_name;
    return NameProblem::none;
}

// The first problem of name[0..length), or none.
template <typename Unit>
NameProblem entry_name_problem(const Unit* name, std::size_t length) {
    if (length == 0) return NameProblem::empty_name;
    if (length > max_name_units) return NameProblem::too_long;
    std::size_t start = 0;
    for (std::size_t i = 0;; ++i) {
        if (i == length || name[i] == '\\') {
            NameProblem problem = component_problem(name + start, i - start);
            if (problem != NameProblem::none || i == length) return problem;
            start = i + 1;
        }
    }
}

// The same for a zero-terminated name.
template <typename Unit>
bool entry_name_is_safe(const Unit* name) {
    std::size_t length = 0;
    while (name[length] != 0 && length <= max_name_units) ++length;
    return entry_name_problem(name, length) == NameProblem::none;
}

}  // namespace payload_layout
