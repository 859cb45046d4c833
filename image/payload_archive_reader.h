// Reading a payload block back on the host: the frame decoded as a stream and
// the archive walked entry by entry by the launcher's own walk
// (format/archive_walk.h), under the launcher's limits (window at
// most 2^27 bytes, names at most max_name_units, the packer's name rule), so
// what this reader accepts the launcher unpacks. Memory stays bounded by the
// decoder's window whatever the archive's size.
#pragma once

#include <zstd.h>

#include <cstdint>
#include <string>
#include <vector>

struct ArchiveReader {
    const unsigned char* frame = nullptr;
    std::uint64_t frame_size = 0;
    ZSTD_DCtx* decoder = nullptr;
    ZSTD_inBuffer input{};
    std::vector<unsigned char> window;
    std::size_t window_pos = 0;
    std::size_t window_end = 0;
    bool frame_done = false;  // the decoder reported the frame's end
};

struct ArchiveEntryHeader {
    std::u16string name;
    std::uint64_t size = 0;
};

// Checks the magic and the trailer of a block and starts decoding its frame.
// The block must outlive the reader.
bool open_archive_reader(const unsigned char* block, std::uint64_t block_size, ArchiveReader& reader,
                         std::string& error);

// The next entry's name and size; false with end set after the end marker,
// false with error for a broken archive or a name the launcher refuses.
bool next_archive_entry(ArchiveReader& reader, ArchiveEntryHeader& entry, bool& end, std::string& error);

// Exactly count bytes of the current entry's data.
bool read_archive_bytes(ArchiveReader& reader, unsigned char* out, std::uint64_t count, std::string& error);
bool skip_archive_bytes(ArchiveReader& reader, std::uint64_t count, std::string& error);

// After the end marker: the frame must end there and fill the block up to
// its trailer.
bool finish_archive(ArchiveReader& reader, std::string& error);

void close_archive_reader(ArchiveReader& reader);
