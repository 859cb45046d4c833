// The fuzz build's fatal reporting. The launcher ends the process on every bad
// input; a fuzzer must go on to the next input, so here each report jumps back
// to the point armed by the harness, remembering the message.
#pragma once

#include <csetjmp>

// Armed with setjmp by run_payload_input before it touches the reader.
extern std::jmp_buf refusal_point;

// The message of the last report, or nullptr when none was made since the
// last clear_refusal().
const char* last_refusal();
void clear_refusal();
