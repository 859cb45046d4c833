// Locks that say a cached folder is in use: for each folder <f> under the
// cache folder, the file <f>.lock beside it (never inside, so that holding it
// does not stop the folder from being renamed).
//
// Whoever uses a folder keeps its lock open for as long as the process lives;
// the system closes it when the process ends, however it ends. Whoever wants
// to alter or remove a folder opens its lock with no sharing at all, which
// fails while any live run holds it. So "in use" is never guessed from names,
// dates or process ids.
#pragma once

#include <windows.h>

// Builds folder + ".lock" into lock_path (capacity code units); false when it
// does not fit.
bool folder_lock_path(wchar_t* lock_path, const wchar_t* folder, std::size_t capacity);

// Shared use of folder, which others may share: opened (made if missing) for
// reading, shared for reading only. Null when someone holds it exclusively
// (a repair or a removal under way) or it cannot be opened.
HANDLE open_shared_lock(const wchar_t* folder);
// Like open_shared_lock, waiting out someone else's short exclusive hold:
// tries for about two seconds. Null after that.
HANDLE wait_for_shared_lock(const wchar_t* folder);
// Sole use of folder: null while any live run holds its lock. The lock file
// goes away when the handle is closed.
HANDLE open_exclusive_lock(const wchar_t* folder);
// A lock for a folder name nobody has used yet (a staging folder): made new,
// held alone, gone when closed. Null when the name's lock already exists.
HANDLE create_private_lock(const wchar_t* folder);
void release_lock(HANDLE lock);
