#include "image/icon_file.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t directory_size = 6;
constexpr std::size_t directory_entry_size = 16;
constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Signature, IHDR length and type, then the 13 IHDR data bytes.
constexpr std::size_t png_header_size = 8 + 8 + 13;
constexpr unsigned png_bit_depth_8 = 8;
constexpr unsigned png_colour_rgba = 6;

std::uint32_t u32_le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t u32_be(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

unsigned u16_le(const unsigned char* p) {
    return p[0] | p[1] << 8;
}

// Checks one image's PNG header; on success size holds its width.
bool check_png(const std::vector<unsigned char>& png, std::size_t index, unsigned& size, std::string& error) {
    const std::string which = "image " + std::to_string(index + 1);
    if (png.size() < png_header_size || std::memcmp(png.data(), png_signature, sizeof png_signature) != 0) {
        error = which + " is not a PNG image (every image must be PNG)";
        return false;
    }
    const unsigned char* ihdr = png.data() + 8;
    if (u32_be(ihdr) != 13 || std::memcmp(ihdr + 4, "IHDR", 4) != 0) {
        error = which + " is a damaged PNG image";
        return false;
    }
    const std::uint32_t width = u32_be(ihdr + 8);
    const std::uint32_t height = u32_be(ihdr + 12);
    if (width != height) {
        error = which + " is " + std::to_string(width) + "x" + std::to_string(height) + ", not square";
        return false;
    }
    if (ihdr[16] != png_bit_depth_8 || ihdr[17] != png_colour_rgba || ihdr[20] != 0) {
        error = which + " is not an 8-bit RGBA PNG without interlacing";
        return false;
    }
    size = width;
    return true;
}

std::string sizes_text() {
    std::string text;
    for (unsigned size : icon_sizes) text += (text.empty() ? "" : ", ") + std::to_string(size);
    return text;
}

}  // namespace

bool icon_file_entries(const std::vector<unsigned char>& bytes, std::vector<std::vector<unsigned char>>& images,
                       std::string& error) {
    images.clear();
    if (bytes.size() < directory_size || u16_le(bytes.data()) != 0 || u16_le(bytes.data() + 2) != 1) {
        error = "is not an icon file";
        return false;
    }
    const unsigned count = u16_le(bytes.data() + 4);
    if (count == 0 || bytes.size() < directory_size + count * directory_entry_size) {
        error = count == 0 ? "is an icon file without images" : "is a truncated icon file";
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* entry = bytes.data() + directory_size + i * directory_entry_size;
        const std::uint32_t length = u32_le(entry + 8);
        const std::uint32_t offset = u32_le(entry + 12);
        if (offset > bytes.size() || length > bytes.size() - offset) {
            error = "is a truncated icon file (image " + std::to_string(i + 1) + " lies past its end)";
            return false;
        }
        images.emplace_back(bytes.begin() + offset, bytes.begin() + offset + length);
    }
    return true;
}

bool parse_icon_file(const std::vector<unsigned char>& bytes, IconImages& images, std::string& error) {
    const std::string expected = "six PNG images of " + sizes_text() + " pixels";
    const unsigned count = bytes.size() < directory_size ? 0 : u16_le(bytes.data() + 4);
    if (bytes.size() >= directory_size && u16_le(bytes.data()) == 0 && u16_le(bytes.data() + 2) == 1 &&
        count != icon_sizes.size()) {
        error = "holds " + std::to_string(count) + (count == 1 ? " image" : " images") + "; it must hold " + expected;
        return false;
    }
    std::vector<std::vector<unsigned char>> listed;
    if (!icon_file_entries(bytes, listed, error)) return false;
    images = {};
    for (std::size_t i = 0; i < listed.size(); ++i) {
        std::vector<unsigned char>& png = listed[i];
        unsigned size = 0;
        if (!check_png(png, i, size, error)) return false;
        std::size_t slot = 0;
        while (slot < icon_sizes.size() && icon_sizes[slot] != size) ++slot;
        if (slot == icon_sizes.size() || !images[slot].png.empty()) {
            error = "holds a " + std::to_string(size) + "x" + std::to_string(size) + " image; it must hold " +
                    expected + ", one of each";
            return false;
        }
        images[slot].size = size;
        images[slot].png = std::move(png);
    }
    return true;
}

std::vector<unsigned char> icon_file_bytes(const IconImages& images) {
    std::vector<unsigned char> out;
    auto put16 = [&out](unsigned value) {
        out.push_back(static_cast<unsigned char>(value & 0xFF));
        out.push_back(static_cast<unsigned char>(value >> 8 & 0xFF));
    };
    auto put32 = [&](std::uint32_t value) {
        put16(value & 0xFFFF);
        put16(value >> 16);
    };
    put16(0);
    put16(1);
    put16(static_cast<unsigned>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(directory_size + images.size() * directory_entry_size);
    for (const auto& image : images) {
        // 256 does not fit the byte: the format stores it as 0.
        const unsigned char side = static_cast<unsigned char>(image.size >= 256 ? 0 : image.size);
        out.insert(out.end(), {side, side, 0, 0});
        put16(1);   // planes
        put16(32);  // bits per pixel
        put32(static_cast<std::uint32_t>(image.png.size()));
        put32(offset);
        offset += static_cast<std::uint32_t>(image.png.size());
    }
    for (const auto& image : images) out.insert(out.end(), image.png.begin(), image.png.end());
    return out;
}

bool is_icon_ready_png(const std::vector<unsigned char>& png, unsigned& size) {
    std::string ignored;
    return check_png(png, 0, size, ignored);
}
