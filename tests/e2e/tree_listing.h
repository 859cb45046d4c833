// A folder's contents as the end-to-end tests compare them: every file and
// subfolder below a root, by relative name ('\' separated), files with their
// size and an FNV-1a 64-bit hash of their bytes. probe_app.dll lists its
// extraction folder with it, and the harness lists the staged application
// folder with it, so the two listings can be compared entry for entry.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct TreeEntry {
    bool is_folder = false;
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
};

// Ordered by name so that two listings compare with ==.
using TreeListing = std::map<std::wstring, TreeEntry>;

bool operator==(const TreeEntry& a, const TreeEntry& b);

// False when root cannot be listed or a file cannot be read.
bool list_tree(const std::wstring& root, TreeListing& listing);
