// Starting the child (this same executable) with the rebuilt command line,
// waiting for it and passing on its exit code. Each argument of the child's
// line is quoted by format/command_line_quoting.h.
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
// Starts the child with this process's standard handles and environment,
// waits for it without a time limit, runs cleanup_on_exit and returns the
// child's 32-bit exit code (1 when it cannot be read). A child that cannot be
// started ends the process with "Error, couldn't launch child" and exit code 2.
unsigned long launch_child(RunState& state, int argument_count, wchar_t** argument_vector);
