// The one place where the process environment is touched.
//
// Names are narrow ASCII constants, widened byte by byte to UTF-16 on use (at
// most 39 characters; a longer name or a byte that does not widen to exactly
// one code unit aborts before the environment is touched). A read returns a
// heap copy (malloc) that belongs to the caller, or null when the variable is
// absent, empty, or longer than 32,767 characters, or the copy cannot be
// allocated.
#pragma once

#include <windows.h>

#include <cstddef>

// Widened names: 39 characters and the terminator.
constexpr std::size_t environment_name_capacity = 40;
// The longest value Windows allows, 32,767 characters, and the terminator.
constexpr std::size_t environment_value_capacity = 32768;

wchar_t* env_read_wide(const wchar_t* name);
wchar_t* env_read(const char* name);
BOOL env_write(const char* name, const wchar_t* value);
BOOL env_remove(const char* name);

// Widens a narrow ASCII text byte by byte into destination (capacity code
// units, terminator included) through the runtime's mbstowcs; aborts if a byte
// does not give exactly one code unit or the text does not fit.
void widen_ascii(wchar_t* destination, const char* text, std::size_t capacity);
