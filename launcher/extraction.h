// Extraction: entry paths, directory creation with the DirectoryCache, and
// streaming an entry's bytes from the reader into its file.
#pragma once

#include <cstddef>

// current_file_path := extraction_directory + "\" + entry_name. An unsafe
// name (see entry_name_is_safe) is refused with "Error, attached data holds an
// unsafe entry name '...'." and exit code 2; a joined path too long for its
// 4096 code units stops with "Error, file path is too long." and exit code 2.
// Both happen before anything is created or written for the entry.
void join_entry_path();
// Reads the entry's size and bytes from the reader into current_file_path,
// 32768 bytes at a time, after making the folders above it. A file that cannot
// be created or written ends the process (exit code 2); what was written stays.
void extract_entry();
// Closes the file extract_entry is writing, if any: a failure that ends the
// process half-way through an entry closes it before the folder is removed,
// since an open file cannot be deleted. Main thread only.
void close_file_being_written();
// Makes sure every folder above path exists: the deepest is tried first and
// the walk climbs only while creation fails. Splits at '\' only.
bool ensure_parent_directories(const wchar_t* path);
// Makes sure one folder exists, remembering it in the DirectoryCache (at most
// 1024 paths, the profile folder first; compared case-sensitively). A drive
// designator such as "X:" always exists. A folder already on disk counts.
bool ensure_directory(const wchar_t* path);

// True when name is safe to join under the extraction directory: not empty,
// no ':' and no control character, and every component (split at '\' and at
// '/', which Windows also splits at) non-empty, not ending in '.' or ' ' (so
// no "." or ".."), and no device name such as CON, NUL, AUX, PRN, COM1-9 or
// LPT1-9, with or without an extension, in any letter case.
bool entry_name_is_safe(const wchar_t* name);

// Inspection for tests.
std::size_t directory_cache_size();
const wchar_t* directory_cache_entry(std::size_t index);
void reset_directory_cache();  // tests only
