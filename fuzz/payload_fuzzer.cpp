// libFuzzer entry: every input goes through the payload reader and the
// archive walker (see payload_input.h for how the first byte is read).
#include <cstddef>
#include <cstdint>

#include "fuzz/payload_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    run_payload_input(data, size);
    return 0;
}
