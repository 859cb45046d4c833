// The launcher's run state: every buffer and flag that the steps of one run
// share, in one structure. Each step takes the run state (or the part of it
// it works on) as a parameter, so a signature says what a step reads and
// writes, and a test starts from one reset state instead of several globals.
//
// The image keeps one static instance for the life of the process (wWinMain);
// the sizes are fixed so that no step allocates a path buffer. Capacities are
// in code units, terminator included.
//
// Two threads touch it: the main thread does everything; the console control
// handler, started by Windows on a thread of its own, reaches the run state
// through register_run_state and uses only the cleanup flags and the
// extraction directory (see cleanup.cpp). The exit that follows a failure
// after the folder was made reaches the same flags the same way.
#pragma once

#include <windows.h>

#include <cstddef>

#include "format/payload_layout.h"
#include "launcher/run_folder_name.h"  // run_marker_suffix

// A path built under the extraction directory (folder + '\' + entry name).
constexpr std::size_t path_capacity = 4096;
constexpr std::size_t extraction_directory_capacity = 4096;
// The extraction directory's liveness marker: the directory with ".live".
constexpr std::size_t run_marker_capacity = extraction_directory_capacity + run_marker_suffix_length;
// One archive entry name with its terminator.
constexpr std::size_t entry_name_capacity = payload_layout::name_buffer_units;
// Any path the system hands out for a module: 32,767 units and the
// terminator. A result that fills the buffer was cut and stops the launcher.
constexpr std::size_t module_path_capacity = 32768;
constexpr std::size_t child_command_line_capacity = 32768;
constexpr std::size_t write_buffer_size = 32768;
constexpr std::size_t directory_cache_capacity = 1024;

// Directories known to exist: heap copies, kept for the life of the process
// (released by reset_run_state, for tests).
struct DirectoryCache {
    wchar_t* entries[directory_cache_capacity];
    std::size_t count;
};

// Shared by the main thread and the console handler thread; every access is
// interlocked (see cleanup.cpp for who owns what and when).
struct CleanupFlags {
    // One of the two handles on the running child, or null.
    HANDLE volatile child_process;
    // 1 once this run made the extraction directory: only then is it deleted.
    volatile LONG extraction_started;
    // The thread whose turn it is to change the folder (make entries in it,
    // start the child, delete it), or 0; and how often it took its turn.
    volatile LONG folder_turn_owner;
    int folder_turn_depth;
    // 1 once an interrupt, break, close, log-off or shut-down event arrived.
    volatile LONG console_event_seen;
    // The parent's handle on its liveness marker (run_marker.h), or null.
    HANDLE volatile run_marker;
    // 1 from the making of the folder until the launch's own cleanup: any
    // exit in between runs the cleanup first.
    volatile LONG cleanup_at_exit_armed;
};

// Where the sweep of ended runs (folder_sweep.h) names a folder and its marker.
struct SweepBuffers {
    wchar_t folder[extraction_directory_capacity];
    wchar_t marker[run_marker_capacity];
};

// The cached mode's folders and locks (launcher/cache_folder.h). The locks
// are held until the process ends.
struct CachedFolder {
    // The build's content key (format/cache_layout.h).
    const wchar_t* key;
    // The cache spec, expanded and absolute.
    wchar_t root[path_capacity];
    // root\<content key>
    wchar_t final_folder[path_capacity];
    // root\<key>.staging-<pid>-<n> while this run has one; else empty.
    wchar_t staging[path_capacity];
    // The complete folder this run starts the application from.
    wchar_t in_use[path_capacity];
    // The application library's name, the record's first entry.
    wchar_t first_entry[entry_name_capacity];
    // Held until the process ends: the final folder's shared lock, and the
    // staging folder's own lock while a staging folder exists.
    HANDLE final_lock;
    HANDLE staging_lock;
};

struct RunState {
    // True when this process is the child of a live launcher of the same file.
    bool child;
    // Where the payload goes; absolute once the main sequence has worked it out.
    wchar_t extraction_directory[extraction_directory_capacity];
    // The liveness marker beside it (parent only).
    wchar_t run_marker_path[run_marker_capacity];
    // The entry being extracted: its name, then its joined path.
    wchar_t entry_name[entry_name_capacity];
    wchar_t current_file_path[path_capacity];
    // The first entry's joined path: the library the child loads.
    wchar_t application_library_path[path_capacity];
    // The launcher's own path as GetModuleFileNameW reports it; read once,
    // through launcher_module_path only.
    wchar_t module_path[module_path_capacity];
    // module_path resolved and shortened, for the comparison with a parent.
    wchar_t identity_path[module_path_capacity];
    // The other process's image path, normalised the same way.
    wchar_t other_image_path[module_path_capacity];
    // The launcher's folder, for ZORVEK_ONEFILE_DIRECTORY.
    wchar_t launcher_directory[module_path_capacity];
    // Writable and kept for the rest of the process: CreateProcessW may write
    // into the command line it is given.
    wchar_t child_command_line[child_command_line_capacity];
    // Every entry's bytes pass through this one buffer on their way to the file.
    unsigned char write_buffer[write_buffer_size];
    // The file being written, or null: a failure half-way closes it before
    // the folder is removed. Main thread only.
    HANDLE file_being_written;
    DirectoryCache directories;
    SweepBuffers sweep;
    CleanupFlags cleanup;
    CachedFolder cached;
};

// The launcher's own path (GetModuleFileNameW), read into the run state on
// first use and kept. A failed call aborts; a path that fills the buffer stops
// with "Error, executable path is too long." and exit code 2.
const wchar_t* launcher_module_path(RunState& state);

// Makes state the one the console handler (and any other path that cannot be
// handed a parameter) works on; null withdraws it.
void register_run_state(RunState* state);
RunState* registered_run_state();

// Releases the directory cache's copies and zeroes everything: the state of a
// process that has not started. Tests call it between cases.
void reset_run_state(RunState& state);
