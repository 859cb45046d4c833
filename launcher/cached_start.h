// The cached mode's start: no child process. The launcher finds (or makes)
// the build's complete folder and runs the application in its own process,
// which is what lets a warm start cost about what starting the application
// from a plain folder costs.
//
// What the application sees is what a child sees in temp mode: argument 0
// is the launcher's module path and the rest of the vector is the one the
// runtime split; run_code's library path is the folder's first entry;
// ZORVEK_ONEFILE_DIRECTORY and ZORVEK_ORIGINAL_ARGV0 are set, and
// ZORVEK_ONEFILE_PARENT names this process; the exit code is run_code's.
// Nothing is removed when the application ends: the folder's lock goes with
// the process. A console event that no handler of the application takes ends
// the process with 0xC000013A, as Windows' default handling does, never 0.
#pragma once

#include "launcher/run_state.h"

int run_cached_start(RunState& state, int argument_count, wchar_t** argument_vector);
