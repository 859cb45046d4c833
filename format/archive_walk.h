// The walk through the payload archive (layout: format/payload_layout.h),
// shared by the launcher's entry loop and the fuzzer, so that the fuzzer
// drives the reader with exactly the launcher's pattern of reads: a name one
// code unit (two bytes) per read, the 8-byte size, the data in pieces of at
// most the caller's buffer.
//
// read(destination, count) must deliver exactly count bytes or not return.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/payload_layout.h"

namespace payload_layout {

enum class NameRead {
    entry,       // a name, zero-terminated in the buffer
    end_marker,  // the end of the archive
    too_long,    // no terminator within name_buffer_units units
};

// Reads one name into name (name_buffer_units units). A name that would not
// fit is refused before any of it is used.
template <typename Unit, typename Read>
NameRead read_entry_name(Read&& read, Unit* name) {
    for (std::size_t length = 0;; ++length) {
        if (length == name_buffer_units) return NameRead::too_long;
        std::uint16_t unit = 0;
        read(&unit, sizeof unit);
        name[length] = static_cast<Unit>(unit);
        if (unit == 0) return length == 0 ? NameRead::end_marker : NameRead::entry;
    }
}

inline std::uint64_t read_entry_size(auto&& read) {
    std::uint64_t size = 0;
    read(&size, sizeof size);
    return size;
}

// Hands an entry's size bytes to put(buffer, count) in pieces of at most
// buffer_size bytes, all through the one buffer.
template <typename Read, typename Put>
void stream_entry_data(Read&& read, std::uint64_t size, unsigned char* buffer, std::size_t buffer_size, Put&& put) {
    for (std::uint64_t remaining = size; remaining > 0;) {
        std::size_t chunk = remaining < buffer_size ? static_cast<std::size_t>(remaining) : buffer_size;
        read(buffer, chunk);
        put(buffer, chunk);
        remaining -= chunk;
    }
}

}  // namespace payload_layout
