// The job object that ties the child's life to the parent's: when the
// parent ends in any way (TerminateProcess from outside, a crash, a normal
// end), the system closes its handle to the job, and closing the last handle
// ends every process still in the job, the child included.
//
// Processes the application starts leave the job silently: a browser, an
// updater or a detached helper it leaves running is none of the launcher's
// business and keeps running after the application and the launcher end.
#pragma once

#include <windows.h>

// Puts the running child into a new job as above and returns the job's
// handle, which the caller keeps open as long as it lives and never lets a
// child inherit. Null when the system refuses (an outer job that forbids
// it, for example): the child then runs without one, as it always could.
HANDLE enclose_child_in_job(HANDLE child);
