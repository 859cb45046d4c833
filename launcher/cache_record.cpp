#include "launcher/cache_record.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "format/cache_layout.h"
#include "format/entry_name_rule.h"
#include "launcher/fatal_report.h"
#include "launcher/run_state.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constexpr unsigned char record_magic[4] = {'Z', 'O', 'F', 'R'};
constexpr std::size_t record_header_size = sizeof record_magic + cache_layout::key_length;
// Far beyond any real record (a name of 1023 units and a size per file).
constexpr std::uint64_t max_record_size = 64ull << 20;

void append_bytes(CacheRecord& record, const void* bytes, std::size_t size) {
    if (record.used + size > record.capacity) {
        std::size_t capacity = record.capacity == 0 ? 4096 : record.capacity;
        while (capacity < record.used + size) capacity *= 2;
        auto* grown = static_cast<unsigned char*>(realloc(record.bytes, capacity));
        if (grown == nullptr) report_message("Error, couldn't allocate memory.");
        record.bytes = grown;
        record.capacity = capacity;
    }
    memcpy(record.bytes + record.used, bytes, size);
    record.used += size;
}

void append_name(CacheRecord& record, const wchar_t* name) {
    append_bytes(record, name, (wide_length(name) + 1) * sizeof(wchar_t));
}

bool record_path(wchar_t* path, const wchar_t* folder) {
    if (wide_length(folder) + 1 + wide_length(cache_layout::record_file_name) >= path_capacity) return false;
    wide_copy(path, folder, path_capacity);
    wide_append(path, L"\\", path_capacity);
    wide_append(path, cache_layout::record_file_name, path_capacity);
    return true;
}

// The whole record file in a heap block; null when it is missing, unreadable
// or too large to be one of ours.
unsigned char* read_record_file(const wchar_t* folder, std::size_t* size) {
    wchar_t path[path_capacity];
    if (!record_path(path, folder)) return nullptr;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr,  // lpSecurityAttributes: default
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);  // hTemplateFile
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER length{};
    unsigned char* bytes = nullptr;
    DWORD got = 0;
    if (GetFileSizeEx(file, &length) && static_cast<std::uint64_t>(length.QuadPart) <= max_record_size) {
        bytes = static_cast<unsigned char*>(malloc(length.QuadPart == 0 ? 1 : length.QuadPart));
        if (bytes != nullptr &&
            (!ReadFile(file, bytes, static_cast<DWORD>(length.QuadPart), &got, nullptr) || got != length.QuadPart)) {
            free(bytes);
            bytes = nullptr;
        }
    }
    CloseHandle(file);
    *size = got;
    return bytes;
}

// False for anything but a plain file that can be looked at.
bool regular_file_size(const wchar_t* path, std::uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    *size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool file_has_size(const wchar_t* folder, const wchar_t* name, std::uint64_t size) {
    wchar_t path[path_capacity];
    if (wide_length(folder) + 1 + wide_length(name) >= path_capacity) return false;
    wide_copy(path, folder, path_capacity);
    wide_append(path, L"\\", path_capacity);
    wide_append(path, name, path_capacity);
    std::uint64_t actual = 0;
    return regular_file_size(path, &actual) && actual == size;
}

bool key_matches(const unsigned char* bytes, const wchar_t* key) {
    if (memcmp(bytes, record_magic, sizeof record_magic) != 0) return false;
    for (std::size_t i = 0; i < cache_layout::key_length; ++i) {
        if (key[i] != bytes[sizeof record_magic + i]) return false;
    }
    return key[cache_layout::key_length] == L'\0';
}

// Walks the entries after the header; every name must be one the launcher
// would have unpacked, and every file must be there with its size.
bool entries_present(const unsigned char* bytes, std::size_t size, const wchar_t* folder, wchar_t* first_entry) {
    wchar_t name[entry_name_capacity];
    std::size_t at = record_header_size;
    for (std::size_t index = 0;; ++index) {
        std::size_t length = 0;
        for (;; ++length) {
            if (length == entry_name_capacity || at + sizeof(wchar_t) > size) return false;
            memcpy(&name[length], bytes + at, sizeof(wchar_t));
            at += sizeof(wchar_t);
            if (name[length] == L'\0') break;
        }
        if (length == 0) return index > 0 && at == size;
        std::uint64_t file_size = 0;
        if (at + sizeof file_size > size) return false;
        memcpy(&file_size, bytes + at, sizeof file_size);
        at += sizeof file_size;
        if (payload_layout::entry_name_problem(name, length) != payload_layout::NameProblem::none ||
            !file_has_size(folder, name, file_size)) {
            return false;
        }
        if (index == 0) wide_copy(first_entry, name, entry_name_capacity);
    }
}

}  // namespace

void start_record(CacheRecord& record, const wchar_t* key) {
    record = CacheRecord{};
    append_bytes(record, record_magic, sizeof record_magic);
    for (std::size_t i = 0; i < cache_layout::key_length; ++i) {
        unsigned char digit = static_cast<unsigned char>(key[i]);
        append_bytes(record, &digit, 1);
    }
}

void record_unpacked_file(CacheRecord& record, const wchar_t* name, const wchar_t* path) {
    std::uint64_t size = 0;
    if (!regular_file_size(path, &size))
        report_system_error("Error, couldn't unpack file to target path.", GetLastError());
    append_name(record, name);
    append_bytes(record, &size, sizeof size);
}

void write_record(CacheRecord& record, const wchar_t* folder) {
    append_name(record, L"");
    wchar_t path[path_capacity];
    if (!record_path(path, folder)) stop_at_limit("file path");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0,
                              nullptr,  // lpSecurityAttributes: default
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);  // hTemplateFile
    if (file == INVALID_HANDLE_VALUE) report_system_error("Error, couldn't write the cache record.", GetLastError());
    DWORD written = 0;
    if (!sys.WriteFile(file, record.bytes, static_cast<DWORD>(record.used), &written, nullptr) ||
        written != record.used) {
        report_system_error("Error, couldn't write the cache record.", GetLastError());
    }
    CloseHandle(file);
}

void release_record(CacheRecord& record) {
    free(record.bytes);
    record = CacheRecord{};
}

bool folder_matches_record(const wchar_t* folder, const wchar_t* key, wchar_t* first_entry) {
    std::size_t size = 0;
    unsigned char* bytes = read_record_file(folder, &size);
    if (bytes == nullptr) return false;
    bool matches =
        size >= record_header_size && key_matches(bytes, key) && entries_present(bytes, size, folder, first_entry);
    free(bytes);
    return matches;
}
