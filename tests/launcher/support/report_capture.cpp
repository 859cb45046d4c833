#include "support/report_capture.h"

#include <gtest/gtest.h>

#include <vector>

namespace report_capture {

namespace {

// A temporary file the child writes through an inherited handle; files, unlike
// pipes, cannot fill up and stall a child that nobody reads yet.
HANDLE inheritable_temporary_file() {
    wchar_t folder[MAX_PATH + 1];
    wchar_t path[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"rc", 0, path) == 0) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::string read_whole(HANDLE file) {
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    // The test runtime writes text-mode CR LF; compare with plain line feeds.
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain.push_back(text[i]);
    }
    return plain;
}

std::wstring own_path() {
    std::vector<wchar_t> path(32768);
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), length);
}

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string after_run_line(const std::string& output, const std::string& test_name) {
    std::string marker = "[ RUN      ] " + test_name + "\n";
    std::size_t at = output.find(marker);
    if (at == std::string::npos) return output;
    return output.substr(at + marker.size());
}

}  // namespace

Outcome run_scenario(const std::string& test_name) {
    Outcome outcome;
    HANDLE output = inheritable_temporary_file();
    HANDLE errors = inheritable_temporary_file();
    if (output == INVALID_HANDLE_VALUE || errors == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no temporary file for the scenario's output";
        outcome.exit_code = ~0u;
        return outcome;
    }
    std::wstring command = L"\"" + own_path() + L"\" --gtest_filter=" + widen(test_name) +
                           L" --gtest_also_run_disabled_tests --gtest_color=no";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
        ADD_FAILURE() << "could not start the scenario, error " << GetLastError();
        outcome.exit_code = ~0u;
    } else {
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &outcome.exit_code);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        outcome.output = after_run_line(read_whole(output), test_name);
        outcome.errors = read_whole(errors);
    }
    CloseHandle(output);
    CloseHandle(errors);
    return outcome;
}

void expect_stop_with_output(const std::string& test_name, const std::string& output) {
    SCOPED_TRACE(test_name);
    const Outcome outcome = run_scenario(test_name);
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_EQ(outcome.output, output);
    EXPECT_EQ(outcome.errors, "");
}

}  // namespace report_capture
