#include "support/payload_fixtures.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <random>

#include "format/payload_layout.h"

namespace payload_fixtures {

void append_u64(Bytes& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void append_name(Bytes& archive, const std::wstring& name) {
    for (wchar_t unit : name) {
        archive.push_back(static_cast<unsigned char>(unit & 0xFF));
        archive.push_back(static_cast<unsigned char>(unit >> 8));
    }
    archive.push_back(0);
    archive.push_back(0);
}

void append_end_marker(Bytes& archive) {
    archive.push_back(0);
    archive.push_back(0);
}

Bytes archive_of(const std::vector<Entry>& entries) {
    Bytes archive;
    for (const Entry& entry : entries) {
        append_name(archive, entry.name);
        append_u64(archive, entry.data.size());
        archive.insert(archive.end(), entry.data.begin(), entry.data.end());
    }
    append_end_marker(archive);
    return archive;
}

Bytes compress_frame(const Bytes& content, int level) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 27);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0);
    // Streamed in two steps, so the compressor never learns the size and keeps
    // the 2^27 window instead of shrinking it to fit a small input.
    Bytes frame(ZSTD_compressBound(content.size()) + 64);
    ZSTD_outBuffer output = {frame.data(), frame.size(), 0};
    ZSTD_inBuffer input = {content.data(), content.size(), 0};
    while (input.pos < input.size) {
        std::size_t result = ZSTD_compressStream2(context, &output, &input, ZSTD_e_continue);
        EXPECT_FALSE(ZSTD_isError(result)) << ZSTD_getErrorName(result);
        if (ZSTD_isError(result)) break;
    }
    for (;;) {
        std::size_t remaining = ZSTD_compressStream2(context, &output, &input, ZSTD_e_end);
        EXPECT_FALSE(ZSTD_isError(remaining)) << ZSTD_getErrorName(remaining);
        if (remaining == 0 || ZSTD_isError(remaining)) break;
    }
    ZSTD_freeCCtx(context);
    frame.resize(output.pos);
    // The layout the build promises: no content size, no checksum, 2^27 window.
    EXPECT_GE(frame.size(), 6u);
    if (frame.size() >= 6) {
        EXPECT_EQ(frame[4], 0x00);
        EXPECT_EQ(frame[5], 0x88);
    }
    return frame;
}

Bytes block_without_trailer(const Bytes& frame) {
    Bytes block(payload_layout::magic, payload_layout::magic + payload_layout::magic_size);
    block.reserve(block.size() + frame.size() + payload_layout::trailer_size);
    block.insert(block.end(), frame.begin(), frame.end());
    return block;
}

Bytes block_of(const Bytes& frame) {
    Bytes block = block_without_trailer(frame);
    block.push_back(0);
    block.push_back(0);
    append_u64(block, 5 + frame.size());
    return block;
}

Bytes block_of_archive(const Bytes& archive, int level) {
    return block_of(compress_frame(archive, level));
}

Bytes skippable_frame(std::uint32_t size) {
    Bytes frame;
    std::uint32_t magic = 0x184D2A50;
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<unsigned char>(magic >> (8 * i)));
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<unsigned char>(size >> (8 * i)));
    frame.resize(frame.size() + size, 0);
    return frame;
}

std::vector<std::size_t> frame_block_ends(const Bytes& frame) {
    // Header descriptor 0x00: magic, descriptor and window descriptor only.
    std::size_t offset = 6;
    std::vector<std::size_t> ends = {offset};
    for (bool last = false; !last && offset + 3 <= frame.size();) {
        std::uint32_t header = frame[offset] | frame[offset + 1] << 8 | frame[offset + 2] << 16;
        last = (header & 1) != 0;
        std::uint32_t type = (header >> 1) & 3;
        std::uint32_t size = header >> 3;
        offset += 3 + (type == 1 ? 1 : size);  // an RLE block stores its byte once
        ends.push_back(offset);
    }
    return ends;
}

Bytes random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator());
    return bytes;
}

Bytes mixed_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    static const char text[] = "The quick brown fox jumps over the lazy dog. ";
    Bytes bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        std::size_t stretch = std::min<std::size_t>(size - bytes.size(), 1 + generator() % 200000);
        switch (generator() % 3) {
            case 0:
                for (std::size_t i = 0; i < stretch; ++i) bytes.push_back(static_cast<unsigned char>(text[i % 45]));
                break;
            case 1:
                bytes.insert(bytes.end(), stretch, static_cast<unsigned char>(generator()));
                break;
            default:
                for (std::size_t i = 0; i < stretch; ++i) bytes.push_back(static_cast<unsigned char>(generator()));
                break;
        }
    }
    return bytes;
}

}  // namespace payload_fixtures
