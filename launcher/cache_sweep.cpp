#include "launcher/cache_sweep.h"

#include <wchar.h>

#include "format/cache_layout.h"
#include "launcher/folder_lock.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

bool ends_with(const wchar_t* text, const wchar_t* tail) {
    std::size_t text_length = wide_length(text);
    std::size_t tail_length = wide_length(tail);
    return text_length >= tail_length && wcscmp(text + text_length - tail_length, tail) == 0;
}

bool is_own_folder(const CachedFolder& folder, const wchar_t* path) {
    return wcscmp(path, folder.final_folder) == 0 || wcscmp(path, folder.in_use) == 0 ||
           (folder.staging[0] != L'\0' && wcscmp(path, folder.staging) == 0);
}

// The folder a directory entry stands for: the entry itself, or for a lock
// file the folder it locks.
bool folder_of_entry(wchar_t* out, const CachedFolder& folder, const wchar_t* name) {
    if (wide_length(folder.root) + 1 + wide_length(name) >= path_capacity) return false;
    wide_copy(out, folder.root, path_capacity);
    wide_append(out, L"\\", path_capacity);
    wide_append(out, name, path_capacity);
    if (ends_with(out, cache_layout::lock_suffix)) out[wide_length(out) - wide_length(cache_layout::lock_suffix)] = 0;
    return true;
}

void remove_unless_held(const wchar_t* path) {
    HANDLE sole = open_exclusive_lock(path);
    if (sole == nullptr) return;
    sys.remove_directory_tree(path);
    release_lock(sole);
}

}  // namespace

void sweep_cache_folder(const CachedFolder& folder) {
    wchar_t pattern[path_capacity];
    if (wide_length(folder.root) + 2 >= path_capacity) return;
    wide_copy(pattern, folder.root, path_capacity);
    wide_append(pattern, L"\\*", path_capacity);
    WIN32_FIND_DATAW entry{};
    HANDLE listing = FindFirstFileExW(pattern, FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        wchar_t path[path_capacity];
        if (!cache_layout::is_cache_entry_name(entry.cFileName)) continue;
        if (!folder_of_entry(path, folder, entry.cFileName) || is_own_folder(folder, path)) continue;
        remove_unless_held(path);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}
