#include "launcher/cached_start.h"

#include "launcher/cache_folder.h"
#include "launcher/cache_sweep.h"
#include "launcher/launcher_state.h"
#include "launcher/main_sequence.h"
#include "launcher/mode_constants.h"
#include "paths/environment.h"
#include "paths/path_normalise.h"
#include "paths/wide_buffer.h"

namespace {

// Process-wide: its locks are held until the process ends.
constinit CachedFolder cached_folder = {};

void point_at_application(const CachedFolder& folder) {
    wide_copy(extraction_directory, folder.in_use, extraction_directory_capacity);
    wide_copy(application_library_path, folder.in_use, path_capacity);
    wide_append_or_stop(application_library_path, L"\\", path_capacity, "file path");
    wide_append_or_stop(application_library_path, folder.first_entry, path_capacity, "file path");
}

}  // namespace

int run_cached_start(int argument_count, wchar_t** argument_vector) {
    prepare_parent_environment();
    open_cached_folder(cached_folder, onefile_cache_spec, onefile_content_key);
    sweep_cache_folder(cached_folder);
    point_at_application(cached_folder);
    publish_launcher_directory();
    env_write("ZORVEK_ORIGINAL_ARGV0", argument_vector[0]);
    // As a child started from the module path would see it.
    argument_vector[0] = launcher_module_path;
    return run_application_library(argument_count, argument_vector);
}
