// What a temp-mode run's folder and its liveness marker are called, in one
// place: the parent names its own by them, and the sweep of ended runs
// (folder_sweep.h) recognises other runs' by them.
#pragma once

#include <cstddef>

// The extraction directory of a run, appended to the folder the build's temp
// spec names ({TEMP} unless onefile-build --temp-dir names another). {PID} is
// the parent's decimal process id, {TIME_US} six decimal digits, {RANDOM}
// eleven base64url characters.
constexpr const wchar_t* run_folder_spec = L"\\onefile_{PID}_{TIME_US}_{RANDOM}";

// The marker lies beside the folder, named after it with this added.
constexpr wchar_t run_marker_suffix[] = L".live";
constexpr std::size_t run_marker_suffix_length = sizeof run_marker_suffix / sizeof run_marker_suffix[0] - 1;

// marker (run_marker_capacity units, run_state.h) := folder + ".live"; folder
// is an extraction directory, so it always fits.
void name_run_marker(wchar_t* marker, const wchar_t* folder);

// True for a name the extraction directory spec gives its last component:
// "onefile_", 1 to 10 digits, "_", 6 digits, "_", 11 base64url characters.
bool is_run_folder_name(const wchar_t* name);
