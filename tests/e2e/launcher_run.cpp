#include "launcher_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <filesystem>

#include "format/command_line_quoting.h"
#include "tests/support/pipe_reading.h"
#include "tests/support/scratch_tree.h"

namespace {

std::wstring system_error_text(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = L"error " + std::to_wstring(code) + (text ? L": " + std::wstring(text) : L"");
    if (text) LocalFree(text);
    return message;
}

bool equal_ignoring_case(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

bool starts_with_ignoring_case(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

std::wstring name_of_entry(const std::wstring& entry) {
    return entry.substr(0, entry.find(L'=', 1));
}

// This process's environment without the variables the tests steer, then
// the launch's own settings.
std::wstring environment_block(const Launch& launch) {
    std::vector<std::wstring> entries;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* p = own; *p != L'\0'; p += wcslen(p) + 1) {
        const std::wstring entry = p;
        const std::wstring name = name_of_entry(entry);
        if (starts_with_ignoring_case(name, L"ZORVEK_") || starts_with_ignoring_case(name, L"PROBE_")) continue;
        bool overridden = false;
        for (const auto& [setting, value] : launch.environment) overridden |= equal_ignoring_case(name, setting);
        if (!overridden) entries.push_back(entry);
    }
    FreeEnvironmentStringsW(own);
    for (const auto& [name, value] : launch.environment)
        if (value) entries.push_back(name + L"=" + *value);

    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

void read_all(HANDLE pipe, std::string* into) {
    *into = test_support::read_until_closed(pipe);
}

// Pipe whose write end only the launcher gets: the harness keeps no
// inheritable handle between starts, so a launcher started later does not
// hold an earlier one's output open.
bool make_output_pipe(HANDLE& read_end, HANDLE& write_end) {
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return false;
    SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return true;
}

std::wstring scratch_base() {
    return build_path(E2E_SCRATCH_DIR);
}

// Whatever is still in the job when its last handle closes is ended.
HANDLE make_job() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

}  // namespace

std::wstring build_path(const char* path) {
    const std::wstring wide = from_utf8(path);
    if (wide.empty() || wide[0] != L'/') return wide;
    using dos_name_function = wchar_t*(CDECL*)(const char*);
    const auto dos_name = reinterpret_cast<dos_name_function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (dos_name != nullptr) {
        if (wchar_t* converted = dos_name(path)) {
            std::wstring result = converted;
            HeapFree(GetProcessHeap(), 0, converted);
            return result;
        }
    }
    std::wstring result = L"Z:" + wide;
    for (wchar_t& c : result)
        if (c == L'/') c = L'\\';
    return result;
}

void set_variable(Launch& launch, const std::wstring& name, const std::wstring& value) {
    for (auto& [setting, setting_value] : launch.environment)
        if (setting == name) {
            setting_value = value;
            return;
        }
    launch.environment.push_back({name, value});
}

std::wstring command_line_of(const Launch& launch) {
    const std::wstring program = launch.argument0.value_or(launch.program);
    if (!launch.raw_tail) return command_line_quoting::joined_command_line(program, launch.arguments);
    std::wstring line;
    command_line_quoting::append_to_string(line, program.c_str());
    return line + *launch.raw_tail;
}

bool start(const Launch& launch, Running& running, std::wstring* error) {
    HANDLE out_write = nullptr;
    HANDLE err_write = nullptr;
    if (!make_output_pipe(running.out_read, out_write) || !make_output_pipe(running.err_read, err_write)) {
        if (error) *error = L"CreatePipe: " + system_error_text(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    std::wstring line = command_line_of(launch);
    std::wstring environment = environment_block(launch);
    running.started_at = GetTickCount64();
    // Suspended until it is in the job, so that its child is started inside.
    // Wine now and then refuses a start with ERROR_INTERNAL_ERROR when many
    // processes start at once; that says nothing about the launcher, so the
    // harness tries again a few times.
    BOOL started = FALSE;
    DWORD code = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        started = CreateProcessW(launch.program.c_str(), line.data(), nullptr, nullptr, TRUE /* bInheritHandles */,
                                 CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, environment.data(),
                                 launch.current_directory ? launch.current_directory->c_str() : nullptr, &startup,
                                 &running.process);
        code = GetLastError();
        if (started || code != ERROR_INTERNAL_ERROR) break;
        Sleep(50);
    }
    CloseHandle(out_write);
    CloseHandle(err_write);
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (!started) {
        if (error) *error = L"CreateProcessW " + launch.program + L": " + system_error_text(code);
        CloseHandle(running.out_read);
        CloseHandle(running.err_read);
        return false;
    }
    running.job = make_job();
    if (running.job != nullptr) AssignProcessToJobObject(running.job, running.process.hProcess);
    ResumeThread(running.process.hThread);
    CloseHandle(running.process.hThread);
    running.process.hThread = nullptr;
    running.out_reader = std::thread(read_all, running.out_read, &running.out);
    running.err_reader = std::thread(read_all, running.err_read, &running.err);
    return true;
}

bool finish(Running& running, RunResult& result, DWORD limit_ms) {
    const bool ended = WaitForSingleObject(running.process.hProcess, limit_ms) == WAIT_OBJECT_0;
    if (!ended) {
        if (running.job != nullptr) TerminateJobObject(running.job, 0xDEAD);
        TerminateProcess(running.process.hProcess, 0xDEAD);
    }
    WaitForSingleObject(running.process.hProcess, INFINITE);
    result.elapsed_ms = GetTickCount64() - running.started_at;
    // The output pipes close when the last process holding them ends: the
    // launcher and its child.
    running.out_reader.join();
    running.err_reader.join();
    CloseHandle(running.out_read);
    CloseHandle(running.err_read);
    GetExitCodeProcess(running.process.hProcess, &result.exit_code);
    result.pid = running.process.dwProcessId;
    result.out = running.out;
    result.err = running.err;
    CloseHandle(running.process.hProcess);
    running.process.hProcess = nullptr;
    if (running.job != nullptr) CloseHandle(running.job);
    running.job = nullptr;
    return ended;
}

bool wine_refused_child_start(const RunResult& result) {
    return result.exit_code == 2 && result.err.find("couldn't launch child ([Error 1359]") != std::string::npos;
}

RunResult run(const Launch& launch) {
    RunResult result;
    for (int attempt = 0; attempt < wine_start_attempts; ++attempt) {
        Running running;
        std::wstring error;
        result = RunResult{};
        if (!start(launch, running, &error)) {
            ADD_FAILURE() << to_utf8(error);
            result.exit_code = 0xFFFFFFFF;
            return result;
        }
        EXPECT_TRUE(finish(running, result)) << "the launcher did not end within a minute";
        if (!wine_refused_child_start(result)) break;
    }
    return result;
}

Scratch::Scratch() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = from_utf8(std::string(info->test_suite_name()) + "." + info->name());
    for (wchar_t& c : name)
        if (c == L'/' || c == L'\\' || c == L':') c = L'_';
    root_ = scratch_base() + L"\\" + name;
    tmp_ = root_ + L"\\tmp";
    remove_tree(root_);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(tmp_), ignored);
}

Scratch::~Scratch() {
    if (!::testing::Test::HasFailure()) remove_tree(root_);
}

Launch Scratch::launch(const std::wstring& program, const std::wstring& report) const {
    Launch launch;
    launch.program = program;
    launch.environment = {{L"TMP", tmp_}, {L"TEMP", tmp_}, {L"PROBE_REPORT", report_path(report)}};
    return launch;
}

namespace {

bool write_text_file(const std::wstring& path, const char* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
    return ok;
}

}  // namespace

bool make_current_folder(const std::wstring& path) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path + L"\\canary"), ignored);
    return write_text_file(path + L"\\canary.txt", "canary\r\n") &&
           write_text_file(path + L"\\canary\\inside.txt", "canary\r\n");
}

bool current_folder_intact(const std::wstring& path) {
    return path_exists(path + L"\\canary.txt") && path_exists(path + L"\\canary\\inside.txt");
}

Launch Scratch::launch_in_own_folder(const std::wstring& program, const std::wstring& report) const {
    Launch started = launch(program, report);
    EXPECT_TRUE(make_current_folder(current_folder()));
    started.current_directory = current_folder();
    return started;
}

std::vector<std::wstring> onefile_entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\onefile_*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::wstring> onefile_folders(const std::wstring& folder) {
    std::vector<std::wstring> folders = onefile_entries(folder);
    std::erase_if(folders, [&](const std::wstring& name) {
        const DWORD attributes = GetFileAttributesW((folder + L"\\" + name).c_str());
        return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    });
    return folders;
}

// A launcher that has just ended may still be releasing its image file
// (the tests run copies and links of it from their folders), so a failed
// removal is tried again for a while.
//
// Paths past 260 units (left by launchers that could not remove them) are
// beyond std::filesystem here; they go through their \\?\ form.
bool remove_tree(const std::wstring& path) {
    for (int attempt = 0;; ++attempt) {
        std::error_code error;
        std::filesystem::remove_all(std::filesystem::path(path), error);
        if (!error) return true;
        if (path.size() > 2 && path[1] == L':' && test_support::remove_scratch_tree(L"\\\\?\\" + path)) return true;
        if (attempt == 40) return false;
        Sleep(50);
    }
}

bool path_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool read_file(const std::wstring& path, std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return true;
}

bool read_report(const std::wstring& path, ProbeReport& report) {
    std::string text;
    if (!read_file(path, text)) {
        ADD_FAILURE() << "no probe report at " << to_utf8(path);
        return false;
    }
    if (!parse_report(text, report) || !report.complete) {
        ADD_FAILURE() << "unreadable or unfinished probe report at " << to_utf8(path) << ":\n" << text;
        return false;
    }
    return true;
}

std::optional<std::wstring> reported(const ProbeReport& report, const wchar_t* variable) {
    const auto found = report.environment.find(variable);
    return found == report.environment.end() ? std::nullopt : found->second;
}

std::wstring folder_of(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring decimal(unsigned long value) {
    return std::to_wstring(value);
}
