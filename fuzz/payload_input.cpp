#include "fuzz/payload_input.h"

#include <csetjmp>
#include <cstring>

#include "fuzz/refusal.h"
#include "format/payload_layout.h"
#include "launcher/payload_reader.h"

namespace {

constexpr unsigned char frame_magic[4] = {0x28, 0xB5, 0x2F, 0xFD};
constexpr std::size_t raw_block_limit = 131072;
// A 2^17-byte window, the smallest that admits 131072-byte raw blocks. The
// packer's 2^27 would make the decoder take 128 MiB for every input, which
// under AddressSanitizer costs more than the rest of a run; the reader and the
// walker behave the same whatever the window.
constexpr unsigned char archive_window_descriptor = 0x38;

unsigned char* put(unsigned char* at, const void* bytes, std::size_t count) {
    if (count > 0) std::memcpy(at, bytes, count);
    return at + count;
}

unsigned char* put_le(unsigned char* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) *at++ = static_cast<unsigned char>(value >> (8 * i));
    return at;
}

// The reader is process-wide: a refused input leaves it open with its window
// and context, which the launcher would have left to the process exit. Here
// they are released before the next input, so the leak checker sees none.
InputOutcome run_block(const unsigned char* block, std::size_t size) {
    clear_refusal();
    if (setjmp(refusal_point) != 0) {
        PayloadReader::close();
        return {false, {0, 0}, last_refusal()};
    }
    PayloadReader::open_block(block, size);
    return {true, walk_payload_archive(), nullptr};
}

}  // namespace

std::vector<unsigned char> pack_archive_in_raw_frame(const unsigned char* archive, std::size_t size) {
    std::size_t raw_blocks = size == 0 ? 1 : (size + raw_block_limit - 1) / raw_block_limit;
    std::size_t frame_size = sizeof frame_magic + 2 + 3 * raw_blocks + size;
    // Exactly the block's size, so the sanitizer sees any read past its end.
    std::vector<unsigned char> block(payload_layout::block_overhead + frame_size);
    unsigned char* at = put(block.data(), payload_layout::magic, payload_layout::magic_size);
    at = put(at, frame_magic, sizeof frame_magic);
    *at++ = static_cast<unsigned char>(payload_layout::frame_header_descriptor);
    *at++ = archive_window_descriptor;
    std::size_t offset = 0;
    do {
        std::size_t n = size - offset < raw_block_limit ? size - offset : raw_block_limit;
        bool last = offset + n == size;
        // Block header, 3 bytes LE: bit 0 last, bits 1-2 type (0 = raw), then the size.
        at = put_le(at, (static_cast<std::uint64_t>(n) << 3) | (last ? 1 : 0), 3);
        at = put(at, archive + offset, n);
        offset += n;
    } while (offset < size);
    at = put_le(at, 0, 2);  // trailer mark
    put_le(at, payload_layout::magic_size + frame_size + 2, 8);
    return block;
}

InputOutcome run_payload_input(const unsigned char* data, std::size_t size) {
    if (size == 0 || data[0] != archive_input_mark) return run_block(data, size);
    std::vector<unsigned char> block = pack_archive_in_raw_frame(data + 1, size - 1);
    return run_block(block.data(), block.size());
}
