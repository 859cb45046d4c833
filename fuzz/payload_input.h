// One fuzz input through the payload reader and the archive walker, shared by
// the libFuzzer target and the corpus replay.
//
// The first byte says how the input is read:
//   'A'    the rest is payload archive content; the harness packs it into a
//          payload block whose frame is made of raw blocks, so the walker sees
//          the mutated archive bytes unchanged;
//   other  the whole input is a payload block as the image links it (magic,
//          one zstd frame, trailer): the decoder and the reader's window rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/archive_walker.h"

inline constexpr unsigned char archive_input_mark = 'A';

struct InputOutcome {
    bool walked;          // reached the end marker
    ArchiveWalk walk;     // valid when walked
    const char* refusal;  // the launcher's message when not walked
};

InputOutcome run_payload_input(const unsigned char* data, std::size_t size);

// The payload block for archive content: magic, a frame (header descriptor
// 0x00, a 2^17-byte window) of raw blocks of at most 131072 bytes (at least
// one, the last marked), the trailer.
std::vector<unsigned char> pack_archive_in_raw_frame(const unsigned char* archive, std::size_t size);
