// Path normalisation: absolute extraction directory, final paths, short names.
//
// The paths handled here come from the user's world (TMP, the folder the
// launcher was started from), so a result too long for its buffer stops the
// process with "Error, <what> is too long." and exit code 2 rather than
// aborting; broken internal states still abort.
#pragma once

#include <windows.h>

#include <cstddef>

// Makes directory (capacity code units) absolute in place (GetFullPathNameW).
// A full path that does not fit stops with "extraction folder path"; a failed
// call aborts.
void make_directory_absolute(wchar_t* directory, std::size_t capacity);

// Replaces source by the final path of the file it names (links followed) in
// destination, removing the \\?\ prefix where a drive or UNC form exists.
// A source that cannot be opened, or a system without
// GetFinalPathNameByHandleW, gives a plain copy. With resolve false, a plain
// bounded copy. Source and destination may be the same buffer. A final path
// that does not fit stops with "executable path".
void resolve_final_path(wchar_t* destination, const wchar_t* source, DWORD capacity, bool resolve);

// Rewrites every component but the last into its short form, in place. A
// directory part without a short form, or one that vanishes between the two
// GetShortPathNameW calls, stays long. A result that does not fit stops with
// "executable path".
void shorten_directory_part(wchar_t* path, std::size_t capacity);

// GetLastError, for the callers that report system errors.
DWORD last_error();
