#include "launcher/cleanup.h"

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
// deletion_busy: the two threads may both reach the deletion (a console event
// just as the child ends). A second caller waits until the first pass is over
// and then makes its own pass, which finds the directory gone after one
// delete call. Waiting instead of skipping keeps the main thread from ending
// the process (exit with the child's code) half-way through the handler's
// deletion.
constinit HANDLE volatile child_process = nullptr;
constinit volatile bool extraction_started = false;

namespace {

constinit volatile LONG deletion_busy = 0;
constinit volatile LONG console_event_seen = 0;

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

void take_deletion_turn() {
    // Not through the seam: this wait is no part of the retry timing.
    while (InterlockedCompareExchange(&deletion_busy, 1, 0) != 0) Sleep(1);
}

void end_deletion_turn() {
    InterlockedExchange(&deletion_busy, 0);
}

}  // namespace

void cleanup_on_exit() {
    end_child_in_slot();
    if (!extraction_started) return;
    take_deletion_turn();
    delete_extraction_directory();
    end_deletion_turn();
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
