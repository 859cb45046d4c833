// The launcher kit: the prebuilt image code and the facts about the cross
// toolchain that onefile-build needs, written by the Windows tree
// (cmake/kit.cmake) into one folder:
//   libonefile_launcher.a libonefile_paths.a libonefile_platform.a
//   libonefile_runtime.a libzstd_decompress.a
//   link-flags.txt, link-libraries.txt   one item per line
//   toolchain.txt                        cxx=<driver>, windres=<compiler>
//   app.ico                              the default icon
// Blank lines and lines starting with '#' are ignored in the text files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

inline constexpr const char* kit_library_files[] = {
    "libonefile_launcher.a", "libonefile_paths.a",   "libonefile_platform.a",
    "libonefile_runtime.a",  "libzstd_decompress.a",
};
inline constexpr char kit_default_icon[] = "app.ico";
inline constexpr char kit_environment_variable[] = "ONEFILE_KIT";
// Where `cmake --install` puts the kit, relative to the installed prefix.
inline constexpr char kit_install_folder[] = "lib/onefile/kit";

struct Kit {
    std::filesystem::path dir;
    std::string cxx;
    std::string windres;
    std::vector<std::string> link_flags;
    std::vector<std::string> link_libraries;
    std::vector<std::filesystem::path> libraries;  // absolute, kit_library_files order
    std::filesystem::path default_icon;
};

// The kit folder: option (--kit) if given, else $ONEFILE_KIT, else
// <folder of this executable>/../lib/onefile/kit when that exists (an
// installed prefix), else <folder of this executable>/../kit (build/dist).
bool locate_kit(const std::string& option, std::filesystem::path& dir, std::string& error);

// Reads the kit; error names the first missing or malformed piece.
bool load_kit(const std::filesystem::path& dir, Kit& kit, std::string& error);
