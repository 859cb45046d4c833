// bench_harness: the Windows side of tools/benchmark.sh. It starts every
// measured program itself, so a start-to-exit time is a Windows process start
// as a user's shell would make it, with no Unix-side Wine start-up in it.
//
//   bench_harness ROUNDS LAUNCHER TINY_LAUNCHER BLOCK TOOLS_DIR CACHED_LAUNCHER
//
// CACHED_LAUNCHER is the same application built with
// --cache-dir {TEMP}\onefile_bench_cache.
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
//   CACHED_LAUNCHER           into an emptied cache (cold), then again (warm)
//   plain_host.exe FOLDER     the warm start's floor, FOLDER the cached folder
//   read_limit FOLDER         what reading every cached file once costs
// and prints one line of key=value pairs. Round 0 is a warm-up and is marked
// as such; tools/benchmark.sh leaves it out of the figures. After the rounds
// one more line (no round=) tells how the cached mode held up under sixteen
// first starts at once and under runs ended at ten points of a cold start.
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

// Starts program with arguments. With capture, its standard output goes into
// a pipe (whose read end is handed back); otherwise it shares ours.
PROCESS_INFORMATION start_program(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                  HANDLE* capture) {
    std::wstring line = command_line_quoting::joined_command_line(program, arguments);
    HANDLE write_end = GetStdHandle(STD_OUTPUT_HANDLE);
    if (capture != nullptr) {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        if (!CreatePipe(capture, &write_end, &inheritable, 0)) bench::fail_with_error("CreatePipe", GetLastError());
        SetHandleInformation(*capture, HANDLE_FLAG_INHERIT, 0);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    // Wine now and then refuses a start under load; a second try succeeds.
    for (int attempt = 0;; ++attempt) {
        if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                           &process)) {
            break;
        }
        if (attempt == 5) {
            std::fwprintf(stderr, L"cannot start %ls\n", program.c_str());
            bench::fail_with_error("CreateProcessW", GetLastError());
        }
        Sleep(50);
    }
    if (capture != nullptr) CloseHandle(write_end);
    return process;
}

DWORD wait_for_exit(PROCESS_INFORMATION& process) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Starts program with arguments and waits for it. With capture, its standard
// output goes into a pipe that is read to the end; otherwise it shares ours.
Run run(const std::wstring& program, const std::vector<std::wstring>& arguments, bool capture) {
    HANDLE read_end = nullptr;
    Run result;
    FILETIME before;
    GetSystemTimePreciseAsFileTime(&before);
    const double start = bench::seconds_now();
    PROCESS_INFORMATION process = start_program(program, arguments, capture ? &read_end : nullptr);
    if (capture) {
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

bool is_key_name(const wchar_t* name) {
    std::size_t length = 0;
    for (; name[length] != 0; ++length) {
        const wchar_t c = name[length];
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    }
    return length == 32;
}

// Names in the cache folder: the complete folders (bare keys) and the rest.
struct CacheContents {
    std::wstring complete_folder;  // the last one listed
    int complete = 0;
    int staging = 0;
};

CacheContents list_cache(const std::wstring& cache) {
    CacheContents contents;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((cache + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return contents;
    do {
        if (is_key_name(found.cFileName)) {
            ++contents.complete;
            contents.complete_folder = cache + L"\\" + found.cFileName;
        }
        if (std::wcsstr(found.cFileName, L".staging-") != nullptr &&
            std::wcsstr(found.cFileName, L".lock") == nullptr) {
            ++contents.staging;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return contents;
}

void empty_cache(const std::wstring& tools, const std::wstring& cache) {
    if (GetFileAttributesW(cache.c_str()) != INVALID_FILE_ATTRIBUTES) run(tools + L"\\delete_limit.exe", {cache}, true);
}

std::string cached_rounds_fields(const std::wstring& cached_launcher, const std::wstring& tools,
                                 const std::wstring& cache) {
    empty_cache(tools, cache);
    std::string line = " cold_seconds=" + number_text(run(cached_launcher, {}, false).seconds);
    line += " warm_seconds=" + number_text(run(cached_launcher, {}, false).seconds);
    const std::wstring folder = list_cache(cache).complete_folder;
    if (folder.empty()) bench::fail("the cached launcher left no complete folder");
    line += " plain_host_seconds=" + number_text(run(tools + L"\\plain_host.exe", {folder}, false).seconds);
    line += " read_seconds=" + field(run(tools + L"\\read_limit.exe", {folder}, true).output, "read_seconds");
    return line;
}

// Sixteen first starts into an empty cache at once, each expecting its own
// exit code; then runs ended at ten points of a cold start, each followed by
// a normal start that must succeed.
std::string cached_robustness_line(const std::wstring& cached_launcher, const std::wstring& tools,
                                   const std::wstring& cache, double cold_seconds) {
    constexpr int starts = 16;
    empty_cache(tools, cache);
    PROCESS_INFORMATION processes[starts];
    for (int i = 0; i < starts; ++i) {
        SetEnvironmentVariableW(L"ONEFILE_BENCH_EXIT_CODE", std::to_wstring(100 + i).c_str());
        processes[i] = start_program(cached_launcher, {}, nullptr);
    }
    SetEnvironmentVariableW(L"ONEFILE_BENCH_EXIT_CODE", nullptr);
    int right = 0;
    for (int i = 0; i < starts; ++i) right += wait_for_exit(processes[i]) == DWORD(100 + i);
    const CacheContents raced = list_cache(cache);
    std::string line = "race_starts=" + std::to_string(starts) + " race_right_codes=" + std::to_string(right) +
                       " race_final_folders=" + std::to_string(raced.complete) +
                       " race_staging_left=" + std::to_string(raced.staging);

    constexpr int points = 10;
    int next_ok = 0;
    int staging_left = 0;
    int ended_unpacking = 0;
    for (int i = 0; i < points; ++i) {
        empty_cache(tools, cache);
        PROCESS_INFORMATION doomed = start_program(cached_launcher, {}, nullptr);
        Sleep(static_cast<DWORD>(cold_seconds * 1000.0 * i / points));
        TerminateProcess(doomed.hProcess, 99);
        wait_for_exit(doomed);
        ended_unpacking += list_cache(cache).staging;
        PROCESS_INFORMATION next = start_program(cached_launcher, {}, nullptr);
        next_ok += wait_for_exit(next) == 0;
        staging_left += list_cache(cache).staging;
    }
    empty_cache(tools, cache);
    return line + " kill_points=" + std::to_string(points) +
           " kill_during_unpacking=" + std::to_string(ended_unpacking) + " kill_next_ok=" + std::to_string(next_ok) +
           " kill_staging_left=" + std::to_string(staging_left);
}

void run_round(int round, const std::wstring& launcher, const std::wstring& tiny_launcher, const std::wstring& block,
               const std::wstring& tools, const std::wstring& temp, const std::wstring& cached_launcher) {
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
    line += cached_rounds_fields(cached_launcher, tools, temp + L"\\onefile_bench_cache");
    bench::print_result(line);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 7) bench::fail("usage: bench_harness ROUNDS LAUNCHER TINY_LAUNCHER BLOCK TOOLS_DIR CACHED_LAUNCHER");
    const int rounds = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
    if (rounds < 1) bench::fail("ROUNDS must be at least 1");
    // A launcher started from here must take the parent role.
    SetEnvironmentVariableW(L"ZORVEK_ONEFILE_PARENT", nullptr);
    const std::wstring temp = temp_folder();
    for (int round = 0; round <= rounds; ++round) run_round(round, argv[2], argv[3], argv[4], argv[5], temp, argv[6]);
    // A cold start's time, to spread the ten ending points over it.
    empty_cache(argv[5], temp + L"\\onefile_bench_cache");
    const double cold_seconds = run(argv[6], {}, false).seconds;
    bench::print_result(cached_robustness_line(argv[6], argv[5], temp + L"\\onefile_bench_cache", cold_seconds));
    return 0;
}
