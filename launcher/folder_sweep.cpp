#include "launcher/folder_sweep.h"

#include <windows.h>

#include "launcher/run_folder_name.h"
#include "launcher/run_marker.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constexpr wchar_t run_folder_pattern[] = L"onefile_*";

// The length of own_folder's holding folder with its backslash; 0 when it
// has none.
std::size_t holding_folder_length(const wchar_t* own_folder) {
    std::size_t length = 0;
    for (std::size_t at = 0; own_folder[at] != 0; ++at) {
        if (own_folder[at] == L'\\') length = at + 1;
    }
    return length;
}

// buffers.folder := the first base_length units of own_folder + name, and
// buffers.marker its marker; false when the name does not fit.
bool name_in_holding_folder(SweepBuffers& buffers, const wchar_t* own_folder, std::size_t base_length,
                            const wchar_t* name) {
    if (base_length + wide_length(name) >= extraction_directory_capacity) return false;
    for (std::size_t i = 0; i < base_length; ++i) buffers.folder[i] = own_folder[i];
    buffers.folder[base_length] = 0;
    wide_append(buffers.folder, name, extraction_directory_capacity);
    name_run_marker(buffers.marker, buffers.folder);
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
bool remove_if_run_ended(const SweepBuffers& buffers) {
    HANDLE marker = open_ended_run_marker(buffers.marker);
    if (marker == INVALID_HANDLE_VALUE) return false;
    sys.remove_directory_tree(buffers.folder);
    const bool removed = folder_is_gone(buffers.folder);
    release_run_marker(marker, removed);
    return removed;
}

// The folder name a marker's name stands for, into folder_name (MAX_PATH
// units); false unless name is a run folder's name with the marker suffix.
bool folder_name_of_marker(const wchar_t* name, wchar_t* folder_name) {
    const std::size_t length = wide_length(name);
    if (length <= run_marker_suffix_length || length >= MAX_PATH ||
        !same_text(name + length - run_marker_suffix_length, run_marker_suffix)) {
        return false;
    }
    for (std::size_t i = 0; i < length - run_marker_suffix_length; ++i) folder_name[i] = name[i];
    folder_name[length - run_marker_suffix_length] = 0;
    return is_run_folder_name(folder_name);
}

// A run ended between removing its folder and removing its marker leaves the
// marker alone; nobody holds it, so it goes. A live run holds its marker from
// before its folder exists, so its marker is never taken for such a one.
bool remove_if_orphan_marker(const SweepBuffers& buffers) {
    HANDLE marker = open_ended_run_marker(buffers.marker);
    if (marker == INVALID_HANDLE_VALUE) return false;
    release_run_marker(marker, true);
    return true;
}

}  // namespace

int sweep_ended_runs(const wchar_t* own_folder, SweepBuffers& buffers) {
    const std::size_t base_length = holding_folder_length(own_folder);
    // The pattern goes in the folder buffer first: the search keeps its own copy.
    if (base_length == 0 || !name_in_holding_folder(buffers, own_folder, base_length, run_folder_pattern)) return 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(buffers.folder, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int looked_at = 0;
    int removed = 0;
    do {
        wchar_t folder_name[MAX_PATH];
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            folder_name_of_marker(found.cFileName, folder_name)) {
            if (name_in_holding_folder(buffers, own_folder, base_length, folder_name) &&
                folder_is_gone(buffers.folder)) {
                ++looked_at;
                remove_if_orphan_marker(buffers);
            }
            continue;
        }
        if (!is_plain_folder(found) || !is_run_folder_name(found.cFileName)) continue;
        if (!name_in_holding_folder(buffers, own_folder, base_length, found.cFileName)) continue;
        if (same_text(buffers.folder, own_folder)) continue;
        ++looked_at;
        if (remove_if_run_ended(buffers)) ++removed;
    } while (looked_at < sweep_look_limit && removed < sweep_removal_limit && FindNextFileW(search, &found));
    FindClose(search);
    return removed;
}
