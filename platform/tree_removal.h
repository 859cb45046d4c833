// Removal of a directory with everything below it, for the launcher's cleanup.
//
// Our own walk instead of the shell's recursive delete: the shell cannot handle
// paths longer than 260 units and may misbehave beyond them (it has been seen
// leaving the tree behind, and emptying the current folder instead when names
// ran to about 1,000 units). Here every path is a "\\?\" path of up to 32,767
// units, and links inside the tree are removed, never followed.
//
// What an entry is, is decided from a handle opened on the entry itself
// (a link opened as the link), and the entry is deleted through that handle,
// so a folder swapped for a junction between the listing and the deletion is
// removed as a junction. A folder is held without delete sharing while its
// content goes, so no folder on the way down can be renamed or replaced.
#pragma once

// Removes directory and everything below it, as far as it can:
//  - a junction or symbolic link met inside is removed itself, never entered,
//    so a link made by the application cannot lead the removal elsewhere; if
//    directory itself is such a link, only the link goes;
//  - read-only files and folders are made writable first;
//  - what cannot go (an open file, a name too long for the 32,768-unit path,
//    the content of a folder more than 1,024 levels down) stays, and so do
//    the folders above it.
// A missing directory, or one naming a plain file, is left as it is. Never
// prints and never fails the process; the caller finds out by looking.
// Callers on several threads take turns: one removal runs at a time.
void remove_directory_tree(const wchar_t* directory);
