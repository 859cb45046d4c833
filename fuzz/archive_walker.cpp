#include "fuzz/archive_walker.h"

#include <cstddef>

#include "format/archive_walk.h"
#include "format/entry_name_rule.h"
#include "launcher/fatal_report.h"
#include "launcher/payload_reader.h"

namespace {

constexpr std::size_t chunk_size = 32768;

// Natively wchar_t is 32 bits; each archive unit is widened into it, which the
// name rule handles the same way as the launcher's 16-bit units.
constinit wchar_t entry_name[payload_layout::name_buffer_units] = {};
constinit unsigned char chunk[chunk_size] = {};

}  // namespace

ArchiveWalk walk_payload_archive() {
    ArchiveWalk walk = {0, 0};
    while (PayloadReader::read_entry_name(entry_name)) {
        if (!payload_layout::entry_name_is_safe(entry_name)) report_unsafe_entry_name(entry_name);
        std::uint64_t size = 0;
        payload_layout::read_entry_size(PayloadReader::read, size);
        payload_layout::stream_entry_data(PayloadReader::read, size, chunk, chunk_size,
                                          [](const unsigned char*, std::size_t) {});
        walk.data_bytes += size;
        ++walk.entries;
    }
    PayloadReader::close();
    return walk;
}
