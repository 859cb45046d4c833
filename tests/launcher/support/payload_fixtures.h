// Payload blocks for the reader and extraction tests: archives built from
// entries, compressed the way the build does it (window 2^27, no content size,
// no checksum), framed with the magic and the trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace payload_fixtures {

using Bytes = std::vector<unsigned char>;

struct Entry {
    std::wstring name;
    Bytes data;
};

void append_name(Bytes& archive, const std::wstring& name);  // UTF-16LE and the zero unit
void append_u64(Bytes& out, std::uint64_t value);            // little-endian
void append_end_marker(Bytes& archive);
// Every entry, then the end marker.
Bytes archive_of(const std::vector<Entry>& entries);

// One zstd frame holding content: header descriptor 0x00, window descriptor 0x88.
Bytes compress_frame(const Bytes& content, int level = 3);
// "QZY", frame, 00 00, then 5 + N as u64: what the build links into the image.
Bytes block_of(const Bytes& frame);
Bytes block_of_archive(const Bytes& archive, int level = 3);
// "QZY" and the frame with no trailer.
Bytes block_without_trailer(const Bytes& frame);

// A skippable frame carrying size bytes of zeros.
Bytes skippable_frame(std::uint32_t size);
// Offsets in frame just past the header and past each block.
std::vector<std::size_t> frame_block_ends(const Bytes& frame);
// Offset of the window descriptor in a block (3 for the magic, 4 for the frame magic, 1 for the header descriptor).
constexpr std::size_t window_descriptor_offset = 8;

// Reproducible content: random bytes (stored in raw blocks), and a mixture of
// text, runs of one byte and random stretches (compressed, RLE and raw blocks).
Bytes random_bytes(std::size_t size, std::uint32_t seed);
Bytes mixed_bytes(std::size_t size, std::uint32_t seed);

}  // namespace payload_fixtures
