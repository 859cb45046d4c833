#include "launcher/run_state.h"

#include <cstdlib>
#include <cstring>

#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

// Read by the console handler thread, written by the main thread.
constinit RunState* volatile registered_state = nullptr;

}  // namespace

const wchar_t* launcher_module_path(RunState& state) {
    if (state.module_path[0] == L'\0') {
        DWORD length = sys.GetModuleFileNameW(nullptr, state.module_path, module_path_capacity);
        if (length == 0) abort();
        // A full buffer means the path was cut: never compare or start a cut path.
        if (length >= module_path_capacity) {
            state.module_path[0] = L'\0';
            stop_at_limit("executable path");
        }
    }
    return state.module_path;
}

void register_run_state(RunState* state) {
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&registered_state), state);
}

RunState* registered_run_state() {
    return static_cast<RunState*>(
        InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&registered_state), nullptr, nullptr));
}

void reset_run_state(RunState& state) {
    for (std::size_t i = 0; i < state.directories.count; ++i) free(state.directories.entries[i]);
    memset(&state, 0, sizeof state);
}
