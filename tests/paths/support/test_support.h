// Helpers shared by the paths tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <io.h>
#include <string>

#include "platform/system_calls.h"

// The two ways the launcher stops. A user-reachable limit ends with code 2;
// an internal one aborts (code 3 from the test runtime's abort, a fail-fast
// code in the image): never 0 and never 2.
inline bool aborted(int exit_code) {
    return exit_code != 0 && exit_code != 2;
}
inline ::testing::ExitedWithCode stopped_with_code_2() {
    return ::testing::ExitedWithCode(2);
}

// Death tests see only standard error; the limit messages go to standard
// output. Call inside the death statement, before the code under test.
inline void route_stdout_to_stderr() {
    fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
}

// Puts the real system calls back after every test, whatever it faked.
class WithSystemCalls : public ::testing::Test {
  protected:
    void TearDown() override { restore_system_calls(); }
};

inline std::wstring repeated(std::size_t count, wchar_t unit = L'x') {
    return std::wstring(count, unit);
}
