#include "image/version_info_reader.h"

#include "image/pe_reader.h"

namespace {

std::uint64_t aligned4(std::uint64_t offset) {
    return (offset + 3) & ~std::uint64_t{3};
}

bool parse_block(const std::vector<unsigned char>& bytes, std::uint64_t start, std::uint64_t limit, int depth,
                 VersionBlock& block, std::string& error) {
    if (depth > 8) {
        error = "version blocks nest too deep";
        return false;
    }
    if (!read_u16(bytes, start, block.length) || !read_u16(bytes, start + 2, block.value_length) ||
        !read_u16(bytes, start + 4, block.type)) {
        error = "version block header past the end";
        return false;
    }
    const std::uint64_t end = start + block.length;
    if (block.length < 6 || end > limit) {
        error = "version block length " + std::to_string(block.length) + " does not fit its parent";
        return false;
    }
    std::uint64_t at = start + 6;
    for (std::uint16_t unit = 0;; at += 2) {
        if (at + 2 > end || !read_u16(bytes, at, unit)) {
            error = "version block key has no terminator";
            return false;
        }
        if (unit == 0) break;
        block.key += static_cast<char16_t>(unit);
    }
    at = aligned4(at + 2);
    const std::uint64_t value_bytes = block.type == 1 ? 2ull * block.value_length : block.value_length;
    if (at + value_bytes > end) {
        error = "version value of '" + std::string(block.key.begin(), block.key.end()) + "' runs past its block";
        return false;
    }
    block.value.assign(bytes.begin() + at, bytes.begin() + at + value_bytes);
    at = aligned4(at + value_bytes);
    while (at < end) {
        VersionBlock child;
        if (!parse_block(bytes, at, end, depth + 1, child, error)) return false;
        at = aligned4(at + child.length);
        block.children.push_back(std::move(child));
    }
    return true;
}

}  // namespace

bool parse_version_info(const std::vector<unsigned char>& bytes, VersionBlock& root, std::string& error) {
    root = VersionBlock{};
    if (!parse_block(bytes, 0, bytes.size(), 0, root, error)) return false;
    if (root.length != bytes.size()) {
        error = "version resource is " + std::to_string(bytes.size()) + " bytes but its root block says " +
                std::to_string(root.length);
        return false;
    }
    return true;
}

std::u16string text_value(const VersionBlock& block) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < block.value.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(block.value[i] | block.value[i + 1] << 8);
        if (unit == 0) break;
        text += unit;
    }
    return text;
}
