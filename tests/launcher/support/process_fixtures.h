// Real child processes for the launch and cleanup tests: the test executable
// itself, started in a child mode chosen by an environment variable, so that
// a test controls what the child does and how it ends.
//
// Modes (value of ONEFILE_TEST_CHILD_MODE):
//   exit <code>            ends at once with that exit code
//   sleep <ms> <code>      sleeps, then ends with that exit code
//   arguments <file>       writes its own split command line to file (UTF-16,
//                          every argument followed by one zero unit), exit 0
//   stdout <text>          writes text to its standard output handle, exit 0
// Numbers are decimal or 0x-prefixed hexadecimal.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/scratch_tree.h"

namespace process_fixtures {

// Sets the mode for children started while it lives; removes it afterwards,
// so later death-test children run the tests normally.
class ChildModeScope {
  public:
    explicit ChildModeScope(const std::wstring& mode);
    ~ChildModeScope();
    ChildModeScope(const ChildModeScope&) = delete;
    ChildModeScope& operator=(const ChildModeScope&) = delete;
};

std::wstring test_executable_path();

// Starts the test executable in the given mode; returns its process handle
// (the thread handle is closed). Fails the test and returns null on error.
HANDLE start_test_child(const std::wstring& mode);

// Exit code of an ended process after waiting for it (no time limit).
DWORD wait_for_exit_code(HANDLE process);

// A fresh, empty directory under the temporary folder, with a unique name.
std::wstring make_scratch_directory(const std::wstring& prefix);
// Creates a file with a little content (parent directories must exist).
void write_scratch_file(const std::wstring& path, const std::string& content);
bool path_exists(const std::wstring& path);
// Removes a scratch tree that a test left behind (no shell, no error).
using test_support::remove_scratch_tree;

// Reads a file written by the "arguments" mode.
std::vector<std::wstring> read_argument_file(const std::wstring& path);

// The two ways the launcher stops: a reported failure or user-reachable limit
// ends with code 2; an internal limit aborts (never 0, never 2).
inline bool aborted(int exit_code) {
    return exit_code != 0 && exit_code != 2;
}

// Death tests see only standard error; limit messages go to standard output.
// Call inside the death statement, before the code under test.
void route_stdout_to_stderr();

}  // namespace process_fixtures
