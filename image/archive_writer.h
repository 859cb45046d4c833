// The payload archive's byte layout (see format/payload_layout.h): per entry
// the UTF-16LE name, a zero code unit, the u64 LE size and the data; then the
// end marker.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Name, terminator and size field of one entry.
std::vector<unsigned char> entry_header(std::u16string_view name, std::uint64_t size);
// The end marker: one zero code unit.
std::vector<unsigned char> end_marker();
void append_u64_le(std::vector<unsigned char>& out, std::uint64_t value);
