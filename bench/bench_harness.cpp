// bench_harness: the Windows side of tools/benchmark.sh. It starts every
// measured program itself, so a start-to-exit time is a Windows process start
// as a user's shell would make it, with no Unix-side Wine start-up in it.
//
//   bench_harness ROUNDS LAUNCHER TINY_LAUNCHER BLOCK TOOLS_DIR
//
// Each round runs, in this order:
//   LAUNCHER                  timed from before CreateProcessW to after the wait
//   empty_program.exe         the same, twice over gives the two-start floor
//   empty_shell_program.exe   the same with SHELL32.dll imported
//   decode_limit BLOCK        its own decode time and peak working set
//   write_limit BLOCK DIR     its own writing time (DIR under %TEMP%)
//   delete_limit DIR          its own deletion time
//   write_limit, shell_delete the same tree again, deleted as the launcher does
//   LAUNCHER, TINY_LAUNCHER   again, with ONEFILE_BENCH_REPORT set: the child's
//                             start time and the parent's peak (bench_app.cpp,
//                             probe() below)
// and prints one line of key=value pairs. Round 0 is a warm-up and is marked
// as such; tools/benchmark.sh leaves it out of the figures.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "format/command_line_quoting.h"
#include "tests/support/pipe_reading.h"

namespace {

struct Run {
    double seconds = 0;
    DWORD exit_code = 0;
    std::string output;       // standard output, when captured
    double creation_lag = 0;  // from just before CreateProcessW to the process's creation time
};

std::uint64_t as_count(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Starts program with arguments and waits for it. With capture, its standard
// output goes into a pipe that is read to the end; otherwise it shares ours.
Run run(const std::wstring& program, const std::vector<std::wstring>& arguments, bool capture) {
    std::wstring line = command_line_quoting::joined_command_line(program, arguments);
    HANDLE read_end = nullptr;
    HANDLE write_end = GetStdHandle(STD_OUTPUT_HANDLE);
    if (capture) {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) bench::fail_with_error("CreatePipe", GetLastError());
        SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};

    Run result;
    FILETIME before;
    GetSystemTimePreciseAsFileTime(&before);
    const double start = bench::seconds_now();
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fwprintf(stderr, L"cannot start %ls\n", program.c_str());
        bench::fail_with_error("CreateProcessW", GetLastError());
    }
    if (capture) {
        CloseHandle(write_end);
        result.output = test_support::read_until_closed(read_end);
        CloseHandle(read_end);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    result.seconds = bench::seconds_now() - start;

    GetExitCodeProcess(process.hProcess, &result.exit_code);
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user)) {
        result.creation_lag =
            static_cast<double>(static_cast<std::int64_t>(as_count(created) - as_count(before))) / 1e7;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (result.exit_code != 0) {
        std::fwprintf(stderr, L"%ls ended with exit code %lu\n", program.c_str(), result.exit_code);
        std::exit(2);
    }
    return result;
}

// The value of key in a "k=v k=v" line, as text; fails when it is missing.
std::string field(const std::string& line, const std::string& key) {
    const std::string wanted = key + "=";
    std::size_t at = 0;
    while ((at = line.find(wanted, at)) != std::string::npos) {
        if (at == 0 || line[at - 1] == ' ') {
            const std::size_t begin = at + wanted.size();
            const std::size_t end = line.find_first_of(" \r\n", begin);
            return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        }
        at += wanted.size();
    }
    std::fprintf(stderr, "no %s in '%s'\n", key.c_str(), line.c_str());
    std::exit(2);
}

std::string read_text_file(const std::wstring& path) {
    FILE* in = _wfopen(path.c_str(), L"rb");
    if (in == nullptr) return {};
    std::string text;
    char buffer[512];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
    std::fclose(in);
    return text;
}

std::string number_text(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// A launcher run with the application's report switched on. The report's
// child_start_seconds counts from the child's creation time, which Wine
// stamps part-way through CreateProcessW, after it has opened and examined
// the image. That first part is measured here, on the launcher's own start:
// the same image started the same way as the parent starts the child. The
// child's start is the sum (creation_lag_seconds + child_start_seconds).
std::string probe(const std::wstring& launcher, const std::wstring& report_path) {
    DeleteFileW(report_path.c_str());
    SetEnvironmentVariableW(L"ONEFILE_BENCH_REPORT", report_path.c_str());
    const Run launched = run(launcher, {}, false);
    SetEnvironmentVariableW(L"ONEFILE_BENCH_REPORT", nullptr);
    std::string report = read_text_file(report_path);
    DeleteFileW(report_path.c_str());
    if (report.empty()) bench::fail("the application wrote no report");
    while (!report.empty() && (report.back() == '\n' || report.back() == '\r')) report.pop_back();
    return report + " creation_lag_seconds=" + number_text(launched.creation_lag);
}

std::wstring temp_folder() {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    if (length == 0 || length > MAX_PATH) bench::fail_with_error("GetTempPathW", GetLastError());
    std::wstring folder(path, length);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

void run_round(int round, const std::wstring& launcher, const std::wstring& tiny_launcher, const std::wstring& block,
               const std::wstring& tools, const std::wstring& temp) {
    const std::wstring id = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(round);
    const std::wstring target = temp + L"\\onefile_bench_write_" + id;
    const std::wstring report = temp + L"\\onefile_bench_report_" + id + L".txt";
    std::string line = "round=" + std::to_string(round);

    line += " launcher_seconds=" + number_text(run(launcher, {}, false).seconds);
    line += " empty_seconds=" + number_text(run(tools + L"\\empty_program.exe", {}, false).seconds);
    line += " empty_shell_seconds=" + number_text(run(tools + L"\\empty_shell_program.exe", {}, false).seconds);

    const Run decode = run(tools + L"\\decode_limit.exe", {block}, true);
    line += " decode_seconds=" + field(decode.output, "decode_seconds");
    line += " decode_peak_working_set=" + field(decode.output, "peak_working_set");
    line += " archive_bytes=" + field(decode.output, "archive_bytes");
    const Run write = run(tools + L"\\write_limit.exe", {block, target}, true);
    line += " write_seconds=" + field(write.output, "write_seconds");
    line += " files=" + field(write.output, "files");
    const Run erase = run(tools + L"\\delete_limit.exe", {target}, true);
    line += " delete_seconds=" + field(erase.output, "delete_seconds");
    // The same tree once more, deleted the launcher's way.
    run(tools + L"\\write_limit.exe", {block, target}, true);
    const Run shell_erase = run(tools + L"\\shell_delete.exe", {target}, true);
    line += " shell_delete_seconds=" + field(shell_erase.output, "shell_delete_seconds");

    const std::string big = probe(launcher, report);
    line += " child_from_creation_seconds=" + field(big, "child_start_seconds");
    line += " launcher_creation_lag_seconds=" + field(big, "creation_lag_seconds");
    line += " parent_peak_working_set=" + field(big, "parent_peak_working_set");
    line += " child_peak_working_set=" + field(big, "child_peak_working_set");
    const std::string tiny = probe(tiny_launcher, report);
    line += " tiny_child_from_creation_seconds=" + field(tiny, "child_start_seconds");
    line += " tiny_launcher_creation_lag_seconds=" + field(tiny, "creation_lag_seconds");
    line += " tiny_parent_peak_working_set=" + field(tiny, "parent_peak_working_set");
    bench::print_result(line);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) bench::fail("usage: bench_harness ROUNDS LAUNCHER TINY_LAUNCHER BLOCK TOOLS_DIR");
    const int rounds = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
    if (rounds < 1) bench::fail("ROUNDS must be at least 1");
    // A launcher started from here must take the parent role.
    SetEnvironmentVariableW(L"ZORVEK_ONEFILE_PARENT", nullptr);
    const std::wstring temp = temp_folder();
    for (int round = 0; round <= rounds; ++round) run_round(round, argv[2], argv[3], argv[4], argv[5], temp);
    return 0;
}
