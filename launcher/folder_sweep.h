// The sweep of ended runs' folders: a run killed from outside, or one whose
// folder could not be deleted at its end, leaves its folder behind; the next
// parent that starts in the same temporary folder removes it.
//
// A folder is removed only when it is named like a run's folder and its
// marker exists and nobody holds it (run_marker.h): a live run's folder is
// never touched, and neither is a folder without a marker. The removal is the
// cleanup's own (tree_removal.h), so a link inside leads nowhere; the marker
// goes only once its folder is gone, so a folder that stays is tried again
// at a later start.
#pragma once

#include "launcher/run_state.h"  // SweepBuffers

// The work of one sweep is bounded: at most this many folders named like
// runs' are looked at, and at most this many of them removed.
constexpr int sweep_look_limit = 64;
constexpr int sweep_removal_limit = 16;

// Sweeps the folder that holds own_folder (this run's extraction directory,
// itself skipped), building paths in buffers; returns how many ended runs'
// folders it removed. Never prints and never fails the run.
int sweep_ended_runs(const wchar_t* own_folder, SweepBuffers& buffers);
