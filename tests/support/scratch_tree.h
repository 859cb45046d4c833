// Removing what a Windows-side test made: one call per entry, so that a tree
// beyond 260 units goes too (path may be in its \\?\ form); a link is removed,
// never followed, and a read-only file is made writable first.
#pragma once

#include <windows.h>

#include <cwchar>
#include <set>
#include <string>

namespace test_support {

inline bool remove_scratch_tree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!directory || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (directory) return RemoveDirectoryW(path.c_str());
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(path.c_str());
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") remove_scratch_tree(path + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(path.c_str());
}

// The names of a folder's entries, without "." and "..": empty when there is
// no such folder.
inline std::set<std::wstring> names_in(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) names.insert(entry.cFileName);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return names;
}

}  // namespace test_support
