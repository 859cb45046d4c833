// Streams bytes into exactly one zstd frame with the header the launcher
// expects: frame header descriptor 0x00 (no content size, no checksum, no
// dictionary, not single-segment) and window descriptor 0x88 (2^27 bytes).
//
// Content goes in with ZSTD_e_continue only and the frame is closed on an
// empty input: a first call with ZSTD_e_end would tell zstd the whole size,
// and zstd then shrinks the window of a small archive below 2^27.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ZSTD_CCtx_s;

struct FrameCompressor {
    ZSTD_CCtx_s* context = nullptr;
    std::vector<unsigned char> frame;  // the compressed bytes so far
    std::uint64_t bytes_in = 0;
    std::string error;  // set once a call fails
};

// Level 9: with a 2^27 window it packs a 100 MB application about 3.5 to 1
// in seconds, and decodes faster than the higher levels, whose matches reach
// further back. See docs/performance.md for the figures.
inline constexpr int default_compression_level = 9;
inline constexpr int min_compression_level = 1;
inline constexpr int max_compression_level = 22;

// Workers change only the speed: zstd's output is the same for any worker
// count from one up.
bool frame_begin(FrameCompressor& compressor, int level, int workers);
bool frame_add(FrameCompressor& compressor, const void* data, std::size_t size);
// Closes the frame and checks its header bytes; releases the context.
bool frame_end(FrameCompressor& compressor);
// Releases the context without closing (after a failure).
void frame_abandon(FrameCompressor& compressor);
