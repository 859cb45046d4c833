// The marker a live temp-mode run holds for its whole life, so that no other
// launcher's sweep (folder_sweep.h) ever takes its folder for an ended one.
//
// The marker is a file beside the extraction folder (run_folder_name.h),
// made before the folder and removed after it, so a live run's folder never
// lies without it. The parent holds it open without delete sharing, and the
// handle is inheritable: the child holds it too, so a child that outlives
// its parent (killed where no job could end the child) keeps its folder
// live. Processes the application starts with inherited handles keep it as
// well, until they end. A process id is never used for this: the system
// hands ended processes' ids out again.
//
// Beside the folder rather than in it: the application finds exactly its own
// files in its folder, and the marker stays until the folder is gone.
#pragma once

#include <windows.h>

// Creates the marker and holds it; INVALID_HANDLE_VALUE when it cannot be
// made (one already there included). A run without a marker is never swept
// by others, so going on without one is safe.
HANDLE hold_run_marker(const wchar_t* marker);

// The marker of a run that is over, opened for deletion: it exists and
// nobody holds it any more. INVALID_HANDLE_VALUE while the run lives, and
// when there is no marker: a folder without one was not made by a run that
// marks itself, so it is never ours to judge.
HANDLE open_ended_run_marker(const wchar_t* marker);

// Closes a marker handle from either call above, deleting the marker first
// when delete_it.
void release_run_marker(HANDLE marker, bool delete_it);
