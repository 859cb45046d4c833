// Removal of what other builds and dead runs left under the cache folder.
#pragma once

#include "launcher/cache_folder.h"

// Every entry of folder.root whose name the cached mode makes
// (format/cache_layout.h), other than this run's own folders, is removed
// with its lock, unless a live run holds that lock: other builds' folders,
// staging folders of killed runs, private copies whose run has ended, folders
// a repair moved aside, orphaned locks. Nothing else under the root is
// touched. Never fails: what cannot go now is tried again by the next run.
void sweep_cache_folder(const CachedFolder& folder);
