#include "launcher/run_folder_name.h"

#include "launcher/run_state.h"  // run_marker_capacity
#include "paths/wide_buffer.h"

namespace {

constexpr wchar_t folder_prefix[] = L"onefile_";
constexpr int process_id_digits_most = 10;  // 4294967295
constexpr int time_us_digits = 6;
constexpr int random_characters = 11;

bool is_digit(wchar_t unit) {
    return unit >= L'0' && unit <= L'9';
}

bool is_base64url(wchar_t unit) {
    return is_digit(unit) || (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z') || unit == L'-' ||
           unit == L'_';
}

// Counts the run of units at text that pass the test, stopping after most.
int count_run(const wchar_t* text, bool (*passes)(wchar_t), int most) {
    int count = 0;
    while (count <= most && text[count] != 0 && passes(text[count])) ++count;
    return count;
}

}  // namespace

void name_run_marker(wchar_t* marker, const wchar_t* folder) {
    wide_copy(marker, folder, run_marker_capacity);
    wide_append(marker, run_marker_suffix, run_marker_capacity);
}

bool is_run_folder_name(const wchar_t* name) {
    for (const wchar_t* prefix = folder_prefix; *prefix != 0; ++prefix, ++name) {
        if (*name != *prefix) return false;
    }
    const int id_digits = count_run(name, is_digit, process_id_digits_most);
    if (id_digits == 0 || id_digits > process_id_digits_most || name[id_digits] != L'_') return false;
    name += id_digits + 1;
    if (count_run(name, is_digit, time_us_digits) != time_us_digits || name[time_us_digits] != L'_') return false;
    name += time_us_digits + 1;
    // The random part may itself hold '_', so it is counted, not split at.
    return count_run(name, is_base64url, random_characters) == random_characters && name[random_characters] == 0;
}
