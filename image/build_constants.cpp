#include "image/build_constants.h"

#include "image/text_encoding.h"

namespace {

// Keeps every version-resource block far below its 16-bit length field.
constexpr std::size_t max_text_units = 255;

bool take_text(const char* option, const std::string& value, std::u16string& out, std::string& error) {
    if (value.empty()) {
        error = std::string(option) + " must not be empty";
        return false;
    }
    if (!utf8_to_utf16(value, out)) {
        error = std::string(option) + " is not valid UTF-8";
        return false;
    }
    if (out.size() > max_text_units) {
        error = std::string(option) + " must be at most " + std::to_string(max_text_units) + " UTF-16 code units long";
        return false;
    }
    for (char16_t unit : out) {
        if (unit < 0x20 || unit == 0x7F) {
            error = std::string(option) + " must not contain control characters";
            return false;
        }
    }
    return true;
}

bool parse_version_parts(const std::string& text, std::array<std::uint16_t, 4>& parts) {
    parts = {};
    std::size_t part = 0;
    std::size_t digits = 0;
    std::uint32_t value = 0;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        const char c = at < text.size() ? text[at] : '.';
        if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
            if (++digits > 5 || value > 0xFFFF) return false;
        } else if (c == '.' && digits > 0 && part < parts.size()) {
            parts[part++] = static_cast<std::uint16_t>(value);
            digits = 0;
            value = 0;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

bool make_build_texts(const std::string& company, const std::string& product, const std::string& version,
                      BuildTexts& texts, std::string& error) {
    if (!take_text("--company", company, texts.company, error) ||
        !take_text("--product", product, texts.product, error) ||
        !take_text("--version", version, texts.version, error)) {
        return false;
    }
    if (!parse_version_parts(version, texts.version_parts)) {
        error = "--version must be one to four numbers from 0 to 65535 separated by dots, like 1.0.0.0, not '" +
                version + "'";
        return false;
    }
    return true;
}
