// Process-wide path state of the launcher (capacities in code units, terminator
// included). Written on the main thread; the console control handler reads
// only extraction_directory (see launcher/cleanup.h).
#pragma once

#include <cstddef>

#include "launcher/run_folder_name.h"  // run_marker_capacity
#include "paths/path_normalise.h"      // extraction_directory

constexpr std::size_t path_capacity = 4096;
constexpr std::size_t entry_name_capacity = 1024;
constexpr std::size_t module_path_capacity = 4097;

extern wchar_t entry_name[entry_name_capacity];
extern wchar_t current_file_path[path_capacity];
extern wchar_t application_library_path[path_capacity];
extern wchar_t identity_path[module_path_capacity];
extern wchar_t launcher_module_path[module_path_capacity];
extern wchar_t launcher_directory[module_path_capacity];
// The extraction directory's liveness marker (run_marker.h); parent only.
extern wchar_t run_marker_path[run_marker_capacity];
