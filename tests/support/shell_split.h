// A command line as CommandLineToArgvW splits it: the yardstick of the
// quoting round trips, beside our runtime's own splitter.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace test_support {

inline std::vector<std::wstring> split_as_shell_does(const std::wstring& line) {
    int count = 0;
    LPWSTR* parts = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> arguments;
    if (parts == nullptr) return arguments;
    arguments.assign(parts, parts + count);
    LocalFree(parts);
    return arguments;
}

}  // namespace test_support
