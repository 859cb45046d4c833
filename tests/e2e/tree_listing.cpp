#include "tree_listing.h"

#include <windows.h>

namespace {

constexpr std::uint64_t fnv_offset = 0xcbf29ce484222325ull;
constexpr std::uint64_t fnv_prime = 0x100000001b3ull;

bool hash_file(const std::wstring& path, std::uint64_t& size, std::uint64_t& hash) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    size = 0;
    hash = fnv_offset;
    unsigned char chunk[65536];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        for (DWORD i = 0; i < got; ++i) hash = (hash ^ chunk[i]) * fnv_prime;
        size += got;
    }
    CloseHandle(file);
    return ok;
}

bool list_folder(const std::wstring& root, const std::wstring& relative, TreeListing& listing) {
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        TreeEntry entry;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entry.is_folder = true;
            ok = list_folder(root, child, listing) && ok;
        } else {
            ok = hash_file(root + L"\\" + child, entry.size, entry.hash) && ok;
        }
        listing[child] = entry;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

}  // namespace

bool operator==(const TreeEntry& a, const TreeEntry& b) {
    return a.is_folder == b.is_folder && a.size == b.size && a.hash == b.hash;
}

bool list_tree(const std::wstring& root, TreeListing& listing) {
    listing.clear();
    return list_folder(root, L"", listing);
}
