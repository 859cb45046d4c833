// Ending the process: the orderly exit and the fail-fast abort.
#include "runtime/runtime.h"

#include <windows.h>

namespace {

using ExitHandler = void (*)();
constinit ExitHandler exit_handlers[rt_exit_handler_limit] = {};
constinit int exit_handler_count = 0;

}  // namespace

int rt_atexit(void (*handler)()) {
    if (exit_handler_count == rt_exit_handler_limit) return -1;
    exit_handlers[exit_handler_count++] = handler;
    return 0;
}

[[noreturn]] void rt_exit(int code) {
    // Taken off the list before it runs, so a handler that exits again does
    // not run twice.
    while (exit_handler_count > 0) exit_handlers[--exit_handler_count]();
    rt_flush(&rt_standard_output);
    // The code is the process's exit status bit for bit: a child's 0x80000001
    // passed on by the parent must arrive as 0x80000001.
    ExitProcess(static_cast<UINT>(code));
}

[[noreturn]] void rt_abort() {
    // __fastfail(FAST_FAIL_FATAL_APP_EXIT), which mingw's headers lack: the
    // system ends the process at once, runs no handler, and reports
    // STATUS_STACK_BUFFER_OVERRUN (0xC0000409).
    constexpr unsigned long fast_fail_fatal_app_exit = 7;
    __asm__ volatile("int $0x29" : : "c"(fast_fail_fatal_app_exit) : "memory");
    // Not reached where fail-fast exists; elsewhere, end with the same code.
    TerminateProcess(GetCurrentProcess(), 0xC0000409);
    for (;;) {
    }
}
