#include "launcher/main_sequence.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#include "launcher/child_launch.h"
#include "launcher/cleanup.h"
#include "launcher/extraction.h"
#include "launcher/fatal_report.h"
#include "launcher/launcher_state.h"
#include "launcher/payload_reader.h"
#include "launcher/run_folder_name.h"
#include "launcher/run_marker.h"
#include "paths/environment.h"
#include "paths/path_normalise.h"
#include "paths/path_spec.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constexpr DWORD query_and_read_access = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x0410
constexpr std::size_t other_image_capacity = 2048;
constexpr DWORD application_search_flags =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32;  // 0x0D00

using RunCode = int (*)(int, wchar_t**, const wchar_t*);

// A value the parent wrote for us: a whole decimal number, nothing else.
bool parse_process_id(const wchar_t* value, DWORD* id) {
    wchar_t* end = nullptr;
    errno = 0;
    long parsed = wcstol(value, &end, 10);
    if (errno == ERANGE || end == value || *end != L'\0') return false;
    *id = static_cast<DWORD>(parsed);
    return true;
}

// Both sides of the identity test go through the same resolution and
// shortening, so a parent started through a short path, a long path or a link
// still matches its child.
void normalise_image_path(wchar_t* path, std::size_t capacity) {
    resolve_final_path(path, path, static_cast<DWORD>(capacity), true);
    shorten_directory_part(path, capacity);
}

const wchar_t* launcher_identity_path() {
    if (identity_path[0] == L'\0') {
        DWORD length = sys.GetModuleFileNameW(nullptr, identity_path, module_path_capacity);
        if (length == 0) abort();
        if (length >= module_path_capacity) stop_at_limit("executable path");
        normalise_image_path(identity_path, module_path_capacity);
    }
    return identity_path;
}

bool process_runs_this_executable(HANDLE process) {
    wchar_t other_image[other_image_capacity];
    if (sys.K32GetModuleFileNameExW(process, nullptr, other_image, other_image_capacity) == 0) return false;
    normalise_image_path(other_image, other_image_capacity);
    return wcscmp(other_image, launcher_identity_path()) == 0;
}

// The parent's own id goes into the environment before the path spec is
// expanded, so {PID} reads it in both roles; the time and random parts are
// cleared so that this run generates fresh ones.
void prepare_parent_environment() {
    env_remove("ZORVEK_ONEFILE_START");
    env_remove("ZORVEK_ONEFILE_TIME_US");
    env_remove("ZORVEK_ONEFILE_RANDOM");
    char narrow_id[128];
    snprintf(narrow_id, sizeof narrow_id, "%ld", static_cast<long>(GetCurrentProcessId()));
    wchar_t wide_id[128];
    widen_ascii(wide_id, narrow_id, 128);
    env_write("ZORVEK_ONEFILE_PARENT", wide_id);
}

void work_out_extraction_directory() {
    bool expanded = expand_path_spec(extraction_directory, extraction_directory_spec, extraction_directory_capacity);
    make_extraction_directory_absolute();
    if (!expanded) report_expansion_failure(extraction_directory_spec);
}

void register_console_handler() {
    if (!sys.SetConsoleCtrlHandler(console_control_handler, TRUE)) {
        report_message("Error, failed to register signal handler.");
    }
}

// Reads one name, a code unit at a time, into entry_name. False at the end
// marker. A name that would not fit the buffer is refused before it is used.
bool read_entry_name() {
    for (std::size_t length = 0;; ++length) {
        if (length == entry_name_capacity) {
            report_message("Error, attached data holds an entry name that is too long.");
        }
        wchar_t unit = 0;
        PayloadReader::read(&unit, sizeof unit);
        entry_name[length] = unit;
        if (unit == L'\0') return length != 0;
    }
}

[[noreturn]] void report_missing_application_library() {
    report_message("Error, attached data holds no application library.");
}

int run_application_library(int argument_count, wchar_t** argument_vector) {
    AddDllDirectory(extraction_directory);
    HMODULE library = LoadLibraryExW(application_library_path, nullptr, application_search_flags);
    if (library == nullptr) report_system_error("Error, load DLL.", GetLastError());
    auto run_code = reinterpret_cast<RunCode>(reinterpret_cast<void*>(GetProcAddress(library, "run_code")));
    if (run_code == nullptr) report_message("Error, DLL entry point not found.");
    return run_code(argument_count, argument_vector, application_library_path);
}

// For the application: the folder of the launcher as the system reports it,
// long names kept, without a trailing backslash.
void publish_launcher_directory() {
    if (launcher_module_path[0] == L'\0') {
        DWORD length = sys.GetModuleFileNameW(nullptr, launcher_module_path, module_path_capacity);
        if (length == 0) abort();
        if (length >= module_path_capacity) stop_at_limit("executable path");
    }
    wide_copy(launcher_directory, launcher_module_path, module_path_capacity);
    wchar_t* last_backslash = wcsrchr(launcher_directory, L'\\');
    if (last_backslash != nullptr) *last_backslash = L'\0';
    env_write("ZORVEK_ONEFILE_DIRECTORY", launcher_directory);
}

}  // namespace

// The parent makes the extraction directory itself, before anything is written
// into it, and refuses one that is already there: the name holds the process id,
// the microsecond and 64 random bits, so an existing folder is a stale or
// planted one, and the application's DLLs must never be loaded from a folder
// that someone else could have filled. The temporary folder above it is made
// if it is missing. Any other failure shows up, with its path, when the first
// file is created.
//
// The liveness marker is made first, so the folder never lies without it.
// Should the name be taken, the marker goes again at once: it must not make a
// folder that is not ours look like an ended run's to the sweep.
void create_extraction_directory() {
    ensure_parent_directories(extraction_directory);
    name_run_marker(run_marker_path, extraction_directory);
    HANDLE marker = hold_run_marker(run_marker_path);
    if (marker != INVALID_HANDLE_VALUE) InterlockedExchangePointer(&run_marker, marker);
    if (sys.CreateDirectoryW(extraction_directory, nullptr)) return;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        release_run_marker(InterlockedExchangePointer(&run_marker, nullptr), true);
        report_existing_extraction_directory();
    }
}

bool is_child_of_same_launcher() {
    wchar_t* value = env_read("ZORVEK_ONEFILE_PARENT");
    if (value == nullptr) return false;
    DWORD id = 0;
    bool parsed = parse_process_id(value, &id);
    free(value);
    if (!parsed) return false;
    HANDLE process = sys.OpenProcess(query_and_read_access, FALSE, id);
    if (process == nullptr) return false;
    bool same = process_runs_this_executable(process);
    sys.CloseHandle(process);
    return same;
}

int run_main_sequence(int argument_count, wchar_t** argument_vector) {
    set_program_arguments(argument_count, argument_vector);
    SetDllDirectoryW(L"");

    const bool child = is_child_of_same_launcher();
    if (!child) prepare_parent_environment();
    work_out_extraction_directory();
    if (!child) register_console_handler();

    PayloadReader::open();

    while (read_entry_name()) {
        join_entry_path();
        if (application_library_path[0] == L'\0') wide_copy(application_library_path, current_file_path, path_capacity);
        if (child) return run_application_library(argument_count, argument_vector);
        // The folder is made once the first name has been read and found safe,
        // so a payload that cannot be decoded leaves nothing behind; the cleanup
        // is armed only once the folder is ours, so that it never deletes a
        // folder that was there before this run.
        enter_folder_change();
        if (!extraction_started) {
            create_extraction_directory();
            extraction_started = true;
            arm_cleanup_at_exit();
        }
        extract_entry();
        leave_folder_change();
    }
    if (child) report_missing_application_library();

    PayloadReader::close();
    publish_launcher_directory();
    env_write("ZORVEK_ORIGINAL_ARGV0", argument_vector[0]);
    return static_cast<int>(launch_child());
}
