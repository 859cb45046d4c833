#include "support/process_fixtures.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <io.h>

#include "format/command_line_quoting.h"

namespace {

constexpr wchar_t mode_variable[] = L"ONEFILE_TEST_CHILD_MODE";

DWORD parse_number(const wchar_t*& text) {
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text, &end, 0);
    text = end;
    return static_cast<DWORD>(value);
}

const wchar_t* skip_blanks(const wchar_t* text) {
    while (*text == L' ') ++text;
    return text;
}

bool starts_with(const wchar_t* text, const wchar_t* prefix, const wchar_t*& rest) {
    const std::size_t length = wcslen(prefix);
    if (wcsncmp(text, prefix, length) != 0) return false;
    rest = skip_blanks(text + length);
    return true;
}

void write_own_arguments(const wchar_t* file) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring content;
    for (int i = 0; arguments != nullptr && i < count; ++i) {
        content += arguments[i];
        content.push_back(L'\0');
    }
    HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) ExitProcess(90);
    DWORD written = 0;
    WriteFile(out, content.data(), static_cast<DWORD>(content.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(out);
}

void write_to_standard_output(const wchar_t* text) {
    std::string narrow;
    for (; *text != 0; ++text) narrow.push_back(static_cast<char>(*text));
    DWORD written = 0;
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), narrow.data(), static_cast<DWORD>(narrow.size()), &written,
                   nullptr)) {
        ExitProcess(91);
    }
}

// Runs before GoogleTest's main: a child never reaches the tests.
void run_child_mode_if_asked() {
    wchar_t mode[1024];
    const DWORD length = GetEnvironmentVariableW(mode_variable, mode, 1024);
    if (length == 0 || length >= 1024) return;
    const wchar_t* rest = nullptr;
    if (starts_with(mode, L"exit", rest)) ExitProcess(parse_number(rest));
    if (starts_with(mode, L"sleep", rest)) {
        const DWORD milliseconds = parse_number(rest);
        rest = skip_blanks(rest);
        const DWORD code = parse_number(rest);
        Sleep(milliseconds);
        ExitProcess(code);
    }
    if (starts_with(mode, L"arguments", rest)) {
        write_own_arguments(rest);
        ExitProcess(0);
    }
    if (starts_with(mode, L"stdout", rest)) {
        write_to_standard_output(rest);
        ExitProcess(0);
    }
    ExitProcess(92);  // an unknown mode: never run the tests in a child
}

const bool child_mode_checked = (run_child_mode_if_asked(), true);

}  // namespace

namespace process_fixtures {

ChildModeScope::ChildModeScope(const std::wstring& mode) {
    SetEnvironmentVariableW(mode_variable, mode.c_str());
}

ChildModeScope::~ChildModeScope() {
    SetEnvironmentVariableW(mode_variable, nullptr);
}

std::wstring test_executable_path() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

HANDLE start_test_child(const std::wstring& mode) {
    ChildModeScope scope(mode);
    std::wstring image = test_executable_path();
    std::wstring command_line;
    command_line_quoting::append_to_string(command_line, image.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(image.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &child)) {
        ADD_FAILURE() << "could not start a test child, error " << GetLastError();
        return nullptr;
    }
    CloseHandle(child.hThread);
    return child.hProcess;
}

DWORD wait_for_exit_code(HANDLE process) {
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) ADD_FAILURE() << "GetExitCodeProcess failed";
    return code;
}

std::wstring make_scratch_directory(const std::wstring& prefix) {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    static unsigned serial = 0;
    for (;;) {
        std::wstring path = std::wstring(temp) + prefix + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                            std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++serial);
        if (CreateDirectoryW(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "could not create a scratch directory, error " << GetLastError();
            return path;
        }
    }
}

void write_scratch_file(const std::wstring& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

bool path_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> read_argument_file(const std::wstring& path) {
    std::vector<std::wstring> arguments;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "the child wrote no argument file";
        return arguments;
    }
    std::wstring content(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file, content.data(), static_cast<DWORD>(content.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    std::size_t start = 0;
    for (std::size_t end = content.find(L'\0'); end != std::wstring::npos; end = content.find(L'\0', start)) {
        arguments.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

void route_stdout_to_stderr() {
    fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
}

}  // namespace process_fixtures
