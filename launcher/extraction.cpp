#include "launcher/extraction.h"

#include <windows.h>

#include <cstdint>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "launcher/fatal_report.h"
#include "launcher/launcher_state.h"
#include "launcher/payload_reader.h"
#include "paths/path_normalise.h"
#include "paths/path_spec.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

// The file extract_entry is writing, else null; main thread only.
constinit HANDLE file_being_written = nullptr;

constexpr std::size_t write_buffer_size = 32768;
constexpr std::size_t directory_cache_capacity = 1024;
constexpr const wchar_t* home_spec = L"{HOME}";

// Every entry's bytes pass through this one buffer on their way to the file.
constinit unsigned char write_buffer[write_buffer_size] = {};

// Directories known to exist: heap copies, kept for the life of the process.
constinit wchar_t* directory_cache[directory_cache_capacity] = {};
constinit std::size_t directory_cache_count = 0;

// ---- the DirectoryCache ------------------------------------------------------

// A directory whose heap copy cannot be made is simply not remembered: the
// next file in it costs one more CreateDirectoryW, nothing else.
void remember_directory(const wchar_t* path) {
    if (directory_cache_count == directory_cache_capacity) return;
    std::size_t size = (wide_length(path) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(malloc(size));
    if (copy == nullptr) return;
    memcpy(copy, path, size);
    directory_cache[directory_cache_count++] = copy;
}

// The profile folder goes first, so the walk up from the extraction directory
// stops there at the latest.
void seed_directory_cache() {
    wchar_t home[path_capacity];
    if (!expand_path_spec(home, home_spec, path_capacity)) report_expansion_failure(home_spec);
    remember_directory(home);
}

bool directory_is_cached(const wchar_t* path) {
    for (std::size_t i = 0; i < directory_cache_count; ++i) {
        if (wcscmp(path, directory_cache[i]) == 0) return true;  // letter case counts
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
bool ensure_parents_in_place(wchar_t* path) {
    std::size_t cut = last_backslash(path);
    if (cut == 0) return true;
    path[cut] = L'\0';
    bool exists = ensure_directory(path);
    if (!exists) {
        // Deepest first; climb only while creation fails, then create each
        // level on the way back down. The inner result shows in the retry.
        ensure_parents_in_place(path);
        exists = ensure_directory(path);
    }
    path[cut] = L'\\';
    return exists;
}

}  // namespace

void join_entry_path() {
    // Refused before the path is built, so nothing is created or written for it.
    if (!entry_name_is_safe(entry_name)) report_unsafe_entry_name(entry_name);
    wide_copy(current_file_path, extraction_directory, path_capacity);
    wide_append_or_stop(current_file_path, L"\\", path_capacity, "file path");
    wide_append_or_stop(current_file_path, entry_name, path_capacity, "file path");
}

void extract_entry() {
    std::uint64_t remaining = 0;
    PayloadReader::read(&remaining, sizeof remaining);
    // A directory that cannot be made shows up as a file that cannot be opened.
    ensure_parent_directories(current_file_path);
    HANDLE file = sys.CreateFileW(current_file_path, GENERIC_WRITE, FILE_SHARE_WRITE,
                                  nullptr,        // lpSecurityAttributes: default
                                  CREATE_ALWAYS,  // an existing file is replaced and truncated
                                  0,              // dwFlagsAndAttributes
                                  nullptr);       // hTemplateFile
    if (file == INVALID_HANDLE_VALUE) report_open_failure();
    file_being_written = file;
    while (remaining > 0) {
        DWORD chunk = remaining < write_buffer_size ? static_cast<DWORD>(remaining) : write_buffer_size;
        PayloadReader::read(write_buffer, chunk);
        DWORD written = 0;
        // A successful write counts as the whole chunk; the count is not compared.
        if (!sys.WriteFile(file, write_buffer, chunk, &written, nullptr)) {
            report_system_error("Error, couldn't unpack file to target path.", GetLastError());
        }
        remaining -= chunk;
    }
    close_file_being_written();
}

void close_file_being_written() {
    if (file_being_written == nullptr) return;
    CloseHandle(file_being_written);
    file_being_written = nullptr;
}

bool ensure_parent_directories(const wchar_t* path) {
    wchar_t directory[path_capacity];
    wide_copy(directory, path, path_capacity);
    return ensure_parents_in_place(directory);
}

bool ensure_directory(const wchar_t* path) {
    if (directory_cache_count == 0) seed_directory_cache();
    if (directory_is_cached(path)) return true;
    // A drive such as X: always exists for our purposes and is never listed.
    if (is_drive_designator(path)) return true;
    bool exists = sys.CreateDirectoryW(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    if (exists) remember_directory(path);
    return exists;
}

std::size_t directory_cache_size() {
    return directory_cache_count;
}

const wchar_t* directory_cache_entry(std::size_t index) {
    return index < directory_cache_count ? directory_cache[index] : nullptr;
}

void reset_directory_cache() {
    for (std::size_t i = 0; i < directory_cache_count; ++i) {
        free(directory_cache[i]);
        directory_cache[i] = nullptr;
    }
    directory_cache_count = 0;
}
