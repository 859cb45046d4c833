// The cached mode's folder: one complete folder per build under the folder
// the cache spec names, found, checked, or unpacked and published.
//
// A run never trusts a folder it has not checked, and never alters one that
// a live run holds (launcher/folder_lock.h):
//  1. It holds the final folder's lock (shared), then checks the folder
//     against its record (launcher/cache_record.h). A match is a warm start.
//  2. Otherwise it unpacks into a staging folder of its own beside the final
//     one, writes the record last, and publishes the staging folder by one
//     rename. Nothing half-written ever carries the final name.
//  3. The rename fails when the final folder exists. A rival's complete copy
//     is used and the staging folder removed; a damaged folder that no live
//     run holds is moved aside, removed and replaced; a damaged folder that a
//     live run holds is left alone, and this run works from its staging
//     folder, a private copy that a later run sweeps away.
#pragma once

#include <windows.h>

#include "launcher/run_state.h"

// Fills state.cached.in_use with a checked, complete folder of the build whose
// payload is linked, under cache_spec expanded, and keeps it locked for the
// rest of the process. Unpacking goes through the run state's extraction
// buffers. Every failure ends the process with one line and exit code 2.
void open_cached_folder(RunState& state, const wchar_t* cache_spec, const wchar_t* key);

// root\<key><infix><pid>-<attempt> into out (path_capacity code units).
void name_own_folder(wchar_t* out, const CachedFolder& folder, const wchar_t* infix, unsigned attempt);
