// How the launcher finds its folder: temp mode (a fresh folder per run under
// the --temp-dir spec, removed at the end) or cached mode (--cache-dir: one
// folder per build, named by the content key, kept between runs).
//
// onefile-build writes the choice into the image as three zero-terminated
// UTF-16 arrays beside the build constants:
//   onefile_cache_spec    the --cache-dir spec; empty in temp mode
//   onefile_temp_spec     the --temp-dir spec, "{TEMP}" by default
//   onefile_content_key   the payload block's key (format/cache_layout.h)
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "format/path_placeholders.h"

inline constexpr char cache_spec_symbol[] = "onefile_cache_spec";
inline constexpr char temp_spec_symbol[] = "onefile_temp_spec";
inline constexpr char content_key_symbol[] = "onefile_content_key";
inline constexpr char default_temp_spec[] = "{TEMP}";

struct LaunchMode {
    std::u16string cache_spec;
    std::u16string temp_spec;
    std::u16string content_key;
};

// A folder spec the launcher can use in every run: valid UTF-8 of at most
// max_folder_spec_units, every placeholder closed and known and none that
// changes from run to run, absolute whatever the placeholders expand to
// (beginning with {TEMP}, {HOME}, {CACHE_DIR}, a drive "X:\" or "\\"), no
// character a folder name cannot hold, no '/', no "." or ".." component.
// False with one line naming option and what is wrong.
bool check_folder_spec(const char* option, const std::string& spec, std::u16string& out, std::string& error);

// The key of a payload block, as the launcher names its cached folder.
std::u16string content_key_of(const std::vector<unsigned char>& block);

// The launch mode written into a built image, found by its key (the three
// arrays lie one after the other, key last). False when the image does not
// hold the key as onefile-build writes it.
bool read_launch_mode(const std::vector<unsigned char>& image, const std::u16string& key, LaunchMode& mode);

// Checks both specs (an empty cache spec is temp mode), before anything is
// packed. In cached mode an application file at the top level under the
// record's name is refused: the launcher writes its own record there. The
// content key is left for the caller to fill once the block exists.
bool make_launch_mode(const std::string& cache_spec, const std::string& temp_spec, const std::filesystem::path& app_dir,
                      LaunchMode& mode, std::string& error);
