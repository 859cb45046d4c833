// The image's entry routine: the runtime layer's start-up calls wWinMain after
// splitting the command line; its four parameters are not used.
#include <windows.h>
#include <stdlib.h>

#include "launcher/main_sequence.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The one run state of the process: zero-filled, no constructor runs.
    static constinit RunState state = {};
    return run_main_sequence(state, __argc, __wargv);
}
