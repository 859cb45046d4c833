// UTF-16 to UTF-8, one code point at a time, for the "%ls" and "%lc" directives.
// Paths may hold unpaired surrogates (the file system does not check); they
// become U+FFFD, as the system's own conversion does, instead of ending the text.
#include "runtime/runtime.h"

namespace {

bool is_high_surrogate(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

int rt_encode_utf8(const wchar_t* text, char* out, int* units) {
    unsigned long code = static_cast<unsigned short>(text[0]);
    *units = 1;
    if (is_high_surrogate(text[0]) && is_low_surrogate(text[1])) {
        code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<unsigned short>(text[1]) - 0xDC00);
        *units = 2;
    } else if (is_high_surrogate(text[0]) || is_low_surrogate(text[0])) {
        code = 0xFFFD;
    }

    auto* bytes = reinterpret_cast<unsigned char*>(out);
    if (code < 0x80) {
        bytes[0] = static_cast<unsigned char>(code);
        return 1;
    }
    if (code < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
    bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
    return 4;
}
