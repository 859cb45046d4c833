// The payload block and the payload archive: the contract between the packer
// (image/, host side), the launcher (launcher/payload_reader.cpp and its entry
// loop) and the fuzzer. Everything both sides must agree on lives in format/:
// this layout, the entry-name rule (entry_name_rule.h) and the archive walk
// (archive_walk.h). format/ depends on nothing but the C++ headers.
//
// Payload block, linked into the image's read-only data:
//
//   offset   size  field
//   0        3     magic "QZY" (0x51 0x5A 0x59)
//   3        N     exactly one zstd frame; its content is the payload archive
//   3+N      2     trailer mark: two zero bytes
//   5+N      8     trailer length: u64 LE, 5 + N (the block bytes before it)
//
// The block is N + 13 bytes; that length is PAYLOAD_SIZE. The frame as the
// packer writes it: frame header descriptor 0x00 (no content size, no
// checksum, no dictionary), window descriptor 0x88 (2^27 bytes). The launcher
// never raises the decoder's window limit, so a frame needing more than 2^27
// bytes is refused.
//
// Why the trailer exists. The launcher never reads its values, but its bytes
// lie inside the decoder's input: the first two are zero, so they can never
// read as a frame's magic number, and any decode call made after the frame
// has ended fails ("couldn't decode attached data") instead of finding a
// second frame. An archive without its end marker, or whose last entry claims
// more bytes than the frame holds, ends in that message. The length field lets
// a tool that holds only the end of a block (the image check, a reader of the
// built .exe) find where the block begins.
//
// Why there is no checksum. The block is linked into the image's read-only
// data and reached through its address; it is never read from the file, so it
// cannot be damaged between the loader and the reader except by what damages
// the code too. The decoder checks the frame's structure and the archive walk
// every name and size against what the frame holds. A zstd content checksum
// would cost a pass over every decoded byte at every start and guard against
// nothing that these do not.
//
// Payload archive (the frame's content): entries, then the end marker.
//
//   name        2k bytes, k >= 1   UTF-16LE code units, none zero; '\' separates
//   terminator  2 bytes            0x0000
//   size        8 bytes            u64 LE
//   data        size bytes
//
//   end marker: one zero code unit where the next name would begin.
//
// Names are relative (no drive, no leading '\', no "." or ".." components, no
// ':'), at most 1023 code units. The first entry is the application library,
// a DLL exporting run_code.
#pragma once

#include <cstdint>

namespace payload_layout {

inline constexpr unsigned char magic[3] = {0x51, 0x5A, 0x59};
inline constexpr std::uint64_t magic_size = 3;
inline constexpr std::uint64_t trailer_size = 10;
inline constexpr std::uint64_t block_overhead = magic_size + trailer_size;
inline constexpr unsigned frame_header_descriptor = 0x00;
inline constexpr unsigned window_descriptor = 0x88;
inline constexpr int window_log = 27;
inline constexpr std::uint64_t max_name_units = 1023;
inline constexpr std::uint64_t name_buffer_units = max_name_units + 1;

}  // namespace payload_layout
