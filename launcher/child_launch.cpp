#include "launcher/child_launch.h"

#include <windows.h>

#include "format/command_line_quoting.h"
#include "launcher/child_job.h"
#include "launcher/cleanup.h"
#include "launcher/folder_sweep.h"
#include "launcher/fatal_report.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

using command_line_quoting::append_argument;
using command_line_quoting::append_unit;
using LineBuffer = command_line_quoting::LineBuffer<wchar_t>;

STARTUPINFOW startup_with_standard_handles() {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    // Passed on as they are, a null handle included: the child writes where we would.
    startup.hStdInput = sys.GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = sys.GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = sys.GetStdHandle(STD_ERROR_HANDLE);
    return startup;
}

// The hand-over (see cleanup.cpp for the shared side). CreateProcessW gives
// one handle on the child; the main thread keeps it for itself and puts a
// duplicate into the child_process slot. The console handler only ever sees
// the duplicate, so it can terminate and close that one while this thread
// still waits on, and reads the exit code from, its own. Should duplicating
// fail, the slot stays empty: the handler then deletes the directory but
// cannot end the child, which gets the same console event anyway.
void publish_child_handle(CleanupFlags& flags, HANDLE process) {
    HANDLE for_handler = nullptr;
    HANDLE self = GetCurrentProcess();
    if (!sys.DuplicateHandle(self, process, self, &for_handler, 0, FALSE, DUPLICATE_SAME_ACCESS)) return;
    InterlockedExchangePointer(&flags.child_process, for_handler);
}

// Closes the slot's handle unless the handler has already taken it.
void withdraw_child_handle(CleanupFlags& flags) {
    HANDLE for_handler = InterlockedExchangePointer(&flags.child_process, nullptr);
    if (for_handler != nullptr) sys.CloseHandle(for_handler);
}

DWORD wait_for_exit_code(HANDLE process) {
    sys.WaitForSingleObject(process, INFINITE);
    DWORD exit_code = 0;
    if (!sys.GetExitCodeProcess(process, &exit_code)) exit_code = 1;
    return exit_code;
}

}  // namespace

wchar_t* build_child_command_line(RunState& state, int argument_count, wchar_t** argument_vector) {
    const wchar_t* image_path = launcher_module_path(state);
    // CreateProcessW takes at most 32,767 units with the terminator; some
    // systems cut a longer line silently instead of failing, and the child
    // would get a shortened last argument.
    LineBuffer line = {state.child_command_line, child_command_line_limit, 0};
    state.child_command_line[0] = 0;
    // Whatever the user typed as the program name never reaches the child.
    if (!append_argument(line, image_path)) stop_at_limit("command line");
    for (int index = 1; index < argument_count; ++index) {
        if (!append_unit(line, L' ') || !append_argument(line, argument_vector[index])) stop_at_limit("command line");
    }
    return state.child_command_line;
}

unsigned long launch_child(RunState& state, int argument_count, wchar_t** argument_vector) {
    const wchar_t* image_path = launcher_module_path(state);
    STARTUPINFOW startup = startup_with_standard_handles();
    build_child_command_line(state, argument_count, argument_vector);

    // Started and published in the folder's turn (cleanup.h): a console
    // handler either stops the run before the start or finds the child in
    // the slot.
    enter_folder_change(state);
    PROCESS_INFORMATION child = {};
    if (!sys.CreateProcessW(image_path, state.child_command_line,
                            nullptr,                // lpProcessAttributes
                            nullptr,                // lpThreadAttributes
                            TRUE,                   // bInheritHandles: standard handles, liveness marker
                            NORMAL_PRIORITY_CLASS,  // same console, visible, running
                            nullptr,                // lpEnvironment: ours, ZORVEK_ variables included
                            nullptr,                // lpCurrentDirectory: ours
                            &startup, &child)) {
        report_system_error("Error, couldn't launch child", GetLastError());
    }
    // At once: the child does nothing of the application's before it has
    // loaded the library, so everything the application starts is started
    // from inside the job.
    HANDLE job = enclose_child_in_job(child.hProcess);
    sys.CloseHandle(child.hThread);
    publish_child_handle(state.cleanup, child.hProcess);
    leave_folder_change(state.cleanup);
    // While the child starts the application, off its way.
    sweep_ended_runs(state.extraction_directory, state.sweep);

    DWORD exit_code = wait_for_exit_code(child.hProcess);
    sys.CloseHandle(child.hProcess);
    withdraw_child_handle(state.cleanup);
    if (job != nullptr) CloseHandle(job);

    disarm_cleanup_at_exit(state.cleanup);
    cleanup_on_exit(state);
    // The main thread may get here before the default console handler ends
    // the process: an interrupted run must not end with 0 either way.
    if (exit_code == 0 && console_event_arrived(state.cleanup)) exit_code = interrupted_exit_code;
    return exit_code;
}
