#include "launcher/folder_sweep.h"

#include <windows.h>

#include "launcher/run_folder_name.h"
#include "launcher/run_marker.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constexpr wchar_t run_folder_pattern[] = L"onefile_*";

// Paths of the folder being looked at and of its marker, and the pattern.
struct SweepPaths {
    wchar_t pattern[extraction_directory_capacity];
    wchar_t folder[extraction_directory_capacity];
    wchar_t marker[run_marker_capacity];
    std::size_t base_length;  // the holding folder with its backslash
};

// Process-wide rather than on the stack (three paths of 4,096 units); only
// the parent's main thread sweeps.
constinit SweepPaths sweep_paths;

// False when own_folder has no folder above it, or the pattern would not fit.
bool set_up_sweep_paths(SweepPaths& paths, const wchar_t* own_folder) {
    const wchar_t* last_backslash = nullptr;
    for (const wchar_t* unit = own_folder; *unit != 0; ++unit) {
        if (*unit == L'\\') last_backslash = unit;
    }
    if (last_backslash == nullptr) return false;
    paths.base_length = static_cast<std::size_t>(last_backslash - own_folder) + 1;
    if (paths.base_length + wide_length(run_folder_pattern) >= extraction_directory_capacity) return false;
    for (std::size_t i = 0; i < paths.base_length; ++i) paths.pattern[i] = own_folder[i];
    paths.pattern[paths.base_length] = 0;
    wide_append(paths.pattern, run_folder_pattern, extraction_directory_capacity);
    return true;
}

// Names the folder and its marker; false when the name does not fit.
bool name_candidate(SweepPaths& paths, const wchar_t* name) {
    if (paths.base_length + wide_length(name) >= extraction_directory_capacity) return false;
    for (std::size_t i = 0; i < paths.base_length; ++i) paths.folder[i] = paths.pattern[i];
    paths.folder[paths.base_length] = 0;
    wide_append(paths.folder, name, extraction_directory_capacity);
    name_run_marker(paths.marker, paths.folder);
    return true;
}

bool is_plain_folder(const WIN32_FIND_DATAW& found) {
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool folder_is_gone(const wchar_t* folder) {
    return sys.GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES;
}

bool same_text(const wchar_t* left, const wchar_t* right) {
    for (; *left != 0 && *left == *right; ++left, ++right) {
    }
    return *left == *right;
}

// One try, no retries: what stays is tried again at a later start.
bool remove_if_run_ended(const SweepPaths& paths) {
    HANDLE marker = open_ended_run_marker(paths.marker);
    if (marker == INVALID_HANDLE_VALUE) return false;
    sys.remove_directory_tree(paths.folder);
    const bool removed = folder_is_gone(paths.folder);
    release_run_marker(marker, removed);
    return removed;
}

}  // namespace

int sweep_ended_runs(const wchar_t* own_folder) {
    SweepPaths& paths = sweep_paths;
    if (!set_up_sweep_paths(paths, own_folder)) return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(paths.pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int looked_at = 0;
    int removed = 0;
    do {
        if (!is_plain_folder(found) || !is_run_folder_name(found.cFileName)) continue;
        if (!name_candidate(paths, found.cFileName) || same_text(paths.folder, own_folder)) continue;
        ++looked_at;
        if (remove_if_run_ended(paths)) ++removed;
    } while (looked_at < sweep_look_limit && removed < sweep_removal_limit && FindNextFileW(search, &found));
    FindClose(search);
    return removed;
}
