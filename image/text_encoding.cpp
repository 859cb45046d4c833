#include "image/text_encoding.h"

#include <cstdint>

namespace {

// Number of continuation bytes and the smallest code point a lead byte may
// start, or false for a byte that cannot lead a sequence.
bool sequence_shape(unsigned char lead, int& continuations, std::uint32_t& minimum, std::uint32_t& value) {
    if (lead < 0x80) {
        continuations = 0, minimum = 0, value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        continuations = 1, minimum = 0x80, value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        continuations = 2, minimum = 0x800, value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        continuations = 3, minimum = 0x10000, value = lead & 0x07;
    } else {
        return false;
    }
    return true;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

}  // namespace

bool utf8_to_utf16(std::string_view text, std::u16string& out) {
    out.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        int continuations = 0;
        std::uint32_t minimum = 0;
        std::uint32_t value = 0;
        if (!sequence_shape(static_cast<unsigned char>(text[at]), continuations, minimum, value)) return false;
        if (static_cast<std::size_t>(continuations) >= text.size() - at) return false;
        for (int i = 1; i <= continuations; ++i) {
            const auto byte = static_cast<unsigned char>(text[at + i]);
            if ((byte & 0xC0) != 0x80) return false;
            value = (value << 6) | (byte & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        if (value >= 0x10000) {
            value -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (value >> 10));
            out += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            out += static_cast<char16_t>(value);
        }
        at += 1 + continuations;
    }
    return true;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::uint32_t unit = text[at];
        if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
            text[at + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[at + 1] - 0xDC00);
            ++at;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        append_utf8(out, unit);
    }
    return out;
}
