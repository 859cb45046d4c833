// The demo application library: the first entry of the demo's payload.
//
// The launcher's child loads it from the extraction directory and calls
// run_code. It shows what an application sees there: its arguments, the
// ZORVEK_ variables, a data file unpacked beside it, and a second library
// that the loader found in the same directory. `--exit-code N` chooses the
// exit code, which the launcher hands back to whoever started it.

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "demo_greeting.h"

namespace {

// The child shares its parent's standard handles. A console gets UTF-16
// through WriteConsoleW; a pipe or file gets UTF-8 bytes. WriteFile is used
// rather than the C runtime's streams so that nothing waits in a buffer when
// run_code returns and the launcher ends the process.
void write_to(DWORD standard_handle, const std::wstring& text) {
    HANDLE out = GetStdHandle(standard_handle);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int units = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), units, utf8.data(), bytes, nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void write_line(const std::wstring& text) {
    write_to(STD_OUTPUT_HANDLE, text + L"\n");
}

std::wstring environment_value(const wchar_t* name, bool& present) {
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            present = GetLastError() != ERROR_ENVVAR_NOT_FOUND;
            return {};
        }
        if (n < value.size()) {
            present = true;
            value.resize(n);
            return value;
        }
        value.resize(n);
    }
}

std::wstring folder_of(const wchar_t* path) {
    const std::wstring text(path);
    const size_t slash = text.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : text.substr(0, slash);
}

// Whole file as UTF-8 text, without its line end.
bool read_text_file(const std::wstring& path, std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
    const int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    text.assign(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), units);
    return true;
}

// `--exit-code N`: N is a decimal or 0x-prefixed 32-bit value. Returns false
// for a missing or malformed N.
bool parse_exit_code(const wchar_t* text, int& code) {
    if (text == nullptr || *text == L'\0') return false;
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long value = std::wcstoull(text, &end, 0);
    if (errno == ERANGE || *end != L'\0' || value > 0xFFFFFFFFull || *text == L'-') return false;
    code = static_cast<int>(static_cast<unsigned int>(value));
    return true;
}

void show_arguments(int argc, wchar_t** argv) {
    write_line(L"Arguments (" + std::to_wstring(argc) + L"):");
    for (int i = 0; i < argc; ++i) write_line(L"  [" + std::to_wstring(i) + L"] \"" + argv[i] + L"\"");
}

void show_environment() {
    constexpr const wchar_t* names[] = {
        L"ZORVEK_ONEFILE_PARENT",    L"ZORVEK_ONEFILE_TIME_US", L"ZORVEK_ONEFILE_RANDOM",
        L"ZORVEK_ONEFILE_DIRECTORY", L"ZORVEK_ORIGINAL_ARGV0",
    };
    write_line(L"Environment:");
    for (const wchar_t* name : names) {
        bool present = false;
        const std::wstring value = environment_value(name, present);
        write_line(std::wstring(L"  ") + name + (present ? L"=" + value : L" is not set"));
    }
}

void show_data_file(const wchar_t* library_path) {
    const std::wstring path = folder_of(library_path) + L"\\data\\message.txt";
    std::wstring text;
    if (read_text_file(path, text))
        write_line(L"Found data\\message.txt beside me: " + text);
    else
        write_line(L"Could not read " + path + L" (error " + std::to_wstring(GetLastError()) + L")");
}

void show_greeting() {
    wchar_t greeting[128];
    if (demo_compose_greeting(L"world", greeting, 128) < 0)
        write_line(L"demo_greeting.dll gave no greeting");
    else
        write_line(std::wstring(L"demo_greeting.dll says: ") + greeting);
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* library_path) {
    int exit_code = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--exit-code") != 0) continue;
        if (!parse_exit_code(i + 1 < argc ? argv[i + 1] : nullptr, exit_code)) {
            write_to(STD_ERROR_HANDLE, L"demo: --exit-code needs a number from 0 to 4294967295\n");
            return 2;
        }
    }

    write_line(L"This is demo_app.dll, running in process " + std::to_wstring(GetCurrentProcessId()) + L".");
    write_line(std::wstring(L"Loaded from: ") + library_path);
    show_arguments(argc, argv);
    show_environment();
    show_data_file(library_path);
    show_greeting();
    write_line(L"Returning exit code " + std::to_wstring(static_cast<unsigned int>(exit_code)) + L".");
    return exit_code;
}
