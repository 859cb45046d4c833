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
// Never prints and never fails.
void cleanup_on_exit(RunState& state);
// Interrupt, break, close, log-off and shut-down run cleanup_on_exit on the
// registered run state (register_run_state); other types nothing. Always
// FALSE, so the default handler then ends the process.
BOOL WINAPI console_control_handler(DWORD type);
