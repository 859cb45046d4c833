// The placeholders of path specs: the names the launcher's expander knows
// (paths/path_spec.cpp) and what onefile-build must know about each value to
// accept a folder spec before the launcher ever expands it. Windows-free, so
// the packer and the launcher read the same table.
//
// Names are tested in table order and compared without regard to ASCII case.
#pragma once

#include <cstddef>

// A folder spec the build writes into the image (--cache-dir, --temp-dir) has
// at most this many UTF-16 code units: far below the launcher's 4096-unit
// folder buffers, leaving room for what placeholders expand to and for the
// names the launcher appends.
inline constexpr std::size_t max_folder_spec_units = 1024;

enum class Placeholder {
    temp,
    program,
    program_base,
    program_dir,
    pid,
    home,
    cache_dir,
    company,
    product,
    version,
    file_version,
    product_version,
    random,
    time_us,
    time,
    unknown,
};

struct PlaceholderRule {
    const char* name;
    Placeholder placeholder;
    // A system folder, always absolute; its trailing backslashes are dropped
    // so that the template's own separator follows it.
    bool absolute_folder;
    // A new value in every run: a folder named with it would never be found
    // again by the next run.
    bool run_unique;
};

inline constexpr PlaceholderRule placeholder_rules[] = {
    {"TEMP", Placeholder::temp, true, false},
    {"PROGRAM", Placeholder::program, false, false},
    {"PROGRAM_BASE", Placeholder::program_base, false, false},
    {"PROGRAM_DIR", Placeholder::program_dir, false, false},
    {"PID", Placeholder::pid, false, true},
    {"HOME", Placeholder::home, true, false},
    {"CACHE_DIR", Placeholder::cache_dir, true, false},
    {"COMPANY", Placeholder::company, false, false},
    {"PRODUCT", Placeholder::product, false, false},
    {"VERSION", Placeholder::version, false, false},
    {"FILE_VERSION", Placeholder::file_version, false, false},
    {"PRODUCT_VERSION", Placeholder::product_version, false, false},
    {"RANDOM", Placeholder::random, false, true},
    {"TIME_US", Placeholder::time_us, false, true},
    {"TIME", Placeholder::time, false, true},
};

// The rule for a zero-terminated name in any code-unit type; null when the
// name is not a placeholder.
template <typename Unit>
constexpr const PlaceholderRule* find_placeholder_rule(const Unit* name) {
    auto upper = [](unsigned long unit) { return (unit >= 'a' && unit <= 'z') ? unit - ('a' - 'A') : unit; };
    for (const PlaceholderRule& rule : placeholder_rules) {
        std::size_t i = 0;
        while (rule.name[i] != 0 &&
               upper(static_cast<unsigned long>(name[i])) == static_cast<unsigned long>(rule.name[i]))
            ++i;
        if (rule.name[i] == 0 && name[i] == 0) return &rule;
    }
    return nullptr;
}
