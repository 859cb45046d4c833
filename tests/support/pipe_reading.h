// Everything a started program writes into a pipe, for the tests and the
// benchmark that start programs and read their output.
#pragma once

#include <windows.h>

#include <string>

namespace test_support {

// Reads until every writer has closed its end (or the read fails).
inline std::string read_until_closed(HANDLE pipe) {
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    return bytes;
}

}  // namespace test_support
