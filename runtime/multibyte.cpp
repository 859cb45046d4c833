// mbstowcs in the "C" locale, which the image never leaves: each byte is one
// character whose code is the byte's value, so no input is ever invalid.
#include "runtime/runtime.h"

rt_size rt_mbstowcs(wchar_t* destination, const char* source, rt_size count) {
    if (destination == nullptr) {
        rt_size length = 0;
        while (source[length] != '\0') ++length;
        return length;
    }
    rt_size converted = 0;
    for (; converted < count; ++converted) {
        auto byte = static_cast<unsigned char>(source[converted]);
        destination[converted] = static_cast<wchar_t>(byte);
        if (byte == 0) break;
    }
    return converted;
}
