// The payload block around one frame: "QZY", the frame, two zero bytes and
// the u64 LE count of the bytes before that field (3 + frame + 2). Its length,
// frame + 13, is PAYLOAD_SIZE.
#pragma once

#include <cstdint>
#include <vector>

std::vector<unsigned char> payload_block(const std::vector<unsigned char>& frame);
std::uint64_t payload_size_for_frame(std::uint64_t frame_size);
