// bench_app.dll: the application library of the benchmark's launchers.
//
// run_code returns at once, so a launcher run costs what the launcher itself
// does: 0, or the number in ONEFILE_BENCH_EXIT_CODE. Only when ONEFILE_BENCH_REPORT names a file does it first
// measure, and write to that file one line of key=value pairs:
//
//   child_start_seconds      from this process's creation time to run_code's
//                            entry. The creation time is stamped while the
//                            parent's CreateProcessW makes the process, so
//                            this is the child's whole start: image load,
//                            runtime start-up, role decision, path expansion,
//                            opening the reader, reading the first name,
//                            loading this library.
//   parent_peak_working_set  the parent's peak working set, read while the
//                            parent waits for us: its extraction is over, so
//                            the peak of the decode and the writes is in it.
//   child_peak_working_set   our own, at this point.
#include <windows.h>

#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

std::uint64_t as_count(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

double seconds_since_creation() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1.0;
    return static_cast<double>(as_count(now) - as_count(created)) / 1e7;
}

unsigned long long peak_working_set(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (process == nullptr || !GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

unsigned long long parent_peak_working_set() {
    wchar_t text[32];
    const DWORD length = GetEnvironmentVariableW(L"ZORVEK_ONEFILE_PARENT", text, 32);
    if (length == 0 || length >= 32) return 0;
    const DWORD id = static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
    HANDLE parent = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    const unsigned long long peak = peak_working_set(parent);
    if (parent != nullptr) CloseHandle(parent);
    return peak;
}

void write_report(const wchar_t* path, double child_start) {
    FILE* out = _wfopen(path, L"w");
    if (out == nullptr) return;
    std::fprintf(out, "child_start_seconds=%.6f parent_peak_working_set=%llu child_peak_working_set=%llu\n",
                 child_start, parent_peak_working_set(), peak_working_set(GetCurrentProcess()));
    std::fclose(out);
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int, wchar_t**, const wchar_t*) {
    const double child_start = seconds_since_creation();
    wchar_t report[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"ONEFILE_BENCH_REPORT", report, MAX_PATH);
    if (length != 0 && length < MAX_PATH) write_report(report, child_start);
    wchar_t code[16];
    const DWORD code_length = GetEnvironmentVariableW(L"ONEFILE_BENCH_EXIT_CODE", code, 16);
    return code_length != 0 && code_length < 16 ? static_cast<int>(std::wcstoul(code, nullptr, 10)) : 0;
}
