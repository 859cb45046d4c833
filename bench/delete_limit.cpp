// delete_limit DIR: the deletion floor of a launcher run.
//
// Deletes the tree under DIR file by file, timed: one directory listing per
// directory, DeleteFileW for each file, RemoveDirectoryW for each directory
// once it is empty, DIR last.
//
// Prints: delete_seconds, files, directories.
#include <string>

#include "bench/bench_support.h"

namespace {

struct Counts {
    std::uint64_t files = 0;
    std::uint64_t directories = 0;
};

bool is_dot_name(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

void delete_tree(const std::wstring& directory, Counts& counts) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) bench::fail_with_error("cannot list a directory", GetLastError());
    do {
        if (is_dot_name(found.cFileName)) continue;
        const std::wstring path = directory + L"\\" + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            delete_tree(path, counts);
        } else {
            if (!DeleteFileW(path.c_str())) bench::fail_with_error("cannot delete a file", GetLastError());
            ++counts.files;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (!RemoveDirectoryW(directory.c_str())) bench::fail_with_error("cannot remove a directory", GetLastError());
    ++counts.directories;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) bench::fail("usage: delete_limit DIR");
    Counts counts;
    const double start = bench::seconds_now();
    delete_tree(argv[1], counts);
    const double elapsed = bench::seconds_now() - start;
    bench::print_result(bench::seconds_field("delete_seconds", elapsed) + " " +
                        bench::bytes_field("files", counts.files) + " " +
                        bench::bytes_field("directories", counts.directories));
    return 0;
}
