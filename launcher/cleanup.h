// Cleanup of the extraction directory and the console control handler.
//
// cleanup_on_exit runs on the main thread at the end of the launch and on the
// thread Windows creates for a console event; the two may overlap. What they
// share and how it is kept safe is described in cleanup.cpp.
#pragma once

#include <windows.h>

// The child's process handle while it runs, else null. Handed between the main
// thread and the console handler thread by interlocked exchange: whoever takes
// it out of the slot owns it and closes it. The main thread waits on a handle
// of its own (see launch_child), never on this one.
extern HANDLE volatile child_process;
// Set once, when the parent has made the extraction directory, so the
// cleanup never deletes a folder that this run did not make.
extern volatile bool extraction_started;
// The parent's handle on its liveness marker (run_marker.h), null when it
// holds none. Whoever takes it out of the slot releases it.
extern HANDLE volatile run_marker;

// How long a console event leaves the child to end by itself.
constexpr DWORD child_grace_milliseconds = 5000;
// Exit code given to a child still running after the grace: the code Windows
// gives a process ended by Ctrl-C, so neither the child nor the parent that
// passes its code on looks as if it succeeded.
constexpr UINT interrupted_exit_code = 0xC000013A;

// True once an interrupt, break, close, log-off or shut-down event reached the
// handler. The launch step then never passes on a child's 0: a child that
// handled the event and ended "successfully" still leaves an interrupted run.
bool console_event_arrived();
// Tests only: a fresh process state between cases.
void forget_console_event();

// Ends a child still in the slot (after the grace), then, once extraction has
// begun, deletes the extraction directory: at most 21 tries, 100 ms apart,
// each one our own tree removal (long paths, links removed and never followed).
// Then releases the liveness marker, deleting it once the folder is gone; a
// folder that stays keeps its marker, held by nobody, so that a later start's
// sweep removes it. Never prints and never fails.
void cleanup_on_exit();
// Interrupt, break, close, log-off and shut-down run cleanup_on_exit; other
// types nothing. Always FALSE, so the default handler then ends the process.
BOOL WINAPI console_control_handler(DWORD type);

// From the moment the parent has made its folder, every orderly end of the
// process (a reported failure, a limit reached: any exit) runs
// cleanup_on_exit first, so a run that fails half-way leaves nothing behind.
// A removal the console handler has begun is waited for, never cut short.
// The launch step disarms it when its own cleanup is done. Parent only.
void arm_cleanup_at_exit();
void disarm_cleanup_at_exit();

// Where the main thread finds that a console event has arrived, it starts
// nothing more: it joins the handler's cleanup and ends the process with
// interrupted_exit_code.
[[noreturn]] void stop_interrupted_run();

// The main thread makes the folder and each entry in it, and starts the
// child, between these two, in turn with the cleanup: a console handler that
// comes in between cleans up once the entry is closed or the child is in its
// slot, and enter stops the run instead once an event has arrived. So
// nothing is made in the folder, and no child started, after the cleanup has
// begun. Main thread only.
void enter_folder_change();
void leave_folder_change();
