#include "image/archive_writer.h"

std::vector<unsigned char> entry_header(std::u16string_view name, std::uint64_t size) {
    std::vector<unsigned char> out;
    out.reserve(2 * name.size() + 2 + 8);
    for (char16_t unit : name) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    append_u64_le(out, size);
    return out;
}

std::vector<unsigned char> end_marker() {
    return {0, 0};
}

void append_u64_le(std::vector<unsigned char>& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}
