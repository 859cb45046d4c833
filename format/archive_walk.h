// The walk through the payload archive (layout: format/payload_layout.h),
// shared by the launcher's entry loop and the fuzzer, so that the fuzzer
// drives the reader with exactly the launcher's pattern of reads: a name one
// code unit (two bytes) per read, the 8-byte size, the data in pieces of at
// most the caller's buffer.
//
// The host's reader of a built exe walks the same way. Units and sizes are
// read in the machine's byte order, little-endian on every side that runs it.
//
// read(destination, count) delivers exactly count bytes. It either returns
// nothing and does not return at all when it cannot (the launcher, the
// fuzzer: their reader ends the process), or returns false when it cannot
// (the host's reader, which reports why); the walk then stops at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "format/payload_layout.h"

namespace payload_layout {

enum class NameRead {
    entry,        // a name, zero-terminated in the buffer
    end_marker,   // the end of the archive
    too_long,     // no terminator within name_buffer_units units
    read_failed,  // read returned false (only a read that can return false)
};

template <typename Read>
bool read_exactly(Read&& read, void* destination, std::size_t count) {
    if constexpr (std::is_void_v<decltype(read(destination, count))>) {
        read(destination, count);
        return true;
    } else {
        return read(destination, count);
    }
}

// Reads one name into name (name_buffer_units units). A name that would not
// fit is refused before any of it is used.
template <typename Unit, typename Read>
NameRead read_entry_name(Read&& read, Unit* name) {
    for (std::size_t length = 0;; ++length) {
        if (length == name_buffer_units) return NameRead::too_long;
        std::uint16_t unit = 0;
        if (!read_exactly(read, &unit, sizeof unit)) return NameRead::read_failed;
        name[length] = static_cast<Unit>(unit);
        if (unit == 0) return length == 0 ? NameRead::end_marker : NameRead::entry;
    }
}

// False when read returned false.
template <typename Read>
bool read_entry_size(Read&& read, std::uint64_t& size) {
    size = 0;
    return read_exactly(read, &size, sizeof size);
}

// Hands an entry's size bytes to put(buffer, count) in pieces of at most
// buffer_size bytes, all through the one buffer. False when read returned
// false.
template <typename Read, typename Put>
bool stream_entry_data(Read&& read, std::uint64_t size, unsigned char* buffer, std::size_t buffer_size, Put&& put) {
    for (std::uint64_t remaining = size; remaining > 0;) {
        std::size_t chunk = remaining < buffer_size ? static_cast<std::size_t>(remaining) : buffer_size;
        if (!read_exactly(read, buffer, chunk)) return false;
        put(buffer, chunk);
        remaining -= chunk;
    }
    return true;
}

}  // namespace payload_layout
