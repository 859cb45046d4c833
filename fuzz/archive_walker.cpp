#include "fuzz/archive_walker.h"

#include <cstddef>

#include "image/payload_format.h"
#include "launcher/extraction.h"
#include "launcher/fatal_report.h"
#include "launcher/payload_reader.h"

namespace {

constexpr std::size_t chunk_size = 32768;

// Natively wchar_t is 32 bits; each archive unit is widened into it, which the
// name check handles the same way as the launcher's 16-bit units.
constinit wchar_t entry_name[payload_format::name_buffer_units] = {};
constinit unsigned char chunk[chunk_size] = {};

// The launcher's read_entry_name: false at the end marker.
bool read_entry_name() {
    for (std::size_t length = 0;; ++length) {
        if (length == payload_format::name_buffer_units) {
            report_message("Error, attached data holds an entry name that is too long.");
        }
        std::uint16_t unit = 0;
        PayloadReader::read(&unit, sizeof unit);
        entry_name[length] = unit;
        if (unit == 0) return length != 0;
    }
}

std::uint64_t discard_entry_data() {
    std::uint64_t size = 0;
    PayloadReader::read(&size, sizeof size);
    for (std::uint64_t remaining = size; remaining > 0;) {
        std::uint64_t n = remaining < chunk_size ? remaining : chunk_size;
        PayloadReader::read(chunk, n);
        remaining -= n;
    }
    return size;
}

}  // namespace

ArchiveWalk walk_payload_archive() {
    ArchiveWalk walk = {0, 0};
    while (read_entry_name()) {
        if (!entry_name_is_safe(entry_name)) report_unsafe_entry_name(entry_name);
        walk.data_bytes += discard_entry_data();
        ++walk.entries;
    }
    PayloadReader::close();
    return walk;
}
