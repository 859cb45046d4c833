// The parent's entry loop without the file system: walks the payload archive
// on an open reader exactly as the launcher consumes it, so the fuzzer drives
// the reader with the launcher's own pattern of reads.
#pragma once

#include <cstdint>

struct ArchiveWalk {
    std::uint64_t entries;
    std::uint64_t data_bytes;
};

// For every entry: the name one code unit (two bytes) per read, at most 1024
// units with the terminator; the launcher's entry-name check; the 8-byte size;
// the data in reads of at most 32768 bytes into one static buffer, discarded.
// Closes the reader after the end marker, as the parent does. Bad input ends
// in report_message or report_unsafe_entry_name with the launcher's message.
// Left out: joining the name to an extraction directory (and the stop on a
// joined path longer than 4096 units), folders and files.
ArchiveWalk walk_payload_archive();
