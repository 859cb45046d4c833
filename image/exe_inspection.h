// onefile-build --list, --extract and --verify: a built exe read as it lies on
// disk, never run. A signed exe reads the same, since its certificate table
// lies after the last section. A file that is not one of ours, a damaged
// payload or an unsafe entry name gives false with a one-line error.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// The build's texts, subsystem and content key, then one line per entry:
// its size and its name, in archive order.
bool list_exe(const std::filesystem::path& exe, std::FILE* out, std::string& error);

// Writes every entry under folder (made if missing; an existing one must be
// empty, so nothing is ever overwritten).
bool extract_exe(const std::filesystem::path& exe, const std::filesystem::path& folder, std::FILE* out,
                 std::string& error);

// The payload decodes completely and the image contract holds.
bool verify_exe(const std::filesystem::path& exe, std::FILE* out, std::string& error);
