#include "support/run_state_fixture.h"

namespace run_state_fixture {

RunState& shared_run_state() {
    static RunState state = {};
    return state;
}

RunState& fresh_run_state() {
    RunState& state = shared_run_state();
    reset_run_state(state);
    register_run_state(&state);
    return state;
}

}  // namespace run_state_fixture
