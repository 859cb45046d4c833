// Path normalisation: absolute extraction directory, final paths, short names.
#pragma once

#include <windows.h>
#include <cstddef>

// The process-wide extraction directory (4096 code units), filled by the main
// sequence from the extraction path spec.
constexpr std::size_t extraction_directory_capacity = 4096;
extern wchar_t extraction_directory[extraction_directory_capacity];

// Makes extraction_directory absolute in place (GetFullPathNameW). A full path
// that does not fit stops the process with a clear message and exit code 2.
void make_extraction_directory_absolute();

// Replaces source by the final path of the file it names (links followed) in
// destination, removing the \\?\ prefix where a drive or UNC form exists.
// With resolve false, a plain bounded copy. Source and destination may be the
// same buffer.
void resolve_final_path(wchar_t* destination, const wchar_t* source, DWORD capacity, bool resolve);

// Rewrites every component but the last into its short form, in place.
void shorten_directory_part(wchar_t* path, std::size_t capacity);

// GetLastError, for the callers that report system errors.
DWORD last_error();
