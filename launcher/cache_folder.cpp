#include "launcher/cache_folder.h"

#include <stdio.h>

#include "format/cache_layout.h"
#include "launcher/cache_record.h"
#include "launcher/extraction.h"
#include "launcher/fatal_report.h"
#include "launcher/folder_lock.h"
#include "launcher/main_sequence.h"
#include "launcher/payload_reader.h"
#include "paths/environment.h"
#include "paths/path_normalise.h"
#include "paths/path_spec.h"
#include "paths/wide_buffer.h"
#include "platform/system_calls.h"

namespace {

// Names are <key>.<infix><pid>-<n>; a name still taken after this many tries
// means something other than a dead run's leftovers is in the way.
constexpr unsigned own_name_attempts = 100;
constexpr unsigned rename_attempts = 20;
constexpr DWORD rename_retry_ms = 25;

void work_out_cache_root(CachedFolder& folder, const wchar_t* cache_spec) {
    bool expanded = expand_path_spec(folder.root, cache_spec, path_capacity);
    make_directory_absolute(folder.root, path_capacity);
    if (!expanded) report_expansion_failure(cache_spec);
}

void join_final_folder(CachedFolder& folder) {
    wide_copy(folder.final_folder, folder.root, path_capacity);
    wide_append_or_stop(folder.final_folder, L"\\", path_capacity, "cache folder path");
    wide_append_or_stop(folder.final_folder, folder.key, path_capacity, "cache folder path");
}

void use_folder(CachedFolder& folder, const wchar_t* path) {
    wide_copy(folder.in_use, path, path_capacity);
}

// Drops this run's staging folder: its content when remove is true (a copy
// nobody needs), and its lock, which goes away with the handle.
void drop_staging(CachedFolder& folder, bool remove) {
    if (remove) sys.remove_directory_tree(folder.staging);
    release_lock(folder.staging_lock);
    folder.staging_lock = nullptr;
    folder.staging[0] = L'\0';
}

// The lock comes first, so that no sweep ever sees the folder unlocked while
// this run fills it. A folder of the same name without a held lock is what a
// killed run left; it is emptied and reused.
void make_staging_folder(CachedFolder& folder) {
    for (unsigned attempt = 0; attempt < own_name_attempts; ++attempt) {
        name_own_folder(folder.staging, folder, cache_layout::staging_infix, attempt);
        folder.staging_lock = create_private_lock(folder.staging);
        if (folder.staging_lock == nullptr) continue;
        sys.remove_directory_tree(folder.staging);
        if (sys.CreateDirectoryW(folder.staging, nullptr)) return;
        report_system_error("Error, couldn't create a staging folder in the cache folder.", GetLastError());
    }
    report_message("Error, couldn't lock a staging folder in the cache folder.");
}

// The staging folder becomes the run state's extraction directory, so the
// entries go through the same joining, checks and writes as in temp mode.
void unpack_into_staging(RunState& state, CachedFolder& folder) {
    wide_copy(state.extraction_directory, folder.staging, extraction_directory_capacity);
    CacheRecord record;
    start_record(record, folder.key);
    PayloadReader::open();
    while (PayloadReader::read_entry_name(state.entry_name)) {
        join_entry_path(state);
        if (folder.first_entry[0] == L'\0') wide_copy(folder.first_entry, state.entry_name, entry_name_capacity);
        extract_entry(state);
        record_unpacked_file(record, state.entry_name, state.current_file_path);
    }
    if (folder.first_entry[0] == L'\0') report_missing_application_library();
    PayloadReader::close();
    write_record(record, folder.staging);
    release_record(record);
}

// Moving the damaged folder aside first frees the final name at once, even
// when part of the old tree cannot be removed yet (a later sweep retries).
void move_aside_and_remove(CachedFolder& folder) {
    wchar_t removing[path_capacity];
    for (unsigned attempt = 0; attempt < own_name_attempts; ++attempt) {
        name_own_folder(removing, folder, cache_layout::removing_infix, attempt);
        if (sys.MoveFileExW(folder.final_folder, removing, 0)) {
            sys.remove_directory_tree(removing);
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    sys.remove_directory_tree(folder.final_folder);
}

// Only with the final folder's lock held alone: no live run uses the damaged
// folder, and no other run can start using it meanwhile. False when a live
// run holds it (it is then left as it is).
bool replace_damaged_final(CachedFolder& folder) {
    release_lock(folder.final_lock);
    folder.final_lock = nullptr;
    // Not taken again when it fails: this run will not use that folder, and
    // holding it would only keep a later run from repairing it.
    HANDLE sole = open_exclusive_lock(folder.final_folder);
    if (sole == nullptr) return false;
    move_aside_and_remove(folder);
    bool published = sys.MoveFileExW(folder.staging, folder.final_folder, 0);
    release_lock(sole);
    folder.final_lock = wait_for_shared_lock(folder.final_folder);
    if (!published) return false;
    drop_staging(folder, false);
    // Between the exclusive and the shared hold another repair may have put
    // its own complete copy in place; any complete copy will do.
    if (folder.final_lock == nullptr || !folder_matches_record(folder.final_folder, folder.key, folder.first_entry)) {
        report_message("Error, the cached folder changed while it was being published.");
    }
    use_folder(folder, folder.final_folder);
    return true;
}

// A scanner that still holds a file just written makes Windows refuse to
// rename its folder for a moment; only a taken name is final at once.
bool rename_staging_to_final(const CachedFolder& folder) {
    for (unsigned attempt = 0;; ++attempt) {
        if (sys.MoveFileExW(folder.staging, folder.final_folder, 0)) return true;
        const DWORD error = GetLastError();
        if (attempt == rename_attempts || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return false;
        if (sys.GetFileAttributesW(folder.final_folder) != INVALID_FILE_ATTRIBUTES) return false;
        sys.Sleep(rename_retry_ms);
    }
}

void publish_staging(CachedFolder& folder) {
    if (rename_staging_to_final(folder)) {
        drop_staging(folder, false);
        use_folder(folder, folder.final_folder);
        return;
    }
    // The final name is taken: by a rival's complete copy, or by a damaged one.
    if (folder_matches_record(folder.final_folder, folder.key, folder.first_entry)) {
        drop_staging(folder, true);
        use_folder(folder, folder.final_folder);
        return;
    }
    if (replace_damaged_final(folder)) return;
    // A live run holds the damaged folder: this run keeps its own copy.
    use_folder(folder, folder.staging);
}

}  // namespace

void name_own_folder(wchar_t* out, const CachedFolder& folder, const wchar_t* infix, unsigned attempt) {
    char narrow[64];
    snprintf(narrow, sizeof narrow, "%lu-%u", static_cast<unsigned long>(GetCurrentProcessId()), attempt);
    wchar_t suffix[64];
    widen_ascii(suffix, narrow, 64);
    wide_copy(out, folder.final_folder, path_capacity);
    wide_append_or_stop(out, infix, path_capacity, "cache folder path");
    wide_append_or_stop(out, suffix, path_capacity, "cache folder path");
}

void open_cached_folder(RunState& state, const wchar_t* cache_spec, const wchar_t* key) {
    CachedFolder& folder = state.cached;
    folder.key = key;
    work_out_cache_root(folder, cache_spec);
    join_final_folder(folder);
    folder.final_lock = open_shared_lock(folder.final_folder);
    if (folder.final_lock == nullptr) {
        // A first start: the cache folder itself may not be there yet.
        ensure_parent_directories(state.directories, folder.final_folder);
        folder.final_lock = wait_for_shared_lock(folder.final_folder);
    }
    if (folder.final_lock == nullptr) {
        report_system_error("Error, couldn't lock the cached folder.", GetLastError());
    }
    if (folder_matches_record(folder.final_folder, folder.key, folder.first_entry)) {
        use_folder(folder, folder.final_folder);
        return;
    }
    folder.first_entry[0] = L'\0';
    make_staging_folder(folder);
    unpack_into_staging(state, folder);
    publish_staging(folder);
}
