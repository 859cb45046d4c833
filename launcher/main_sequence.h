// The launcher's main sequence: role decision, extraction directory, payload,
// then either the parent's extraction and child launch or the child's call
// into the application library.
#pragma once

#include "launcher/run_state.h"

// Returns the process exit code.
int run_main_sequence(RunState& state, int argument_count, wchar_t** argument_vector);

// The role decision alone (true: this process is the child of a live launcher
// running the same executable), for tests.
bool is_child_of_same_launcher(RunState& state);

// Parent role: creates the extraction directory (and a missing temporary folder
// above it); an extraction directory that already exists ends the launcher with
// a message and exit code 2.
void create_extraction_directory(RunState& state);
