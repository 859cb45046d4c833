// empty_program.exe: a GUI-subsystem program that ends at once. Started from
// bench_harness, its start-to-exit time is the floor of one process start
// under this system; a launcher run starts two processes (parent and child).
//
// No C runtime: like the launcher image it imports from KERNEL32.dll only
// what it calls, so the figure holds no start-up work of a library.
#include <windows.h>

extern "C" void empty_start() {
    ExitProcess(0);
}
