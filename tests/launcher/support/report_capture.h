// What a failing step prints, seen from outside: runs one scenario of this test
// executable (a DISABLED_ test, so normal runs skip it) in a child process with
// its standard output and error captured, and returns the exit code and the
// text the scenario wrote.
//
// Death tests check the exit code and standard error; this also shows the
// lines that go to standard output.
#pragma once

#include <windows.h>

#include <string>

namespace report_capture {

struct Outcome {
    DWORD exit_code = 0;
    // Standard output after GoogleTest's "[ RUN      ] <name>" line: what the
    // scenario itself wrote. Line ends are plain line feeds in both texts.
    std::string output;
    std::string errors;
};

// test_name is "Suite.DISABLED_Case".
Outcome run_scenario(const std::string& test_name);

// Runs the scenario and expects the way a reported failure ends: exit code 2,
// exactly output on standard output, nothing on standard error.
void expect_stop_with_output(const std::string& test_name, const std::string& output);

}  // namespace report_capture
