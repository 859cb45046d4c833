// Extraction: entry paths, directory creation with the DirectoryCache, and
// streaming an entry's bytes from the reader into its file.
#pragma once

#include <cstddef>

// current_file_path := extraction_directory + "\" + entry_name. Refuses unsafe
// names ("." or ".." components, a drive, a leading '\', ':', device names)
// with a clear message and exit code 2; a joined path too long for its buffer
// stops the same way.
void join_entry_path();
// Reads the entry's size and bytes from the reader into current_file_path.
void extract_entry();
bool ensure_parent_directories(const wchar_t* path);
bool ensure_directory(const wchar_t* path);

// True when name is safe to join under the extraction directory.
bool entry_name_is_safe(const wchar_t* name);

// Inspection for tests.
std::size_t directory_cache_size();
const wchar_t* directory_cache_entry(std::size_t index);
void reset_directory_cache();  // tests only
