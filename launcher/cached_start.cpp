#include "launcher/cached_start.h"

#include <windows.h>

#include "launcher/cache_folder.h"
#include "launcher/cleanup.h"
#include "launcher/fatal_report.h"
#include "launcher/cache_sweep.h"
#include "launcher/main_sequence.h"
#include "launcher/mode_constants.h"
#include "paths/environment.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

bool is_ending_event(DWORD type) {
    return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT ||
           type == CTRL_SHUTDOWN_EVENT;
}

// Reached only when no handler of the application took the event. Windows'
// own default handling would end the process with the same code; Wine's
// ends it with 0, and an interrupted run must never look like a success.
// There is nothing to clean up: the folder stays for the next start.
BOOL WINAPI end_interrupted_run(DWORD type) {
    if (is_ending_event(type)) ExitProcess(interrupted_exit_code);
    return FALSE;
}

void point_at_application(RunState& state) {
    wide_copy(state.extraction_directory, state.cached.in_use, extraction_directory_capacity);
    wide_copy(state.application_library_path, state.cached.in_use, path_capacity);
    wide_append_or_stop(state.application_library_path, L"\\", path_capacity, "file path");
    wide_append_or_stop(state.application_library_path, state.cached.first_entry, path_capacity, "file path");
}

}  // namespace

int run_cached_start(RunState& state, int argument_count, wchar_t** argument_vector) {
    prepare_parent_environment();
    if (!SetConsoleCtrlHandler(end_interrupted_run, TRUE)) {
        report_message("Error, failed to register signal handler.");
    }
    open_cached_folder(state, onefile_cache_spec, onefile_content_key);
    sweep_cache_folder(state.cached);
    point_at_application(state);
    publish_launcher_directory(state);
    env_write("ZORVEK_ORIGINAL_ARGV0", argument_vector[0]);
    // As a child started from the module path would see it.
    argument_vector[0] = state.module_path;
    return run_application_library(state, argument_count, argument_vector);
}
