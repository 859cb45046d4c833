// The application folder as the payload archive will hold it: every regular
// file under the root, named by its path relative to the root with '\' as the
// separator, the application library first and the rest sorted by code units.
//
// Only names the launcher can write back safely are accepted: the launcher
// joins each name to its extraction directory as it stands, so a name must not
// climb out of it, name a drive or a device, be changed by Windows' own name
// trimming, or collide with another name on a case-insensitive file system.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

struct AppFile {
    std::u16string name;           // archive name, '\' separated
    std::filesystem::path source;  // where the bytes are read from
    std::uint64_t size = 0;        // bytes, as found when collected
};

// Why name cannot go into the archive, or "" when it can.
std::string entry_name_problem(std::u16string_view name);

// Collects every regular file under root (following links to files), checks
// every name and that every file opens for reading. Fails on an empty folder,
// special files, links to folders and unreadable folders.
bool collect_app_folder(const std::filesystem::path& root, std::vector<AppFile>& files, std::string& error);

// Adds a file from outside the folder under name (the icon file).
bool add_extra_file(std::vector<AppFile>& files, std::u16string_view name, const std::filesystem::path& source,
                    std::string& error);

// False with a message when two names would be the same file on Windows
// (equal but for letter case, or one a folder of the other).
bool check_name_collisions(const std::vector<AppFile>& files, std::string& error);

// Moves the entry named app_library to the front and sorts the rest.
bool order_entries(std::vector<AppFile>& files, std::u16string_view app_library, std::string& error);

// Quoted UTF-8 form of a name for messages.
std::string quoted_name(std::u16string_view name);
