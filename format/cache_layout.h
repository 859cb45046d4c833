// The cached mode's names on disk, shared by onefile-build (which makes the
// content key) and the launcher (which names, finds and sweeps folders by it).
// Windows-free.
//
// Under the folder the cache spec expands to:
//
//   <key>                          a complete folder of one build; its record
//                                  file, written last, lists what it holds
//   <key>.lock                     held open by every live run of that build
//   <key>.staging-<pid>-<n>        a folder being unpacked (or a run's private
//   <key>.staging-<pid>-<n>.lock   copy), and the lock its owner holds
//   <key>.removing-<pid>-<n>       a damaged folder on its way out
//
// A key is the first 32 lowercase hexadecimal digits (128 bits) of the
// payload block's SHA-256, the content key onefile-build --list shows
// (image/content_key.h): the same block always gives the same folder, and no
// build can be made on purpose to take another build's folder name.
// onefile-build computes it; the launcher only carries it.
// Nothing else under the cache folder is ever touched: only names that begin
// with a key followed by the end or a '.'.
#pragma once

#include <cstddef>

namespace cache_layout {

inline constexpr std::size_t key_length = 32;
inline constexpr wchar_t record_file_name[] = L".onefile-record";
inline constexpr wchar_t lock_suffix[] = L".lock";
inline constexpr wchar_t staging_infix[] = L".staging-";
inline constexpr wchar_t removing_infix[] = L".removing-";

template <typename Unit>
constexpr bool is_key_digit(Unit unit) {
    return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f');
}

// True when name begins with a content key that ends there or at a '.': a
// name the cached mode may have made.
template <typename Unit>
constexpr bool is_cache_entry_name(const Unit* name) {
    for (std::size_t i = 0; i < key_length; ++i) {
        if (!is_key_digit(name[i])) return false;
    }
    return name[key_length] == 0 || name[key_length] == '.';
}

}  // namespace cache_layout
