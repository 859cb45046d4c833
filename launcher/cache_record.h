// The record of a complete cached folder: the file .onefile-record inside it,
// written after every other file, listing what the folder holds.
//
//   magic     4 bytes    "ZOFR"
//   key       32 bytes   the content key, ASCII
//   entries   per file: its name in UTF-16LE, a zero code unit, its size as
//             u64 LE (the payload archive's layout without the data)
//   end       one zero code unit
//
// A folder without a record, or whose record names another key, is not a
// complete folder of this build. A warm start checks that every listed file
// is there with its size; it does not read the files' content (see
// docs/performance.md for what that would cost).
#pragma once

#include <cstddef>
#include <cstdint>

struct CacheRecord {
    unsigned char* bytes;
    std::size_t used;
    std::size_t capacity;
};

// A record with the magic and key and no entries yet.
void start_record(CacheRecord& record, const wchar_t* key);
// Lists the file just unpacked to path under name, with the size it has on disk.
void record_unpacked_file(CacheRecord& record, const wchar_t* name, const wchar_t* path);
// Ends the list and writes the record into folder. A record that cannot be
// written ends the process with one line and exit code 2.
void write_record(CacheRecord& record, const wchar_t* folder);
void release_record(CacheRecord& record);

// True when folder holds a record of key whose every file is present with its
// size; first_entry (entry_name_capacity units) then holds the first file's
// name, the application library.
bool folder_matches_record(const wchar_t* folder, const wchar_t* key, wchar_t* first_entry);
