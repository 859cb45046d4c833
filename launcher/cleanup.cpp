#include "launcher/cleanup.h"

#include <stdlib.h>

#include "launcher/extraction.h"
#include "launcher/run_marker.h"
#include "paths/path_normalise.h"  // extraction_directory
#include "platform/system_calls.h"

// State shared by the main thread and the console handler thread.
//
// child_process: one of the two handles launch_child holds on the child (the
// main thread waits on the other, which nobody else ever sees). Whichever
// thread takes this one out of the slot with an interlocked exchange owns it
// and closes it, so it is closed exactly once and never while someone else
// still uses it: the handler takes it to wait for the grace and terminate; the
// main thread takes it after its own wait, only to close it.
//
// extraction_started: written once by the main thread, right after it made
// the extraction directory; read on either thread.
//
// folder_turn_owner: the thread whose turn it is to change the folder (0:
// nobody's). The two threads may both reach the deletion (a console event
// just as the child ends). A second caller waits until the first pass is over
// and then makes its own pass, which finds the directory gone after one
// delete call. Waiting instead of skipping keeps the main thread from ending
// the process (exit with the child's code) half-way through the handler's
// deletion. The main thread also makes every entry of the folder in its turn
// (enter_folder_change), so nothing is made after the handler's deletion has
// begun. A thread may take its own turn again (an exit half-way through an
// entry runs the cleanup in the turn it holds).
constinit HANDLE volatile child_process = nullptr;
constinit volatile bool extraction_started = false;
constinit HANDLE volatile run_marker = nullptr;

namespace {

constinit volatile LONG folder_turn_owner = 0;
constinit int folder_turn_depth = 0;  // written by the owner only
constinit volatile LONG console_event_seen = 0;
constinit volatile LONG cleanup_at_exit_armed = 0;
constinit bool cleanup_at_exit_registered = false;  // main thread only

constexpr int delete_retries = 20;
constexpr DWORD retry_pause_milliseconds = 100;

void end_child_in_slot() {
    HANDLE child = InterlockedExchangePointer(&child_process, nullptr);
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
void request_deletion() {
    sys.remove_directory_tree(extraction_directory);
}

bool directory_still_there() {
    DWORD attributes = sys.GetFileAttributesW(extraction_directory);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void delete_extraction_directory() {
    request_deletion();
    for (int retry = 0; retry < delete_retries; ++retry) {
        if (!directory_still_there()) return;
        sys.Sleep(retry_pause_milliseconds);
        request_deletion();
    }
    // Left behind without a word: a file in it may still be open, or content
    // lies deeper than the removal goes (see tree_removal.h).
}

void release_marker_in_slot() {
    HANDLE marker = InterlockedExchangePointer(&run_marker, nullptr);
    if (marker == nullptr) return;
    release_run_marker(marker, !directory_still_there());
}

void take_folder_turn() {
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (folder_turn_owner != self) {
        // Not through the seam: this wait is no part of the retry timing.
        while (InterlockedCompareExchange(&folder_turn_owner, self, 0) != 0) Sleep(1);
    }
    ++folder_turn_depth;
}

void end_folder_turn() {
    if (--folder_turn_depth == 0) InterlockedExchange(&folder_turn_owner, 0);
}

// Runs on the thread that calls exit: the main thread.
void cleanup_if_armed() {
    if (InterlockedExchange(&cleanup_at_exit_armed, 0) == 0) return;
    close_file_being_written();
    cleanup_on_exit();
}

}  // namespace

void cleanup_on_exit() {
    // The child too is started in the main thread's turn: a child in the
    // slot is seen here, and no child is started after this.
    take_folder_turn();
    end_child_in_slot();
    if (extraction_started) delete_extraction_directory();
    release_marker_in_slot();
    end_folder_turn();
}

bool console_event_arrived() {
    return InterlockedCompareExchange(&console_event_seen, 0, 0) != 0;
}

void forget_console_event() {
    InterlockedExchange(&console_event_seen, 0);
}

BOOL WINAPI console_control_handler(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            InterlockedExchange(&console_event_seen, 1);
            cleanup_on_exit();
            break;
        default:
            break;
    }
    // Passed on: the default handler ends the launcher with 0xC000013A.
    return FALSE;
}

void arm_cleanup_at_exit() {
    InterlockedExchange(&cleanup_at_exit_armed, 1);
    // Registered once: a full list would leave only the sweep to remove the folder.
    if (!cleanup_at_exit_registered) cleanup_at_exit_registered = atexit(cleanup_if_armed) == 0;
}

void disarm_cleanup_at_exit() {
    InterlockedExchange(&cleanup_at_exit_armed, 0);
}

void stop_interrupted_run() {
    disarm_cleanup_at_exit();
    close_file_being_written();
    cleanup_on_exit();
    exit(static_cast<int>(interrupted_exit_code));
}

void enter_folder_change() {
    take_folder_turn();
    if (console_event_arrived()) stop_interrupted_run();
}

void leave_folder_change() {
    end_folder_turn();
}
