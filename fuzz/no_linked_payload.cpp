// The image links a payload block beside the launcher objects; natively there
// is none. The harness opens its inputs with PayloadReader::open_block, so
// PayloadReader::open only needs these symbols to link: an empty block, which
// it would refuse with the header message.
#include <cstdint>

extern "C" const unsigned char onefile_payload_block[1] = {0};
extern "C" const std::uint64_t PAYLOAD_SIZE = 0;
