// The payload stream reader: checks the magic, owns the zstd decompression
// context and one 131,072-byte window, and hands out the archive front to
// back in pieces of any size. Free of Windows headers, so the same source
// builds natively for fuzzing.
#pragma once

#include <cstdint>

// The linked payload block and its length (the generated image object).
extern "C" const unsigned char onefile_payload_block[];
extern "C" const std::uint64_t PAYLOAD_SIZE;

namespace PayloadReader {

inline constexpr std::uint64_t window_size = 131072;

// Opens the reader on the linked block.
void open();
// Opens the reader on any block (tests, fuzzing, benchmarks).
void open_block(const unsigned char* block, std::uint64_t size);
// Exactly count bytes into destination, or the process ends.
void read(void* destination, std::uint64_t count);
void close();

// Reads the next archive name into name (payload_layout::name_buffer_units
// units, zero-terminated) as the launcher's entry loop does: one code unit per
// read. False at the end marker; a name without a terminator within the
// buffer ends the process with "Error, attached data holds an entry name that
// is too long." before any of it is used.
bool read_entry_name(wchar_t* name);

// Number of decompression calls made since open (tests observe the window rule).
std::uint64_t decompression_calls();

}  // namespace PayloadReader
