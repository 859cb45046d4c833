// Starting the child (this same executable) with the rebuilt command line,
// waiting for it and passing on its exit code.
//
// Quoting, per argument (the rules CommandLineToArgvW and the C runtime split
// by): an argument that is empty or holds a space, tab, line feed, vertical
// tab or quotation mark is written in quotation marks; inside them a run of
// backslashes is doubled when a quotation mark or the closing mark follows it,
// and each quotation mark gets one more backslash. Others go out unchanged.
//   abc          -> abc
//   a b          -> "a b"
//   C:\dir\      -> C:\dir\           (no quotes, so no doubling)
//   C:\my dir\   -> "C:\my dir\\"
//   a\"b         -> "a\\\"b"
//   (empty)      -> ""               (so the child still sees it)
#pragma once

#include <cstddef>

#include "launcher/run_state.h"

// The longest line the child may be given, terminator included: the most that
// CreateProcessW accepts, one unit short of the buffer.
constexpr std::size_t child_command_line_limit = 32767;

// Rebuilds the command line into state.child_command_line from the argument
// vector this process was started with (the runtime's split, the one the
// application would get as well), argument 0 replaced by the launcher's module
// path. A line that does not fit (32,766 code units of text) stops with
// "Error, command line is too long." and exit code 2.
wchar_t* build_child_command_line(RunState& state, int argument_count, wchar_t** argument_vector);
// Appends one argument, quoted as above, to the zero-terminated text in out
// (capacity code units, terminator included). False when it does not fit; out
// then holds a cut-off argument, so callers stop at once.
bool append_quoted_argument(wchar_t* out, std::size_t capacity, const wchar_t* argument);
// Starts the child with this process's standard handles and environment,
// waits for it without a time limit, runs cleanup_on_exit and returns the
// child's 32-bit exit code (1 when it cannot be read). A child that cannot be
// started ends the process with "Error, couldn't launch child" and exit code 2.
unsigned long launch_child(RunState& state, int argument_count, wchar_t** argument_vector);
