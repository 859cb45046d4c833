#include "image/payload_archive_reader.h"

#include <algorithm>
#include <cstring>

#include "format/archive_walk.h"
#include "image/app_folder.h"

namespace {

constexpr std::size_t window_bytes = 1 << 17;

std::uint64_t u64_le(const unsigned char* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

// Refills the window; false at the frame's end with nothing left.
bool refill(ArchiveReader& reader, std::string& error) {
    while (reader.window_pos == reader.window_end) {
        if (reader.frame_done) return false;
        ZSTD_outBuffer output{reader.window.data(), reader.window.size(), 0};
        const std::size_t result = ZSTD_decompressStream(reader.decoder, &output, &reader.input);
        if (ZSTD_isError(result)) {
            error = std::string("the payload frame does not decode: ") + ZSTD_getErrorName(result);
            return false;
        }
        reader.window_pos = 0;
        reader.window_end = output.pos;
        if (result == 0) {
            reader.frame_done = true;
        } else if (output.pos == 0 && reader.input.pos == reader.input.size) {
            error = "the payload frame is cut short";
            return false;
        }
    }
    return true;
}

bool read_or_fail(ArchiveReader& reader, unsigned char* out, std::uint64_t count, const char* what,
                  std::string& error) {
    while (count > 0) {
        if (!refill(reader, error)) {
            if (error.empty()) error = std::string("the payload archive ends inside ") + what;
            return false;
        }
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, reader.window_end - reader.window_pos));
        if (out != nullptr) {
            std::memcpy(out, reader.window.data() + reader.window_pos, take);
            out += take;
        }
        reader.window_pos += take;
        count -= take;
    }
    return true;
}

}  // namespace

bool open_archive_reader(const unsigned char* block, std::uint64_t block_size, ArchiveReader& reader,
                         std::string& error) {
    close_archive_reader(reader);
    if (block_size < payload_layout::block_overhead ||
        std::memcmp(block, payload_layout::magic, payload_layout::magic_size) != 0) {
        error = "the payload block does not begin with its magic";
        return false;
    }
    const unsigned char* trailer = block + block_size - payload_layout::trailer_size;
    if (trailer[0] != 0 || trailer[1] != 0 || u64_le(trailer + 2) != block_size - 8) {
        error = "the payload block's trailer does not match its length";
        return false;
    }
    reader.frame = block + payload_layout::magic_size;
    reader.frame_size = block_size - payload_layout::block_overhead;
    reader.decoder = ZSTD_createDCtx();
    if (reader.decoder == nullptr ||
        ZSTD_isError(ZSTD_DCtx_setParameter(reader.decoder, ZSTD_d_windowLogMax, payload_layout::window_log))) {
        error = "cannot make a zstd decoder";
        close_archive_reader(reader);
        return false;
    }
    reader.input = ZSTD_inBuffer{reader.frame, static_cast<std::size_t>(reader.frame_size), 0};
    reader.window.resize(window_bytes);
    return true;
}

bool next_archive_entry(ArchiveReader& reader, ArchiveEntryHeader& entry, bool& end, std::string& error) {
    end = false;
    entry = ArchiveEntryHeader{};
    const char* inside = "a name";
    auto read = [&](void* destination, std::size_t count) {
        return read_or_fail(reader, static_cast<unsigned char*>(destination), count, inside, error);
    };
    char16_t name[payload_layout::name_buffer_units];
    switch (payload_layout::read_entry_name(read, name)) {
        case payload_layout::NameRead::read_failed:
            return false;
        case payload_layout::NameRead::too_long:
            error =
                "an entry name is longer than " + std::to_string(payload_layout::max_name_units) + " UTF-16 code units";
            return false;
        case payload_layout::NameRead::end_marker:
            end = true;
            return false;
        case payload_layout::NameRead::entry:
            break;
    }
    entry.name = name;
    const std::string problem = entry_name_problem(entry.name);
    if (!problem.empty()) {
        error = "unsafe entry " + problem;
        return false;
    }
    inside = "an entry size";
    return payload_layout::read_entry_size(read, entry.size);
}

bool read_archive_bytes(ArchiveReader& reader, unsigned char* out, std::uint64_t count, std::string& error) {
    return read_or_fail(reader, out, count, "an entry's data", error);
}

bool skip_archive_bytes(ArchiveReader& reader, std::uint64_t count, std::string& error) {
    return read_or_fail(reader, nullptr, count, "an entry's data", error);
}

bool finish_archive(ArchiveReader& reader, std::string& error) {
    const bool more = reader.window_pos != reader.window_end || refill(reader, error);
    if (more) error = "bytes follow the payload archive's end marker";
    if (!error.empty()) return false;
    if (reader.input.pos != reader.input.size) {
        error = "bytes follow the payload frame before the trailer";
        return false;
    }
    return true;
}

void close_archive_reader(ArchiveReader& reader) {
    ZSTD_freeDCtx(reader.decoder);
    reader = ArchiveReader{};
}
