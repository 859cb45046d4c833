// The application's icon file (.ico) as the resources need it: exactly six
// PNG images (8-bit RGBA, not interlaced) of 16, 32, 48, 64, 128 and 256
// pixels square. The resources carry the PNG bytes unchanged, the same bytes
// the icon file holds in the payload.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

inline constexpr std::array<unsigned, 6> icon_sizes = {16, 32, 48, 64, 128, 256};

struct IconImage {
    unsigned size = 0;               // width = height in pixels
    std::vector<unsigned char> png;  // the bytes as stored in the icon file
};

using IconImages = std::array<IconImage, icon_sizes.size()>;

// Parses an icon file; images come back in icon_sizes order whatever their
// order in the file. error says what is wrong, without the file name.
bool parse_icon_file(const std::vector<unsigned char>& bytes, IconImages& images, std::string& error);

// Reads and parses; error names the file.
bool read_icon_file(const std::filesystem::path& path, IconImages& images, std::string& error);
