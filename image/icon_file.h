// The six-image icon file as the resources need it: exactly six PNG images
// (8-bit RGBA, not interlaced) of 16, 32, 48, 64, 128 and 256 pixels square.
// The resources carry the PNG bytes unchanged, the same bytes the icon file
// holds in the payload. Any other icon is made into one by icon_source.h.
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

// The images an icon file lists, in its order, whatever their kind: false
// for a file that is not an icon file, lists none or is cut short.
bool icon_file_entries(const std::vector<unsigned char>& bytes, std::vector<std::vector<unsigned char>>& images,
                       std::string& error);

// Parses an icon file; images come back in icon_sizes order whatever their
// order in the file. error says what is wrong, without the file name.
bool parse_icon_file(const std::vector<unsigned char>& bytes, IconImages& images, std::string& error);

// The icon file of six PNG images in icon_sizes order, laid out as the
// default icon is: directory, then the images in the same order.
std::vector<unsigned char> icon_file_bytes(const IconImages& images);

// True for a PNG the resources take as it is: 8-bit RGBA, not interlaced,
// square; size holds its width.
bool is_icon_ready_png(const std::vector<unsigned char>& png, unsigned& size);
