#include "launcher/main_sequence.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#include "launcher/child_launch.h"
#include "launcher/cleanup.h"
#include "launcher/extraction.h"
#include "launcher/fatal_report.h"
#include "format/path_placeholders.h"
#include "launcher/cached_start.h"
#include "launcher/mode_constants.h"
#include "launcher/run_state.h"
#include "launcher/payload_reader.h"
#include "launcher/run_folder_name.h"
#include "launcher/run_marker.h"
#include "paths/environment.h"
#include "paths/path_normalise.h"
#include "paths/path_spec.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

constexpr std::size_t extraction_spec_capacity = max_folder_spec_units + 64;
constexpr DWORD query_and_read_access = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x0410
constexpr DWORD application_search_flags =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32;  // 0x0D00

using RunCode = int (*)(int, wchar_t**, const wchar_t*);

// Both sides of the identity test go through the same resolution and
// shortening, so a parent started through a short path, a long path or a link
// still matches its child.
void normalise_image_path(wchar_t* path, std::size_t capacity) {
    resolve_final_path(path, path, static_cast<DWORD>(capacity), true);
    shorten_directory_part(path, capacity);
}

const wchar_t* launcher_identity_path(RunState& state) {
    if (state.identity_path[0] == L'\0') {
        wide_copy(state.identity_path, launcher_module_path(state), module_path_capacity);
        normalise_image_path(state.identity_path, module_path_capacity);
    }
    return state.identity_path;
}

// A path that fills the buffer may have been cut; compared cut, a launcher
// with a longer path would never find its parent and would restart itself
// without end, so it stops instead.
bool process_runs_this_executable(RunState& state, HANDLE process) {
    DWORD length = sys.K32GetModuleFileNameExW(process, nullptr, state.other_image_path, module_path_capacity);
    if (length == 0) return false;
    if (length >= module_path_capacity - 1) stop_at_limit("executable path");
    normalise_image_path(state.other_image_path, module_path_capacity);
    return wcscmp(state.other_image_path, launcher_identity_path(state)) == 0;
}

void work_out_extraction_directory(RunState& state) {
    wchar_t spec[extraction_spec_capacity];
    wide_copy(spec, onefile_temp_spec, extraction_spec_capacity);
    wide_append(spec, run_folder_spec, extraction_spec_capacity);
    bool expanded = expand_path_spec(state.extraction_directory, spec, extraction_directory_capacity);
    make_directory_absolute(state.extraction_directory, extraction_directory_capacity);
    if (!expanded) report_expansion_failure(spec);
}

void register_console_handler() {
    if (!SetConsoleCtrlHandler(console_control_handler, TRUE)) {
        report_message("Error, failed to register signal handler.");
    }
}

}  // namespace

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

[[noreturn]] void report_missing_application_library() {
    report_message("Error, attached data holds no application library.");
}

int run_application_library(RunState& state, int argument_count, wchar_t** argument_vector) {
    AddDllDirectory(state.extraction_directory);
    HMODULE library = LoadLibraryExW(state.application_library_path, nullptr, application_search_flags);
    if (library == nullptr) report_system_error("Error, load DLL.", GetLastError());
    auto run_code = reinterpret_cast<RunCode>(reinterpret_cast<void*>(GetProcAddress(library, "run_code")));
    if (run_code == nullptr) report_message("Error, DLL entry point not found.");
    return run_code(argument_count, argument_vector, state.application_library_path);
}

// For the application: the folder of the launcher as the system reports it,
// long names kept, without a trailing backslash.
void publish_launcher_directory(RunState& state) {
    wide_copy(state.launcher_directory, launcher_module_path(state), module_path_capacity);
    wchar_t* last_backslash = wcsrchr(state.launcher_directory, L'\\');
    if (last_backslash != nullptr) *last_backslash = L'\0';
    env_write("ZORVEK_ONEFILE_DIRECTORY", state.launcher_directory);
}

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
void create_extraction_directory(RunState& state) {
    ensure_parent_directories(state.directories, state.extraction_directory);
    name_run_marker(state.run_marker_path, state.extraction_directory);
    HANDLE marker = hold_run_marker(state.run_marker_path);
    if (marker != INVALID_HANDLE_VALUE) InterlockedExchangePointer(&state.cleanup.run_marker, marker);
    if (sys.CreateDirectoryW(state.extraction_directory, nullptr)) return;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        release_run_marker(InterlockedExchangePointer(&state.cleanup.run_marker, nullptr), true);
        report_existing_extraction_directory(state.extraction_directory);
    }
}

bool is_child_of_same_launcher(RunState& state) {
    wchar_t* value = env_read("ZORVEK_ONEFILE_PARENT");
    if (value == nullptr) return false;
    unsigned long id = 0;
    bool parsed = parse_process_id(value, &id);
    free(value);
    if (!parsed) return false;
    HANDLE process = sys.OpenProcess(query_and_read_access, FALSE, id);
    if (process == nullptr) return false;
    bool same = process_runs_this_executable(state, process);
    sys.CloseHandle(process);
    return same;
}

int run_main_sequence(RunState& state, int argument_count, wchar_t** argument_vector) {
    set_program_arguments(argument_count, argument_vector);
    SetDllDirectoryW(L"");

    if (cached_mode()) return run_cached_start(state, argument_count, argument_vector);

    state.child = is_child_of_same_launcher(state);
    if (!state.child) prepare_parent_environment();
    work_out_extraction_directory(state);
    register_run_state(&state);
    if (!state.child) register_console_handler();

    PayloadReader::open();

    while (PayloadReader::read_entry_name(state.entry_name)) {
        join_entry_path(state);
        if (state.application_library_path[0] == L'\0') {
            wide_copy(state.application_library_path, state.current_file_path, path_capacity);
        }
        if (state.child) {
            // The decoder and its window are given back before the application
            // runs: the child needs nothing more from the payload.
            PayloadReader::close();
            return run_application_library(state, argument_count, argument_vector);
        }
        // The folder is made once the first name has been read and found safe,
        // so a payload that cannot be decoded leaves nothing behind; the cleanup
        // is armed only once the folder is ours, so that it never deletes a
        // folder that was there before this run.
        enter_folder_change(state);
        if (!extraction_has_started(state.cleanup)) {
            create_extraction_directory(state);
            mark_extraction_started(state.cleanup);
            arm_cleanup_at_exit(state.cleanup);
        }
        extract_entry(state);
        leave_folder_change(state.cleanup);
    }
    if (state.child) report_missing_application_library();

    PayloadReader::close();
    publish_launcher_directory(state);
    env_write("ZORVEK_ORIGINAL_ARGV0", argument_vector[0]);
    return static_cast<int>(launch_child(state, argument_count, argument_vector));
}
