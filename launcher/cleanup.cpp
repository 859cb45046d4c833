#include "launcher/cleanup.h"

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
// deletion_busy: the two threads may both reach the deletion (a console event
// just as the child ends). A second caller waits until the first pass is over
// and then makes its own pass, which finds the directory gone after one
// delete call. Waiting instead of skipping keeps the main thread from ending
// the process (exit with the child's code) half-way through the handler's
// deletion.

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

void take_deletion_turn(CleanupFlags& flags) {
    // Not through the seam: this wait is no part of the retry timing.
    while (InterlockedCompareExchange(&flags.deletion_busy, 1, 0) != 0) Sleep(1);
}

void end_deletion_turn(CleanupFlags& flags) {
    InterlockedExchange(&flags.deletion_busy, 0);
}

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
    end_child_in_slot(state.cleanup);
    if (!extraction_has_started(state.cleanup)) return;
    take_deletion_turn(state.cleanup);
    delete_extraction_directory(state.extraction_directory);
    end_deletion_turn(state.cleanup);
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
