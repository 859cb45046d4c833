#include "launcher/extraction.h"

#include <windows.h>

#include <cstdint>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "format/archive_walk.h"
#include "format/entry_name_rule.h"
#include "launcher/fatal_report.h"
#include "launcher/payload_reader.h"
#include "paths/path_normalise.h"
#include "paths/path_spec.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constexpr const wchar_t* home_spec = L"{HOME}";

// ---- the DirectoryCache ------------------------------------------------------

// A directory whose heap copy cannot be made is simply not remembered: the
// next file in it costs one more CreateDirectoryW, nothing else.
void remember_directory(DirectoryCache& cache, const wchar_t* path) {
    if (cache.count == directory_cache_capacity) return;
    std::size_t size = (wide_length(path) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(malloc(size));
    if (copy == nullptr) return;
    memcpy(copy, path, size);
    cache.entries[cache.count++] = copy;
}

// The profile folder goes first, so the walk up from the extraction directory
// stops there at the latest.
void seed_directory_cache(DirectoryCache& cache) {
    wchar_t home[path_capacity];
    if (!expand_path_spec(home, home_spec, path_capacity)) report_expansion_failure(home_spec);
    remember_directory(cache, home);
}

bool directory_is_cached(const DirectoryCache& cache, const wchar_t* path) {
    for (std::size_t i = 0; i < cache.count; ++i) {
        if (wcscmp(path, cache.entries[i]) == 0) return true;  // letter case counts
    }
    return false;
}

bool is_drive_designator(const wchar_t* path) {
    return path[0] != L'\0' && path[1] == L':' && path[2] == L'\0';
}

// ---- the directory walk ----------------------------------------------------------

// Index of the last '\' in text, not counting one at index 0; 0 when none.
std::size_t last_backslash(const wchar_t* text) {
    for (std::size_t i = wide_length(text); i > 1; --i) {
        if (text[i - 1] == L'\\') return i - 1;
    }
    return 0;
}

// Works on one buffer for the whole walk: each level cuts the text at its last
// backslash and puts the backslash back before returning, so a deep path costs
// a few words of stack per level rather than a path buffer.
bool ensure_parents_in_place(DirectoryCache& cache, wchar_t* path) {
    std::size_t cut = last_backslash(path);
    if (cut == 0) return true;
    path[cut] = L'\0';
    bool exists = ensure_directory(cache, path);
    if (!exists) {
        // Deepest first; climb only while creation fails, then create each
        // level on the way back down. The inner result shows in the retry.
        ensure_parents_in_place(cache, path);
        exists = ensure_directory(cache, path);
    }
    path[cut] = L'\\';
    return exists;
}

}  // namespace

void join_entry_path(RunState& state) {
    // Refused before the path is built, so nothing is created or written for it.
    if (!payload_layout::entry_name_is_safe(state.entry_name)) report_unsafe_entry_name(state.entry_name);
    wide_copy(state.current_file_path, state.extraction_directory, path_capacity);
    wide_append_or_stop(state.current_file_path, L"\\", path_capacity, "file path");
    wide_append_or_stop(state.current_file_path, state.entry_name, path_capacity, "file path");
}

void extract_entry(RunState& state) {
    std::uint64_t size = 0;
    payload_layout::read_entry_size(PayloadReader::read, size);
    // A directory that cannot be made shows up as a file that cannot be opened.
    ensure_parent_directories(state.directories, state.current_file_path);
    HANDLE file = CreateFileW(state.current_file_path, GENERIC_WRITE, FILE_SHARE_WRITE,
                              nullptr,        // lpSecurityAttributes: default
                              CREATE_ALWAYS,  // an existing file is replaced and truncated
                              0,              // dwFlagsAndAttributes
                              nullptr);       // hTemplateFile
    if (file == INVALID_HANDLE_VALUE) report_open_failure(state.current_file_path);
    state.file_being_written = file;
    auto write_chunk = [file](const unsigned char* bytes, std::size_t count) {
        DWORD written = 0;
        // A successful write counts as the whole chunk; the count is not compared.
        if (!sys.WriteFile(file, bytes, static_cast<DWORD>(count), &written, nullptr)) {
            report_system_error("Error, couldn't unpack file to target path.", GetLastError());
        }
    };
    payload_layout::stream_entry_data(PayloadReader::read, size, state.write_buffer, write_buffer_size, write_chunk);
    close_file_being_written(state);
}

void close_file_being_written(RunState& state) {
    if (state.file_being_written == nullptr) return;
    CloseHandle(state.file_being_written);
    state.file_being_written = nullptr;
}

bool ensure_parent_directories(DirectoryCache& cache, const wchar_t* path) {
    wchar_t directory[path_capacity];
    wide_copy(directory, path, path_capacity);
    return ensure_parents_in_place(cache, directory);
}

bool ensure_directory(DirectoryCache& cache, const wchar_t* path) {
    if (cache.count == 0) seed_directory_cache(cache);
    if (directory_is_cached(cache, path)) return true;
    // A drive such as X: always exists for our purposes and is never listed.
    if (is_drive_designator(path)) return true;
    bool exists = sys.CreateDirectoryW(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    if (exists) remember_directory(cache, path);
    return exists;
}
