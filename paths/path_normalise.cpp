#include "paths/path_normalise.h"

#include <cstdlib>

#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

// Both normalised paths feed the comparison of executable paths.
constexpr char executable_path[] = "executable path";

bool starts_with(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

bool same_text(const wchar_t* left, const wchar_t* right) {
    for (; *left == *right; ++left, ++right) {
        if (*left == 0) return true;
    }
    return false;
}

// Removes count units at text + offset by moving the rest (and its terminator)
// down; the caller has checked that they exist.
void remove_units(wchar_t* text, std::size_t offset, std::size_t count) {
    wchar_t* to = text + offset;
    const wchar_t* from = to + count;
    while ((*to++ = *from++) != 0) {
    }
}

void remove_long_path_prefix(wchar_t* destination, const wchar_t* source) {
    if (starts_with(destination, L"\\\\?\\")) {
        bool drive_path = destination[4] != 0 && destination[5] == L':';
        bool plain_source = destination != source && same_text(destination + 4, source);
        if (drive_path || plain_source) remove_units(destination, 0, 4);
    }
    // \\?\UNC\server\share -> \\server\share: keep the first two backslashes.
    if (starts_with(destination, L"\\\\?\\UNC\\")) remove_units(destination, 2, 6);
}

wchar_t* heap_copy(const wchar_t* text) {
    std::size_t size = wide_length(text) + 1;
    auto* copy = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
    if (copy == nullptr) return nullptr;
    wide_copy(copy, text, size);
    return copy;
}

// Replaces path by its short form; leaves it unchanged when there is none.
void replace_by_short_form(wchar_t* path, std::size_t capacity) {
    DWORD needed = sys.GetShortPathNameW(path, nullptr, 0);
    if (needed == 0) return;
    auto* short_form = static_cast<wchar_t*>(malloc((static_cast<std::size_t>(needed) + 1) * sizeof(wchar_t)));
    if (short_form == nullptr) abort();
    DWORD length = sys.GetShortPathNameW(path, short_form, needed);
    if (length > needed) abort();  // the path grew between the two calls
    // 0: the directory vanished between the two calls; the buffer holds no
    // defined text, so the long form stays, as when the first call fails.
    if (length != 0) wide_copy_or_stop(path, short_form, capacity, executable_path);
    free(short_form);
}

}  // namespace

void make_directory_absolute(wchar_t* directory, std::size_t capacity) {
    auto* full = static_cast<wchar_t*>(malloc(capacity * sizeof(wchar_t)));
    if (full == nullptr) abort();
    DWORD length = sys.GetFullPathNameW(directory, static_cast<DWORD>(capacity), full, nullptr /* file part */);
    if (length == 0) abort();
    if (length >= capacity) stop_at_limit("extraction folder path");
    wide_copy(directory, full, capacity);
    free(full);
}

void resolve_final_path(wchar_t* destination, const wchar_t* source, DWORD capacity, bool resolve) {
    if (!resolve) {
        wide_copy_or_stop(destination, source, capacity, executable_path);
        return;
    }
    // No data access and no backup semantics: enough to ask for the name of a
    // file; a directory does not open and keeps its plain form.
    HANDLE file = CreateFileW(source, 0 /* access */, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    wide_copy_or_stop(destination, source, capacity, executable_path);
    if (file == INVALID_HANDLE_VALUE) return;

    DWORD length = 0;
    if (FinalPathFunction final_path = sys.find_final_path_function()) {
        length = final_path(file, destination, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    CloseHandle(file);
    // A result of the capacity or more is the size it would need. 0 is no
    // error: the destination keeps the plain copy.
    if (length >= capacity) stop_at_limit(executable_path);
    if (length == 0) return;
    remove_long_path_prefix(destination, source);
}

void shorten_directory_part(wchar_t* path, std::size_t capacity) {
    wchar_t* last_separator = nullptr;
    for (wchar_t* unit = path; *unit != 0; ++unit) {
        if (*unit == L'\\') last_separator = unit;
    }
    if (last_separator == nullptr) {
        replace_by_short_form(path, capacity);
        return;
    }
    // The last component keeps its long form (it may be empty).
    wchar_t* last_component = heap_copy(last_separator + 1);
    if (last_component == nullptr) abort();
    *last_separator = 0;
    replace_by_short_form(path, capacity);
    wide_append_or_stop(path, L"\\", capacity, executable_path);
    wide_append_or_stop(path, last_component, capacity, executable_path);
    free(last_component);
}

DWORD last_error() {
    return GetLastError();
}
