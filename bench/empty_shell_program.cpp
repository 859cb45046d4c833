// empty_shell_program.exe: empty_program with the launcher's second import,
// SHELL32.dll. The difference between the two start times is what loading
// the shell library (and what it pulls in) adds to every process start.
#include <windows.h>

#include <shellapi.h>

namespace {

// Keeps the import without calling it.
constinit auto volatile shell_function = &CommandLineToArgvW;

}  // namespace

extern "C" void empty_start() {
    if (shell_function == nullptr) ExitProcess(1);
    ExitProcess(0);
}
