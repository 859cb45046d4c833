// Starting the child (this same executable) with the rebuilt command line,
// waiting for it and passing on its exit code.
#pragma once

#include <cstddef>

constexpr std::size_t child_command_line_capacity = 32768;
extern wchar_t child_image_path[4096];
extern wchar_t child_command_line[child_command_line_capacity];

// Rebuilds the command line from CommandLineToArgvW(GetCommandLineW()) with
// argument 0 replaced by child_image_path.
wchar_t* build_child_command_line();
// Appends one argument, quoted by the Windows splitting rules, to out
// (capacity code units). False when it does not fit (out unchanged up to its
// previous terminator is not promised; callers stop at once).
bool append_quoted_argument(wchar_t* out, std::size_t capacity, const wchar_t* argument);
// Starts the child, waits, runs cleanup_on_exit, returns the child's exit code.
unsigned long launch_child();
