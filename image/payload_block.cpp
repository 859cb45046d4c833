#include "image/payload_block.h"

#include <cstring>

#include "image/archive_writer.h"
#include "format/payload_layout.h"

std::vector<unsigned char> payload_block(const std::vector<unsigned char>& frame) {
    std::vector<unsigned char> block(payload_layout::magic_size + frame.size() + 2);
    std::memcpy(block.data(), payload_layout::magic, payload_layout::magic_size);
    if (!frame.empty()) std::memcpy(block.data() + payload_layout::magic_size, frame.data(), frame.size());
    // The two bytes of the trailer mark are the zeros resize left there.
    append_u64_le(block, block.size());
    return block;
}

std::uint64_t payload_size_for_frame(std::uint64_t frame_size) {
    return frame_size + payload_layout::block_overhead;
}
