// The image's entry point, in place of the toolchain's start-up code: no global
// constructors, no TLS callbacks, no CRT, just what the launcher needs before
// wWinMain: the argument count and wide argument vector.
#include "runtime/runtime.h"

#include <windows.h>

constinit int rt_argument_count = 0;
constinit wchar_t** rt_argument_vector = nullptr;

extern "C" [[noreturn]] void rt_start() {
    const wchar_t* command_line = GetCommandLineW();
    rt_argument_vector = rt_split_command_line(command_line, &rt_argument_count);
    // Only a heap that cannot hold the command line gets here: nothing can run.
    if (rt_argument_vector == nullptr) rt_abort();
    rt_exit(wWinMain(GetModuleHandleW(nullptr), nullptr, rt_command_line_tail(command_line), SW_SHOWDEFAULT));
}
