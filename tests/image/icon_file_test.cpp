// The icon file must hold six PNG images, one of each size from 16 to 256.
#include <gtest/gtest.h>

#include <cstring>

#include "image/icon_file.h"
#include "image/icon_source.h"
#include "image/image_contract.h"
#include "support/test_files.h"

namespace {

using Png = std::vector<unsigned char>;

void put_u16(std::vector<unsigned char>& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t value) {
    put_u16(out, value & 0xFFFF);
    put_u16(out, value >> 16);
}

// An icon file holding the images in the order given.
std::vector<unsigned char> make_icon(const std::vector<Png>& images) {
    std::vector<unsigned char> out;
    put_u16(out, 0);
    put_u16(out, 1);
    put_u16(out, static_cast<unsigned>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (const auto& png : images) {
        out.insert(out.end(), {0, 0, 0, 0});
        put_u16(out, 1);
        put_u16(out, 32);
        put_u32(out, static_cast<std::uint32_t>(png.size()));
        put_u32(out, offset);
        offset += static_cast<std::uint32_t>(png.size());
    }
    for (const auto& png : images) out.insert(out.end(), png.begin(), png.end());
    return out;
}

// A PNG header (signature and IHDR) of the given shape; enough for the check.
Png png_header(std::uint32_t width, std::uint32_t height, unsigned depth = 8, unsigned colour = 6,
               unsigned interlace = 0) {
    Png png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (std::uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<unsigned char>(v >> shift));
    }
    png.insert(png.end(), {static_cast<unsigned char>(depth), static_cast<unsigned char>(colour), 0, 0,
                           static_cast<unsigned char>(interlace), 0xDE, 0xAD, 0xBE, 0xEF});
    return png;
}

std::vector<Png> six_sizes() {
    std::vector<Png> images;
    for (unsigned size : icon_sizes) images.push_back(png_header(size, size));
    return images;
}

std::string parse_error(const std::vector<unsigned char>& bytes) {
    IconImages images;
    std::string error;
    return parse_icon_file(bytes, images, error) ? "" : error;
}

TEST(IconFile, DefaultIconHoldsTheSixSizesAndTheirBytesUnchanged) {
    const std::vector<unsigned char> bytes = read_bytes(default_icon());
    IconImages images;
    std::string error;
    ASSERT_TRUE(parse_icon_file(bytes, images, error)) << error;
    std::vector<std::vector<unsigned char>> in_file;
    ASSERT_TRUE(icon_file_images(bytes, in_file));
    for (std::size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(images[i].size, icon_sizes[i]);
        EXPECT_EQ(images[i].png, in_file[i]) << i;
    }
}

TEST(IconFile, ImagesComeBackInSizeOrderWhateverTheFileOrder) {
    std::vector<Png> images = six_sizes();
    std::reverse(images.begin(), images.end());
    IconImages parsed;
    std::string error;
    ASSERT_TRUE(parse_icon_file(make_icon(images), parsed, error)) << error;
    for (std::size_t i = 0; i < parsed.size(); ++i) EXPECT_EQ(parsed[i].png, png_header(icon_sizes[i], icon_sizes[i]));
}

TEST(IconFile, RefusesEverythingButSixPngImagesOfTheSixSizes) {
    std::vector<Png> five = six_sizes();
    five.pop_back();
    std::vector<Png> seven = six_sizes();
    seven.push_back(png_header(512, 512));
    std::vector<Png> twice_32 = six_sizes();
    twice_32[2] = png_header(32, 32);
    std::vector<Png> size_24 = six_sizes();
    size_24[0] = png_header(24, 24);
    std::vector<Png> bitmap = six_sizes();
    bitmap[1] = Png(40, 0);
    bitmap[1][0] = 40;  // a BITMAPINFOHEADER
    std::vector<Png> oblong = six_sizes();
    oblong[3] = png_header(64, 32);
    std::vector<Png> palette = six_sizes();
    palette[4] = png_header(128, 128, 8, 3);
    std::vector<Png> deep = six_sizes();
    deep[4] = png_header(128, 128, 16, 6);
    std::vector<Png> interlaced = six_sizes();
    interlaced[5] = png_header(256, 256, 8, 6, 1);
    std::vector<Png> short_png = six_sizes();
    short_png[0].resize(20);

    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        const char* problem;
    } const cases[] = {
        {"five images", make_icon(five), "holds 5 images"},
        {"seven images", make_icon(seven), "holds 7 images"},
        {"no images", make_icon({}), "holds 0 images"},
        {"two 32s", make_icon(twice_32), "holds a 32x32 image"},
        {"a 24", make_icon(size_24), "holds a 24x24 image"},
        {"bitmap", make_icon(bitmap), "image 2 is not a PNG"},
        {"oblong", make_icon(oblong), "64x32, not square"},
        {"palette", make_icon(palette), "8-bit RGBA"},
        {"16-bit", make_icon(deep), "8-bit RGBA"},
        {"interlaced", make_icon(interlaced), "without interlacing"},
        {"short PNG", make_icon(short_png), "not a PNG"},
        {"empty file", {}, "is not an icon file"},
        {"cursor", {0, 0, 2, 0, 6, 0}, "is not an icon file"},
    };
    for (const auto& c : cases) {
        const std::string error = parse_error(c.bytes);
        EXPECT_NE(error.find(c.problem), std::string::npos) << c.what << " -> '" << error << "'";
    }
}

TEST(IconFile, ImageLyingPastTheEndIsRefused) {
    std::vector<unsigned char> bytes = make_icon(six_sizes());
    const std::vector<unsigned char> whole = bytes;
    bytes.pop_back();
    EXPECT_NE(parse_error(bytes).find("truncated"), std::string::npos);
    // Offset field of the first entry pointing far past the end.
    bytes = whole;
    bytes[6 + 12 + 3] = 0x7F;
    EXPECT_NE(parse_error(bytes).find("truncated"), std::string::npos);
    // Directory cut short.
    bytes.assign(whole.begin(), whole.begin() + 6 + 16 * 3);
    EXPECT_NE(parse_error(bytes).find("truncated"), std::string::npos);
}

TEST(IconFile, ReadIconSourceNamesTheFile) {
    IconImages images;
    std::string error;
    EXPECT_FALSE(read_icon_source("/nonexistent/x.ico", images, error));
    EXPECT_NE(error.find("cannot read '/nonexistent/x.ico'"), std::string::npos) << error;
    ScratchFolder scratch;
    write_bytes(scratch.path / "one.ico", make_icon({png_header(16, 16)}));
    EXPECT_FALSE(read_icon_source(scratch.path / "one.ico", images, error));
    EXPECT_NE(error.find("icon '" + (scratch.path / "one.ico").string() + "' image 1 is damaged"), std::string::npos)
        << error;
}

}  // namespace
