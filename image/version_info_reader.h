// Reads a VS_VERSIONINFO resource back into its tree of blocks, checking
// every length on the way: wLength covers the block, values and children
// start on four-byte boundaries, text values end in their terminator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct VersionBlock {
    std::u16string key;
    std::uint16_t length = 0;
    std::uint16_t value_length = 0;  // bytes for binary values, UTF-16 units for text
    std::uint16_t type = 0;          // 0 binary, 1 text
    std::vector<unsigned char> value;
    std::vector<VersionBlock> children;
};

bool parse_version_info(const std::vector<unsigned char>& bytes, VersionBlock& root, std::string& error);

// Text value without its terminator.
std::u16string text_value(const VersionBlock& block);
