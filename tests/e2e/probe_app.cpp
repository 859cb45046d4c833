// probe_app.dll: the application library of the end-to-end test launchers.
//
// It reports what the launcher handed it (arguments, library path, the
// ZORVEK_ variables, the extraction folder's contents) and then behaves as
// the test asks through its environment, which the launcher passes on:
//   PROBE_REPORT         file to write the report to (probe_report.h)
//   PROBE_HOLD_OPEN      a name in the extraction folder to keep open without
//                        delete sharing after the probe has ended: the handle
//                        is duplicated into process PROBE_HOLDER_PID
//   PROBE_READY_EVENT    named event set once the report is written
//   PROBE_WAIT_EVENT     named event waited for (at most a minute) before returning
//   PROBE_SLEEP_MS       milliseconds to sleep before returning
//   PROBE_IGNORE_CTRL_C  swallow console control events
//   PROBE_EXIT_CODE      the value run_code returns (decimal or 0x hex, 32 bits)
//   PROBE_PRINT          text written (as UTF-8, with a newline) to standard
//                        output, and with " on stderr" to standard error
//   PROBE_START          a program to start once the report is written, with
//                        this environment less PROBE_START and with
//                        PROBE_REPORT set to PROBE_START_REPORT; "self" is the
//                        executable this process runs. run_code then waits
//                        for it (at most a minute) and returns its exit code
//                        instead of PROBE_EXIT_CODE.

#include <windows.h>
#include <psapi.h>

#include <cstdlib>
#include <string>

#include "probe_report.h"

namespace {

bool read_variable(const wchar_t* name, std::wstring& value) {
    value.assign(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            value.clear();
            return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        }
        if (n < value.size()) {
            value.resize(n);
            return true;
        }
        value.resize(n);
    }
}

std::wstring variable_or_empty(const wchar_t* name) {
    std::wstring value;
    read_variable(name, value);
    return value;
}

unsigned long long number_variable(const wchar_t* name, unsigned long long fallback) {
    const std::wstring text = variable_or_empty(name);
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text.c_str(), &end, 0);
    return *end == L'\0' ? value : fallback;
}

std::wstring folder_of(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Opens the file without FILE_SHARE_DELETE and hands a duplicate to the
// holder process, so the file stays open after this process has ended.
std::uint64_t hold_open(const std::wstring& path) {
    const DWORD holder_pid = static_cast<DWORD>(number_variable(L"PROBE_HOLDER_PID", 0));
    HANDLE holder = OpenProcess(PROCESS_DUP_HANDLE, FALSE, holder_pid);
    if (holder == nullptr) return 0;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE duplicate = nullptr;
    if (file != INVALID_HANDLE_VALUE) {
        DuplicateHandle(GetCurrentProcess(), file, holder, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS);
        CloseHandle(file);
    }
    CloseHandle(holder);
    return reinterpret_cast<std::uintptr_t>(duplicate);
}

void write_report(const std::wstring& path, const ProbeReport& report) {
    const std::string text = format_report(report);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void set_named_event(const std::wstring& name) {
    if (name.empty()) return;
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr) return;
    SetEvent(event);
    CloseHandle(event);
}

void wait_named_event(const std::wstring& name) {
    if (name.empty()) return;
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    if (event == nullptr) return;
    WaitForSingleObject(event, 60000);
    CloseHandle(event);
}

BOOL WINAPI swallow_control_event(DWORD) {
    return TRUE;
}

std::wstring own_executable() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// What the started program ended with; 0xDEAD when it could not be started
// or did not end in time.
DWORD start_and_wait(std::wstring program) {
    if (program == L"self") program = own_executable();
    SetEnvironmentVariableW(L"PROBE_START", nullptr);
    SetEnvironmentVariableW(L"PROBE_REPORT", variable_or_empty(L"PROBE_START_REPORT").c_str());
    std::wstring command_line = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE /* bInheritHandles */, 0,
                        nullptr /* this environment */, nullptr, &startup, &started))
        return 0xDEAD;
    CloseHandle(started.hThread);
    DWORD exit_code = 0xDEAD;
    if (WaitForSingleObject(started.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(started.hProcess, &exit_code);
    CloseHandle(started.hProcess);
    return exit_code;
}

// The process's committed private memory as the system counts it; where it
// reports none (Wine leaves PrivateUsage at 0), the sum of the committed
// private regions of the address space, which is the same quantity.
std::uint64_t committed_private_bytes() {
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof memory) &&
        memory.PrivateUsage != 0) {
        return memory.PrivateUsage;
    }
    std::uint64_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    }
    return total;
}

void print_to(DWORD which, const std::wstring& text) {
    std::string bytes;
    for (wchar_t unit : text) bytes += static_cast<char>(unit < 0x80 ? unit : '?');
    DWORD written = 0;
    WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* library_path) {
    if (!variable_or_empty(L"PROBE_IGNORE_CTRL_C").empty()) SetConsoleCtrlHandler(swallow_control_event, TRUE);

    ProbeReport report;
    report.pid = GetCurrentProcessId();
    report.library_path = library_path;
    for (int i = 0; i < argc; ++i) report.arguments.push_back(argv[i]);
    for (const wchar_t* name : probe_variables) {
        std::wstring value;
        if (read_variable(name, value))
            report.environment[name] = value;
        else
            report.environment[name] = std::nullopt;
    }
    const std::wstring extraction_folder = folder_of(library_path);
    report.listing_ok = list_tree(extraction_folder, report.extraction_folder);
    const std::wstring hold = variable_or_empty(L"PROBE_HOLD_OPEN");
    if (!hold.empty()) report.held_handle = hold_open(extraction_folder + L"\\" + hold);
    report.private_bytes = committed_private_bytes();
    report.complete = true;

    const std::wstring report_path = variable_or_empty(L"PROBE_REPORT");
    if (!report_path.empty()) write_report(report_path, report);
    const std::wstring print = variable_or_empty(L"PROBE_PRINT");
    if (!print.empty()) {
        print_to(STD_OUTPUT_HANDLE, print + L"\n");
        print_to(STD_ERROR_HANDLE, print + L" on stderr\n");
    }
    const std::wstring program = variable_or_empty(L"PROBE_START");
    if (!program.empty()) return static_cast<int>(start_and_wait(program));
    set_named_event(variable_or_empty(L"PROBE_READY_EVENT"));
    wait_named_event(variable_or_empty(L"PROBE_WAIT_EVENT"));
    const unsigned long long sleep_ms = number_variable(L"PROBE_SLEEP_MS", 0);
    if (sleep_ms != 0) Sleep(static_cast<DWORD>(sleep_ms));
    return static_cast<int>(static_cast<unsigned int>(number_variable(L"PROBE_EXIT_CODE", 0)));
}
