// Cleanup of the extraction directory and the console control handler.
#pragma once

#include <windows.h>

// The child's process handle while it runs, else null. Handed between the main
// thread and the console handler thread by interlocked exchange: whoever takes
// it out of the slot owns it and closes it.
extern HANDLE volatile child_process;
// Set once, just before the first entry is read.
extern volatile bool extraction_started;

void cleanup_on_exit();
BOOL WINAPI console_control_handler(DWORD type);
