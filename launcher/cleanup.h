// Cleanup of the extraction directory and the console control handler.
//
// cleanup_on_exit runs on the main thread at the end of the launch and on the
// thread Windows creates for a console event; the two may overlap. What they
// share (RunState::cleanup) and how it is kept safe is described in
// cleanup.cpp.
#pragma once

#include <windows.h>

#include "launcher/run_state.h"

// How long a console event leaves the child to end by itself.
constexpr DWORD child_grace_milliseconds = 5000;
// Exit code given to a child still running after the grace: the code Windows
// gives a process ended by Ctrl-C, so neither the child nor the parent that
// passes its code on looks as if it succeeded.
constexpr UINT interrupted_exit_code = 0xC000013A;

// Arms the cleanup: from now on the extraction directory is this run's and is
// deleted at the end.
void mark_extraction_started(CleanupFlags& flags);
bool extraction_has_started(CleanupFlags& flags);

// True once an interrupt, break, close, log-off or shut-down event reached the
// handler. The launch step then never passes on a child's 0: a child that
// handled the event and ended "successfully" still leaves an interrupted run.
bool console_event_arrived(CleanupFlags& flags);

// Ends a child still in the slot (after the grace), then, once extraction has
// begun, deletes the extraction directory: at most 21 tries, 100 ms apart,
// each one our own tree removal (long paths, links removed and never followed).
// Then releases the liveness marker, deleting it once the folder is gone; a
// folder that stays keeps its marker, held by nobody, so that a later start's
// sweep removes it. Never prints and never fails.
void cleanup_on_exit(RunState& state);
// Interrupt, break, close, log-off and shut-down run cleanup_on_exit on the
// registered run state (register_run_state); other types nothing. Always
// FALSE, so the default handler then ends the process.
BOOL WINAPI console_control_handler(DWORD type);

// From the moment the parent has made its folder, every orderly end of the
// process (a reported failure, a limit reached: any exit) runs
// cleanup_on_exit on the registered run state first, so a run that fails
// half-way leaves nothing behind; a removal the console handler has begun is
// waited for, never cut short. The launch disarms it when its own cleanup is
// done. Parent only.
void arm_cleanup_at_exit(CleanupFlags& flags);
void disarm_cleanup_at_exit(CleanupFlags& flags);

// Where the main thread finds that a console event has arrived, it starts
// nothing more: it joins the handler's cleanup and ends the process with
// interrupted_exit_code.
[[noreturn]] void stop_interrupted_run(RunState& state);

// The main thread makes the folder and each entry in it, and starts the
// child, between these two, in turn with the cleanup: a console handler that
// comes in between cleans up once the entry is closed or the child is in its
// slot, and enter stops the run instead once an event has arrived. So
// nothing is made in the folder, and no child started, after the cleanup has
// begun. Main thread only.
void enter_folder_change(RunState& state);
void leave_folder_change(CleanupFlags& flags);
