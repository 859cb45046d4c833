// The two reporting operations the reader and the name check reach, as jumps.
// The others belong to file writing and path expansion, which the harness
// leaves out; a link error says so if that ever changes.
#include "fuzz/refusal.h"

#include "launcher/fatal_report.h"

std::jmp_buf refusal_point;

namespace {

const char* refusal = nullptr;

constexpr char unsafe_name[] = "Error, attached data holds an unsafe entry name.";

[[noreturn]] void refuse(const char* text) {
    refusal = text;
    std::longjmp(refusal_point, 1);
}

}  // namespace

const char* last_refusal() {
    return refusal;
}
void clear_refusal() {
    refusal = nullptr;
}

void report_message(const char* text) {
    refuse(text);
}
// The name itself is not kept: it lives in the walker's buffer, which the
// next input overwrites.
void report_unsafe_entry_name(const wchar_t*) {
    refuse(unsafe_name);
}
