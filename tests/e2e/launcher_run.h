// Starting a launcher from a Windows-side test and collecting everything it
// leaves: exit code (all 32 bits), standard output and error, the probe's
// report, and what stays in its private temporary folder.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "probe_report.h"

// A file the build made, as this process names it (the build passes Unix
// paths; under Wine they are mapped to their DOS form).
std::wstring build_path(const char* path);

struct Launch {
    std::wstring program;                   // lpApplicationName
    std::optional<std::wstring> argument0;  // as written on the command line; default: program
    std::vector<std::wstring> arguments;    // quoted by command_line_of
    std::optional<std::wstring> raw_tail;   // written after argument 0 verbatim, instead of arguments
    // Set (value) or removed (nullopt) in the launcher's environment, after
    // every ZORVEK_ and PROBE_ variable of this process has been dropped.
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> environment;
    std::optional<std::wstring> current_directory;  // default: the harness's own
};

struct RunResult {
    DWORD exit_code = 0;
    DWORD pid = 0;
    std::string out;
    std::string err;
    ULONGLONG elapsed_ms = 0;
};

// A launcher that has been started and not yet collected. It runs in a job of
// its own, so that a run that hangs can be ended with every process it
// started (which would otherwise keep the output pipes open).
struct Running {
    PROCESS_INFORMATION process{};
    HANDLE job = nullptr;
    HANDLE out_read = nullptr;
    HANDLE err_read = nullptr;
    std::string out;
    std::string err;
    std::thread out_reader;
    std::thread err_reader;
    ULONGLONG started_at = 0;
};

// Sets name to value in the launch's environment, replacing an earlier setting.
void set_variable(Launch& launch, const std::wstring& name, const std::wstring& value);

// Argument 0 and the arguments, each quoted by format/command_line_quoting.h.
std::wstring command_line_of(const Launch& launch);

// False (with the system error in *error) when CreateProcessW fails.
bool start(const Launch& launch, Running& running, std::wstring* error = nullptr);
// Waits (at most limit_ms, a minute by default; then the launcher is ended
// with every process it started, and the run fails), then collects output
// and exit code.
bool finish(Running& running, RunResult& result, DWORD limit_ms = 60000);
// start + finish; a failure to start or finish is reported through GoogleTest.
RunResult run(const Launch& launch);

// True when the launcher stopped because Wine refused to start its child with
// ERROR_INTERNAL_ERROR, which Wine does now and then under parallel load: the
// same refusal the harness retries for its own starts, and nothing the
// launcher or its payload did. Such a run is tried again.
bool wine_refused_child_start(const RunResult& result);
inline constexpr int wine_start_attempts = 5;

// A fresh folder for one test: tmp\ becomes the launcher's TMP and TEMP, and
// report.txt receives the probe's report. Removed at the end unless the test
// failed (then it stays for a look).
class Scratch {
  public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::wstring& root() const { return root_; }
    const std::wstring& tmp() const { return tmp_; }
    std::wstring report_path(const std::wstring& name = L"report.txt") const { return root_ + L"\\" + name; }

    // A launch of program with this folder's TMP, TEMP and PROBE_REPORT.
    Launch launch(const std::wstring& program, const std::wstring& report = L"report.txt") const;
    // The same, started in current_folder(), which holds canaries
    // (make_current_folder).
    Launch launch_in_own_folder(const std::wstring& program, const std::wstring& report = L"report.txt") const;
    std::wstring current_folder() const { return root_ + L"\\cwd"; }

  private:
    std::wstring root_;
    std::wstring tmp_;
};

// A current folder for a launcher, holding canary.txt and canary\inside.txt:
// a cleanup that strayed into the launcher's current folder would take them.
// Runs that may meet such a cleanup get one, so that the build tree is never
// the current folder of a launcher that deletes it.
bool make_current_folder(const std::wstring& path);
// True while both canaries are still there.
bool current_folder_intact(const std::wstring& path);

// Names of the onefile_* entries directly in folder.
std::vector<std::wstring> onefile_entries(const std::wstring& folder);
// The same, folders only: runs' folders without their liveness markers.
std::vector<std::wstring> onefile_folders(const std::wstring& folder);
bool remove_tree(const std::wstring& path);
bool path_exists(const std::wstring& path);
bool read_file(const std::wstring& path, std::string& bytes);
// Fails the test (and returns false) when the report is missing or incomplete.
bool read_report(const std::wstring& path, ProbeReport& report);
std::optional<std::wstring> reported(const ProbeReport& report, const wchar_t* variable);

std::wstring folder_of(const std::wstring& path);
std::wstring decimal(unsigned long value);
