#include "platform/tree_removal.h"

#include <windows.h>

namespace {

// The longest path Windows takes in its "\\?\" form, plus the terminator.
constexpr DWORD path_capacity = 32768;
// Levels of folders below the directory that are entered: a folder 1,024
// levels down is emptied, one 1,025 levels down is not. Content deeper than
// that stays, so the directory stays: the cleanup's retries then end with it
// left behind, silently, as with any other file that will not go. The limit
// bounds the recursion (two small frames a level).
constexpr int depth_limit = 1024;

// The path being worked on, extended and cut back as the walk goes down and
// up. The find data is shared by every level too: each level reads an entry's
// name and attributes before going down, and the next FindNextFileW refills
// it. Both keep the recursion's frames small (a handle and a length each).
constinit wchar_t path[path_capacity];
constinit WIN32_FIND_DATAW found;

DWORD text_length(const wchar_t* text) {
    DWORD length = 0;
    while (text[length] != 0) ++length;
    return length;
}

bool starts_with(const wchar_t* text, const wchar_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        if (*text != *prefix) return false;
    }
    return true;
}

bool is_separator(wchar_t unit) {
    return unit == L'\\' || unit == L'/';
}

bool is_drive_path(const wchar_t* text) {
    const wchar_t letter = static_cast<wchar_t>(text[0] | 0x20);
    return letter >= L'a' && letter <= L'z' && text[1] == L':' && is_separator(text[2]);
}

// Writes text at path + at; false (path untouched beyond at) when it and the
// terminator do not fit. Forward slashes become backslashes if asked: a
// "\\?\" path is taken literally, so they would name nothing.
bool put_text(DWORD at, const wchar_t* text, bool turn_slashes, DWORD* end) {
    const DWORD length = text_length(text);
    if (length >= path_capacity - at) return false;
    for (DWORD i = 0; i < length; ++i) {
        path[at + i] = turn_slashes && text[i] == L'/' ? L'\\' : text[i];
    }
    path[at + length] = 0;
    *end = at + length;
    return true;
}

// The directory in its "\\?\" form: C:\x becomes \\?\C:\x, \\server\share\x
// becomes \\?\UNC\server\share\x, a path already in a device form is kept, and
// anything else (a relative path) goes as given, under the usual limits.
// Trailing separators are dropped, except the one of a drive's root.
bool set_up_path(const wchar_t* directory, DWORD* length) {
    DWORD at = 0;
    bool ok;
    if (starts_with(directory, L"\\\\?\\") || starts_with(directory, L"\\\\.\\")) {
        ok = put_text(0, directory, false, length);
    } else if (is_separator(directory[0]) && is_separator(directory[1])) {
        ok = put_text(0, L"\\\\?\\UNC\\", false, &at) && put_text(at, directory + 2, true, length);
    } else if (is_drive_path(directory)) {
        ok = put_text(0, L"\\\\?\\", false, &at) && put_text(at, directory, true, length);
    } else {
        ok = put_text(0, directory, false, length);
    }
    if (!ok) return false;
    while (*length > 1 && is_separator(path[*length - 1]) && path[*length - 2] != L':') path[--*length] = 0;
    return *length > 0;
}

bool is_dot_or_dot_dot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

void make_writable(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
}

void remove_contents(DWORD length, int depth);

// Removes the entry named by path[0, length), whose attributes the search
// (or GetFileAttributesW) reported. depth: how many levels below the
// directory it lies (0 for the directory itself).
void remove_entry(DWORD length, DWORD attributes, int depth) {
    const bool is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The link itself, whatever it points to; its target is never touched.
        if (is_directory) {
            RemoveDirectoryW(path);
        } else {
            DeleteFileW(path);
        }
        return;
    }
    make_writable(attributes);
    if (!is_directory) {
        DeleteFileW(path);
        return;
    }
    if (depth <= depth_limit) remove_contents(length, depth);
    path[length] = 0;
    RemoveDirectoryW(path);
}

// Removes everything in the folder named by path[0, length), which lies depth
// levels below the directory.
void remove_contents(DWORD length, int depth) {
    DWORD base = length;
    if (!is_separator(path[base - 1])) path[base++] = L'\\';
    if (base + 2 > path_capacity) return;
    path[base] = L'*';
    path[base + 1] = 0;
    HANDLE search =
        FindFirstFileExW(path, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (is_dot_or_dot_dot(found.cFileName)) continue;
        DWORD end = 0;
        if (!put_text(base, found.cFileName, false, &end)) continue;  // left behind
        remove_entry(end, found.dwFileAttributes, depth + 1);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

void remove_directory_tree(const wchar_t* directory) {
    DWORD length = 0;
    if (directory == nullptr || !set_up_path(directory, &length)) return;
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A plain file is not ours to remove; a link standing for the directory is.
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) return;
    remove_entry(length, attributes, 0);
}
