// --icon takes what people have: PNG and BMP images of any sizes in an icon
// file, or one PNG. Six icon-ready PNG images come out, the same bytes for the
// same input; a damaged input is refused with a message, never a crash.
#include <gtest/gtest.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <functional>

#include "image/content_key.h"
#include "image/icon_source.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Pixel = std::function<std::array<unsigned char, 4>(int x, int y)>;

void put(Bytes& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

Bytes png(int width, int height, const Pixel& pixel) {
    Bytes rgba;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto p = pixel(x, y);
            rgba.insert(rgba.end(), p.begin(), p.end());
        }
    }
    Bytes out;
    stbi_write_png_to_func(
        [](void* c, void* d, int n) {
            static_cast<Bytes*>(c)->insert(static_cast<Bytes*>(c)->end(), static_cast<unsigned char*>(d),
                                           static_cast<unsigned char*>(d) + n);
        },
        &out, width, height, 4, rgba.data(), width * 4);
    return out;
}

// An icon's bitmap: header with the doubled height, colour rows bottom up
// (BGRA or BGR), then the transparency mask (1 = transparent).
Bytes icon_bitmap(int side, int bits, const Pixel& pixel) {
    Bytes out;
    put(out, 40, 4);
    put(out, side, 4);
    put(out, side * 2, 4);
    put(out, 1, 2);
    put(out, bits, 2);
    for (int i = 0; i < 6; ++i) put(out, 0, 4);
    const int row_bytes = (side * bits + 31) / 32 * 4;
    for (int y = side - 1; y >= 0; --y) {
        Bytes row;
        for (int x = 0; x < side; ++x) {
            const auto p = pixel(x, y);
            row.insert(row.end(), {p[2], p[1], p[0]});
            if (bits == 32) row.push_back(p[3]);
        }
        row.resize(row_bytes, 0);
        out.insert(out.end(), row.begin(), row.end());
    }
    const int mask_bytes = (side + 31) / 32 * 4;
    for (int y = side - 1; y >= 0; --y) {
        Bytes row(mask_bytes, 0);
        for (int x = 0; x < side; ++x) {
            if (pixel(x, y)[3] == 0) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

Bytes icon(const std::vector<std::pair<int, Bytes>>& images) {
    Bytes out;
    put(out, 0, 2);
    put(out, 1, 2);
    put(out, images.size(), 2);
    std::uint64_t offset = 6 + 16 * images.size();
    for (const auto& [side, data] : images) {
        out.insert(out.end(), {static_cast<unsigned char>(side & 0xFF), static_cast<unsigned char>(side & 0xFF), 0, 0});
        put(out, 1, 2);
        put(out, 32, 2);
        put(out, data.size(), 4);
        put(out, offset, 4);
        offset += data.size();
    }
    for (const auto& image : images) out.insert(out.end(), image.second.begin(), image.second.end());
    return out;
}

const Pixel gradient = [](int x, int y) {
    return std::array<unsigned char, 4>{static_cast<unsigned char>(x * 5), static_cast<unsigned char>(y * 5), 90, 255};
};
// Left half transparent, right half opaque blue.
const Pixel half = [](int x, int) {
    return x < 16 ? std::array<unsigned char, 4>{0, 0, 0, 0} : std::array<unsigned char, 4>{0, 0, 255, 255};
};

struct Decoded {
    int width = 0, height = 0;
    Bytes rgba;
    unsigned alpha(int x, int y) const { return rgba[(static_cast<std::size_t>(y) * width + x) * 4 + 3]; }
};

Decoded decode(const Bytes& png_bytes) {
    Decoded d;
    int channels = 0;
    unsigned char* pixels =
        stbi_load_from_memory(png_bytes.data(), static_cast<int>(png_bytes.size()), &d.width, &d.height, &channels, 4);
    EXPECT_NE(pixels, nullptr);
    if (pixels != nullptr) d.rgba.assign(pixels, pixels + d.width * d.height * 4);
    stbi_image_free(pixels);
    return d;
}

void expect_six_ready_images(const IconImages& images) {
    for (std::size_t i = 0; i < images.size(); ++i) {
        unsigned size = 0;
        EXPECT_TRUE(is_icon_ready_png(images[i].png, size)) << i;
        EXPECT_EQ(size, icon_sizes[i]);
        EXPECT_EQ(images[i].size, icon_sizes[i]);
    }
}

TEST(IconSource, EveryKindOfInputGivesSixIconReadyImages) {
    const Bytes ready_48 = png(48, 48, gradient);
    struct Case {
        const char* what;
        Bytes input;
        std::function<void(const IconImages&)> check;
    } const cases[] = {
        {"one non-square PNG, made square on a transparent canvas", png(300, 200, gradient),
         [](const IconImages& images) {
             const Decoded big = decode(images[5].png);
             EXPECT_EQ(big.alpha(128, 0), 0u);
             EXPECT_EQ(big.alpha(128, 128), 255u);
         }},
        {"icon of PNG images, a ready one kept byte for byte", icon({{20, png(20, 20, gradient)}, {48, ready_48}}),
         [&](const IconImages& images) { EXPECT_EQ(images[2].png, ready_48); }},
        {"icon of a 32-bit BMP image", icon({{64, icon_bitmap(64, 32, gradient)}}),
         [](const IconImages& images) { EXPECT_EQ(decode(images[3].png).alpha(10, 10), 255u); }},
        {"icon of a 24-bit BMP image, transparent by its mask", icon({{32, icon_bitmap(32, 24, half)}}),
         [](const IconImages& images) {
             const Decoded same = decode(images[1].png);
             EXPECT_EQ(same.alpha(2, 16), 0u);
             EXPECT_EQ(same.alpha(29, 16), 255u);
         }},
        {"the default icon, taken as it is", read_bytes(default_icon()),
         [](const IconImages& images) { EXPECT_EQ(icon_file_bytes(images), read_bytes(default_icon())); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IconImages images;
        std::string error;
        ASSERT_TRUE(make_icon_images(c.input, images, error)) << error;
        expect_six_ready_images(images);
        c.check(images);
    }
}

// The same input gives the same bytes wherever the build runs: this digest
// changes only when the image library or its settings change.
TEST(IconSource, KnownInputGivesKnownBytes) {
    const Bytes input = icon({{40, icon_bitmap(40, 32, gradient)}});
    IconImages images;
    std::string error;
    ASSERT_TRUE(make_icon_images(input, images, error)) << error;
    const Bytes file = icon_file_bytes(images);
    EXPECT_EQ(payload_content_key(file.data(), file.size()),
              "3c6ea42c71ee39e80a67f359564ed518f3e1d7bcb7b9944ac2aa6b764f000187");
}

TEST(IconSource, DamagedInputIsRefused) {
    Bytes huge = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    huge.insert(huge.end(), {0, 0, 0x13, 0x88, 0, 0, 0x13, 0x88, 8, 6, 0, 0, 0, 0, 0, 0, 0});
    Bytes cut_png = png(64, 64, gradient);
    cut_png.resize(cut_png.size() / 2);
    Bytes bad_bitmap = icon_bitmap(16, 32, gradient);
    bad_bitmap[14] = 0;  // zero bits per pixel
    Bytes past_end = icon({{16, png(16, 16, gradient)}});
    past_end.resize(past_end.size() - 1);
    struct Case {
        const char* what;
        Bytes input;
        const char* message;
    } const cases[] = {
        {"empty", {}, "is neither an icon file nor a PNG image"},
        {"text", {'h', 'e', 'l', 'l', 'o', '!', '!'}, "is neither an icon file nor a PNG image"},
        {"icon without images", {0, 0, 1, 0, 0, 0}, "is an icon file without images"},
        {"directory cut short", {0, 0, 1, 0, 2, 0, 16, 16}, "is a truncated icon file"},
        {"image past the end", past_end, "image 1 lies past its end"},
        {"PNG cut in half", cut_png, "is damaged"},
        {"icon with a PNG cut in half", icon({{64, cut_png}}), "image 1 is damaged"},
        {"bitmap with zero bits", icon({{16, bad_bitmap}}), "image 1 holds a damaged BMP image"},
        {"bitmap header cut", icon({{16, Bytes(20, 1)}}), "image 1 holds an image that is neither PNG nor BMP"},
        {"5000 pixels a side", huge, "holds a 5000x5000 image; at most 4096"},
    };
    for (const auto& c : cases) {
        IconImages images;
        std::string error;
        EXPECT_FALSE(make_icon_images(c.input, images, error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": '" << error << "'";
    }
}

}  // namespace
