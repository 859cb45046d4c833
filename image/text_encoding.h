// UTF-8 <-> UTF-16 for the host tools. Names in the payload archive and the
// texts in the resources are UTF-16; the tools take them from UTF-8 command
// lines and (on POSIX) UTF-8 file names.
#pragma once

#include <string>
#include <string_view>

// Strict decoding: false for overlong forms, surrogate code points, values
// above U+10FFFF and truncated sequences. On failure out is unspecified.
bool utf8_to_utf16(std::string_view text, std::u16string& out);

// Encoding for messages; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);
