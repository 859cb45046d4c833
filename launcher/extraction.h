// Extraction: entry paths, directory creation with the DirectoryCache, and
// streaming an entry's bytes from the reader into its file.
#pragma once

#include <cstddef>

#include "launcher/run_state.h"

// current_file_path := extraction_directory + "\" + entry_name. An unsafe
// name (format/entry_name_rule.h) is refused with "Error, attached data holds an
// unsafe entry name '...'." and exit code 2; a joined path too long for its
// 4096 code units stops with "Error, file path is too long." and exit code 2.
// Both happen before anything is created or written for the entry.
void join_entry_path(RunState& state);
// Reads the entry's size and bytes from the reader into current_file_path,
// 32768 bytes at a time, after making the folders above it. A file that cannot
// be created or written ends the process (exit code 2); what was written stays.
void extract_entry(RunState& state);
// Closes the file extract_entry is writing, if any: a failure that ends the
// process half-way through an entry closes it before the folder is removed,
// since an open file cannot be deleted.
void close_file_being_written(RunState& state);
// Makes sure every folder above path exists: the deepest is tried first and
// the walk climbs only while creation fails. Splits at '\' only.
bool ensure_parent_directories(DirectoryCache& cache, const wchar_t* path);
// Makes sure one folder exists, remembering it in the DirectoryCache (at most
// 1024 paths, the profile folder first; compared case-sensitively). A drive
// designator such as "X:" always exists. A folder already on disk counts.
bool ensure_directory(DirectoryCache& cache, const wchar_t* path);
