// The launch mode the build chose (written by onefile-build beside the build
// constants; see image/launch_mode.h): temp mode when the cache spec is empty.
#pragma once

extern "C" const wchar_t onefile_cache_spec[];
extern "C" const wchar_t onefile_temp_spec[];
extern "C" const wchar_t onefile_content_key[];

inline bool cached_mode() {
    return onefile_cache_spec[0] != L'\0';
}
