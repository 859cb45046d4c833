// The one run state the launcher tests work on: large, so it lives once per
// test executable; fresh_run_state() gives every case the state of a process
// that has not started, registered for the console handler.
#pragma once

#include "launcher/run_state.h"

namespace run_state_fixture {

RunState& shared_run_state();
RunState& fresh_run_state();

}  // namespace run_state_fixture
