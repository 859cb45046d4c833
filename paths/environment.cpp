#include "paths/environment.h"

#include <cstdlib>

#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

void widen_ascii(wchar_t* destination, const char* text, std::size_t capacity) {
    if (capacity == 0) abort();
    destination[0] = 0;
    for (const char* byte = text; *byte != 0; ++byte) {
        // One byte at a time: a multibyte sequence must not fold two bytes into
        // one unit, or the widened text would not mirror the narrow one.
        const char single[2] = {*byte, 0};
        wchar_t unit[2] = {0, 0};
        if (mbstowcs(unit, single, 2) != 1) abort();
        wide_append_unit(destination, unit[0], capacity);
    }
}

wchar_t* env_read_wide(const wchar_t* name) {
    wchar_t value[environment_value_capacity];
    value[0] = 0;
    DWORD length = sys.GetEnvironmentVariableW(name, value, environment_value_capacity);
    // 0: absent or empty. A result of the capacity or more is the size the
    // value would need: it did not fit.
    if (length == 0 || length >= environment_value_capacity) return nullptr;
    auto* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) return nullptr;
    wide_copy(copy, value, length + 1);
    return copy;
}

wchar_t* env_read(const char* name) {
    wchar_t wide_name[environment_name_capacity];
    widen_ascii(wide_name, name, environment_name_capacity);
    return env_read_wide(wide_name);
}

BOOL env_write(const char* name, const wchar_t* value) {
    wchar_t wide_name[environment_name_capacity];
    widen_ascii(wide_name, name, environment_name_capacity);
    return SetEnvironmentVariableW(wide_name, value);
}

BOOL env_remove(const char* name) {
    wchar_t wide_name[environment_name_capacity];
    widen_ascii(wide_name, name, environment_name_capacity);
    return SetEnvironmentVariableW(wide_name, nullptr);
}
