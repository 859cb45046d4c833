#include "image/icon_source.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>

#include <cstdint>
#include <cstring>

#include "image/file_io.h"

namespace {

// Anything larger is no icon, and decoding it would only cost memory.
constexpr int max_source_side = 4096;
// Pinned, so that the encoder's output does not follow the library's default.
constexpr int png_compression_level = 8;
constexpr int png_adaptive_filter = -1;
constexpr std::size_t icon_directory_size = 6;
constexpr std::size_t bmp_file_header_size = 14;
constexpr std::uint32_t bmp_info_header_size = 40;
constexpr std::uint32_t bmp_bitfields = 3;
constexpr unsigned char png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct SourceImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;
    std::vector<unsigned char> png;  // the PNG bytes, when the source was one
};

std::uint32_t u32_le(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

unsigned u16_le(const unsigned char* p) {
    return p[0] | p[1] << 8;
}

void put_u32_le(unsigned char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

bool is_png(const unsigned char* data, std::size_t size) {
    return size >= sizeof png_signature && std::memcmp(data, png_signature, sizeof png_signature) == 0;
}

bool decode(const unsigned char* data, std::size_t size, SourceImage& image, std::string& error) {
    int width = 0, height = 0, channels = 0;
    if (size > static_cast<std::size_t>(INT32_MAX) ||
        !stbi_info_from_memory(data, static_cast<int>(size), &width, &height, &channels)) {
        error = std::string("is damaged or not an image (") + stbi_failure_reason() + ")";
        return false;
    }
    if (width > max_source_side || height > max_source_side) {
        error = "holds a " + std::to_string(width) + "x" + std::to_string(height) + " image; at most " +
                std::to_string(max_source_side) + " pixels a side are taken";
        return false;
    }
    unsigned char* pixels = stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &channels, 4);
    if (pixels == nullptr) {
        error = std::string("is damaged (") + stbi_failure_reason() + ")";
        return false;
    }
    image.width = width;
    image.height = height;
    image.rgba.assign(pixels, pixels + static_cast<std::size_t>(width) * height * 4);
    stbi_image_free(pixels);
    return true;
}

// An icon's BMP image is a bitmap without its file header whose height
// counts the colour rows and the transparency mask rows below them. Images
// of fewer than 32 bits take their transparency from that mask.
bool decode_icon_bitmap(const unsigned char* dib, std::size_t size, SourceImage& image, std::string& error) {
    if (size < bmp_info_header_size || u32_le(dib) < bmp_info_header_size || u32_le(dib) > size) {
        error = "holds an image that is neither PNG nor BMP";
        return false;
    }
    const std::uint32_t header = u32_le(dib);
    const std::int32_t width = static_cast<std::int32_t>(u32_le(dib + 4));
    const std::int32_t stored_height = static_cast<std::int32_t>(u32_le(dib + 8));
    const unsigned bits = u16_le(dib + 14);
    const std::uint32_t compression = u32_le(dib + 16);
    const std::uint32_t colours_used = u32_le(dib + 32);
    if (width <= 0 || stored_height <= 0 || stored_height % 2 != 0 || width > max_source_side ||
        stored_height / 2 > max_source_side || bits == 0 || bits > 32 || colours_used > 256) {
        error = "holds a damaged BMP image";
        return false;
    }
    const std::int32_t height = stored_height / 2;
    std::uint64_t palette = bits <= 8 ? 4ull * (colours_used != 0 ? colours_used : 1u << bits) : 0;
    if (compression == bmp_bitfields && header == bmp_info_header_size) palette += 12;
    std::vector<unsigned char> file(bmp_file_header_size + size);
    file[0] = 'B';
    file[1] = 'M';
    put_u32_le(file.data() + 2, static_cast<std::uint32_t>(file.size()));
    put_u32_le(file.data() + 10, static_cast<std::uint32_t>(bmp_file_header_size + header + palette));
    std::memcpy(file.data() + bmp_file_header_size, dib, size);
    put_u32_le(file.data() + bmp_file_header_size + 8, static_cast<std::uint32_t>(height));
    if (!decode(file.data(), file.size(), image, error)) return false;
    if (bits == 32) return true;
    const std::uint64_t colour_stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    const std::uint64_t mask_stride = (static_cast<std::uint64_t>(width) + 31) / 32 * 4;
    const std::uint64_t mask_at = header + palette + colour_stride * height;
    if (mask_at > size || mask_stride * height > size - mask_at) {
        error = "holds a BMP image without its transparency mask";
        return false;
    }
    for (std::int32_t row = 0; row < height; ++row) {
        // Rows are stored bottom up.
        const unsigned char* mask = dib + mask_at + mask_stride * (height - 1 - row);
        for (std::int32_t x = 0; x < width; ++x) {
            if (mask[x / 8] & (0x80 >> (x % 8))) image.rgba[(static_cast<std::size_t>(row) * width + x) * 4 + 3] = 0;
        }
    }
    return true;
}

bool read_icon_directory(const std::vector<unsigned char>& bytes, std::vector<SourceImage>& sources,
                         std::string& error) {
    std::vector<std::vector<unsigned char>> listed;
    if (!icon_file_entries(bytes, listed, error)) return false;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        SourceImage image;
        const std::vector<unsigned char>& data = listed[i];
        const bool png = is_png(data.data(), data.size());
        if (!(png ? decode(data.data(), data.size(), image, error)
                  : decode_icon_bitmap(data.data(), data.size(), image, error))) {
            error = "image " + std::to_string(i + 1) + " " + error;
            return false;
        }
        if (png) image.png = data;
        sources.push_back(std::move(image));
    }
    return true;
}

void append_bytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<unsigned char>*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

// The source centred on a transparent square, then resampled to side pixels.
bool resampled_png(const SourceImage& source, unsigned side, std::vector<unsigned char>& png, std::string& error) {
    const int square = source.width > source.height ? source.width : source.height;
    std::vector<unsigned char> canvas(static_cast<std::size_t>(square) * square * 4, 0);
    const int left = (square - source.width) / 2;
    const int top = (square - source.height) / 2;
    for (int row = 0; row < source.height; ++row) {
        std::memcpy(canvas.data() + (static_cast<std::size_t>(row + top) * square + left) * 4,
                    source.rgba.data() + static_cast<std::size_t>(row) * source.width * 4,
                    static_cast<std::size_t>(source.width) * 4);
    }
    std::vector<unsigned char> pixels(static_cast<std::size_t>(side) * side * 4);
    const int alpha_channel = 3;
    if (!stbir_resize_uint8_srgb(canvas.data(), square, square, 0, pixels.data(), static_cast<int>(side),
                                 static_cast<int>(side), 0, 4, alpha_channel, 0)) {
        error = "cannot be resampled";
        return false;
    }
    stbi_write_png_compression_level = png_compression_level;
    stbi_write_force_png_filter = png_adaptive_filter;
    png.clear();
    if (!stbi_write_png_to_func(append_bytes, &png, static_cast<int>(side), static_cast<int>(side), 4, pixels.data(),
                                static_cast<int>(side) * 4)) {
        error = "cannot be encoded as PNG";
        return false;
    }
    return true;
}

}  // namespace

bool make_icon_images(const std::vector<unsigned char>& bytes, IconImages& images, std::string& error) {
    std::vector<SourceImage> sources;
    if (is_png(bytes.data(), bytes.size())) {
        SourceImage image;
        if (!decode(bytes.data(), bytes.size(), image, error)) return false;
        image.png = bytes;
        sources.push_back(std::move(image));
    } else if (bytes.size() >= icon_directory_size && u16_le(bytes.data()) == 0 && u16_le(bytes.data() + 2) == 1) {
        if (!read_icon_directory(bytes, sources, error)) return false;
    } else {
        error = "is neither an icon file nor a PNG image";
        return false;
    }
    const SourceImage* best = &sources[0];
    for (const auto& source : sources) {
        const int side = source.width < source.height ? source.width : source.height;
        const int best_side = best->width < best->height ? best->width : best->height;
        if (side > best_side) best = &source;
    }
    for (std::size_t i = 0; i < icon_sizes.size(); ++i) {
        images[i] = IconImage{icon_sizes[i], {}};
        for (const auto& source : sources) {
            unsigned size = 0;
            if (!source.png.empty() && is_icon_ready_png(source.png, size) && size == icon_sizes[i]) {
                images[i].png = source.png;
                break;
            }
        }
        if (images[i].png.empty() && !resampled_png(*best, icon_sizes[i], images[i].png, error)) return false;
    }
    return true;
}

bool read_icon_source(const std::filesystem::path& path, IconImages& images, std::string& error) {
    std::vector<unsigned char> bytes;
    if (!read_file(path, bytes, error)) return false;
    if (make_icon_images(bytes, images, error)) return true;
    error = "icon '" + path.string() + "' " + error;
    return false;
}
