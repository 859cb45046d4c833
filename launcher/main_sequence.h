// The launcher's main sequence: role decision, extraction directory, payload,
// then either the parent's extraction and child launch or the child's call
// into the application library.
#pragma once

// Returns the process exit code.
int run_main_sequence(int argument_count, wchar_t** argument_vector);

// The role decision alone (true: this process is the child of a live launcher
// running the same executable), for tests.
bool is_child_of_same_launcher();

// The steps the cached mode shares with the two roles.
// ZORVEK_ONEFILE_PARENT := this process; the time and random variables cleared.
void prepare_parent_environment();
// Reads one archive entry name into entry_name; false at the end marker.
bool read_entry_name();
[[noreturn]] void report_missing_application_library();
// Loads application_library_path with extraction_directory as its DLL folder
// and returns what its run_code returns.
int run_application_library(int argument_count, wchar_t** argument_vector);
// ZORVEK_ONEFILE_DIRECTORY := the launcher's folder (launcher_module_path
// filled on the way).
void publish_launcher_directory();

// Parent role: creates the extraction directory (and a missing temporary folder
// above it); an extraction directory that already exists ends the launcher with
// a message and exit code 2.
void create_extraction_directory();
