// read_limit DIR: what checking the content of every file of a cached folder
// would cost at the least: every file under DIR read once, whole, in
// 131,072-byte reads, timed. Any content check (a hash compared with one the
// build recorded) costs this and its hashing on top.
//
// Prints: read_seconds, files, bytes.
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

constexpr DWORD read_size = 131072;

struct Counts {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

void read_tree(const std::wstring& directory, std::vector<unsigned char>& buffer, Counts& counts) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) bench::fail_with_error("cannot list a directory", GetLastError());
    do {
        if (found.cFileName[0] == L'.') continue;
        const std::wstring path = directory + L"\\" + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            read_tree(path, buffer, counts);
            continue;
        }
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) bench::fail_with_error("cannot open a file", GetLastError());
        DWORD got = 0;
        while (ReadFile(file, buffer.data(), read_size, &got, nullptr) && got > 0) counts.bytes += got;
        CloseHandle(file);
        ++counts.files;
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) bench::fail("usage: read_limit DIR");
    std::vector<unsigned char> buffer(read_size);
    Counts counts;
    const double start = bench::seconds_now();
    read_tree(argv[1], buffer, counts);
    const double elapsed = bench::seconds_now() - start;
    bench::print_result(bench::seconds_field("read_seconds", elapsed) + " " +
                        bench::bytes_field("files", counts.files) + " " + bench::bytes_field("bytes", counts.bytes));
    return 0;
}
