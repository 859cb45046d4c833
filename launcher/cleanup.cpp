#include "launcher/cleanup.h"

#include <stdlib.h>

#include "launcher/extraction.h"
#include "launcher/run_marker.h"
#include "platform/system_calls.h"

// RunState::cleanup, shared by the main thread and the console handler thread.
// Every flag is read and written with interlocked operations only.
//
// child_process: one of the two handles launch_child holds on the child (the
// main thread waits on the other, which nobody else ever sees). Whichever
// thread takes this one out of the slot with an interlocked exchange owns it
// and closes it, so it is closed exactly once and never while someone else
// still uses it: the handler takes it to wait for the grace and terminate; the
// main thread takes it after its own wait, only to close it.
//
// extraction_started: set once by the main thread, right after it made the
// extraction directory; read on either thread.
//
// folder_turn_owner: the thread whose turn it is to change the folder (0:
// nobody's). The two threads may both reach the deletion (a console event
// just as the child ends). A second caller waits until the first pass is over
// and then makes its own pass, which finds the directory gone after one
// delete call. Waiting instead of skipping keeps the main thread from ending
// the process (exit with the child's code) half-way through the handler's
// deletion. The main thread also makes every entry of the folder and starts
// the child in its turn (enter_folder_change), so nothing is made after the
// handler's cleanup has begun. A thread may take its own turn again (an exit
// half-way through an entry runs the cleanup in the turn it holds);
// folder_turn_depth is touched by the owner only.
//
// run_marker: whoever takes it out of the slot releases it.
//
// cleanup_at_exit_armed: taken by whichever comes first, the exit handler or
// the launch's own cleanup.

namespace {

constexpr int delete_retries = 20;
constexpr DWORD retry_pause_milliseconds = 100;

bool flag_is_set(volatile LONG& flag) {
    return InterlockedCompareExchange(&flag, 0, 0) != 0;
}

void end_child_in_slot(CleanupFlags& flags) {
    HANDLE child = InterlockedExchangePointer(&flags.child_process, nullptr);
    if (child == nullptr) return;
    if (sys.WaitForSingleObject(child, child_grace_milliseconds) != WAIT_OBJECT_0) {
        sys.TerminateProcess(child, interrupted_exit_code);
    }
    sys.CloseHandle(child);
}

// Our own tree removal rather than the shell's recursive delete: the shell
// cannot handle paths beyond 260 units and has been seen to misbehave there
// (deleting elsewhere than asked). Links inside the directory are removed,
// never followed, so the application cannot steer the deletion outside it.
bool directory_still_there(const wchar_t* directory) {
    DWORD attributes = sys.GetFileAttributesW(directory);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void delete_extraction_directory(const wchar_t* directory) {
    sys.remove_directory_tree(directory);
    for (int retry = 0; retry < delete_retries; ++retry) {
        if (!directory_still_there(directory)) return;
        sys.Sleep(retry_pause_milliseconds);
        sys.remove_directory_tree(directory);
    }
    // Left behind without a word: a file in it may still be open, or content
    // lies deeper than the removal goes (see tree_removal.h).
}

void take_folder_turn(CleanupFlags& flags) {
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&flags.folder_turn_owner, 0, 0) != self) {
        // Not through the seam: this wait is no part of the retry timing.
        while (InterlockedCompareExchange(&flags.folder_turn_owner, self, 0) != 0) Sleep(1);
    }
    ++flags.folder_turn_depth;
}

void end_folder_turn(CleanupFlags& flags) {
    if (--flags.folder_turn_depth == 0) InterlockedExchange(&flags.folder_turn_owner, 0);
}

void release_marker_in_slot(CleanupFlags& flags, const wchar_t* directory) {
    HANDLE marker = InterlockedExchangePointer(&flags.run_marker, nullptr);
    if (marker == nullptr) return;
    release_run_marker(marker, !directory_still_there(directory));
}

// Runs on the thread that calls exit: the main thread.
void cleanup_if_armed() {
    RunState* state = registered_run_state();
    if (state == nullptr || InterlockedExchange(&state->cleanup.cleanup_at_exit_armed, 0) == 0) return;
    close_file_being_written(*state);
    cleanup_on_exit(*state);
}

// Registered once per process: a full list would leave only the sweep to
// remove the folder.
constinit bool cleanup_at_exit_registered = false;  // main thread only

}  // namespace

void mark_extraction_started(CleanupFlags& flags) {
    InterlockedExchange(&flags.extraction_started, 1);
}

bool extraction_has_started(CleanupFlags& flags) {
    return flag_is_set(flags.extraction_started);
}

bool console_event_arrived(CleanupFlags& flags) {
    return flag_is_set(flags.console_event_seen);
}

void cleanup_on_exit(RunState& state) {
    // The child too is started in the main thread's turn: a child in the
    // slot is seen here, and no child is started after this.
    take_folder_turn(state.cleanup);
    end_child_in_slot(state.cleanup);
    if (extraction_has_started(state.cleanup)) delete_extraction_directory(state.extraction_directory);
    release_marker_in_slot(state.cleanup, state.extraction_directory);
    end_folder_turn(state.cleanup);
}

BOOL WINAPI console_control_handler(DWORD type) {
    RunState* state = registered_run_state();
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (state == nullptr) break;
            InterlockedExchange(&state->cleanup.console_event_seen, 1);
            cleanup_on_exit(*state);
            break;
        default:
            break;
    }
    // Passed on: the default handler ends the launcher with 0xC000013A.
    return FALSE;
}

void arm_cleanup_at_exit(CleanupFlags& flags) {
    InterlockedExchange(&flags.cleanup_at_exit_armed, 1);
    if (!cleanup_at_exit_registered) cleanup_at_exit_registered = atexit(cleanup_if_armed) == 0;
}

void disarm_cleanup_at_exit(CleanupFlags& flags) {
    InterlockedExchange(&flags.cleanup_at_exit_armed, 0);
}

void stop_interrupted_run(RunState& state) {
    disarm_cleanup_at_exit(state.cleanup);
    close_file_being_written(state);
    cleanup_on_exit(state);
    exit(static_cast<int>(interrupted_exit_code));
}

void enter_folder_change(RunState& state) {
    take_folder_turn(state.cleanup);
    if (console_event_arrived(state.cleanup)) stop_interrupted_run(state);
}

void leave_folder_change(CleanupFlags& flags) {
    end_folder_turn(flags);
}
