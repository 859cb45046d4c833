// write_limit BLOCK DIR: the file-writing floor of a launcher run.
//
// Decodes the block's archive into memory first (not timed), then, timed,
// writes every entry under DIR as the launcher does: each missing directory
// created once, CreateFileW with the launcher's flags, WriteFile in chunks of
// 32768 bytes, CloseHandle. The bytes come straight from memory, so what is
// left is the cost of the file system calls alone. DIR must not exist yet.
//
// Prints: write_seconds, files, directories, bytes.
#include <set>
#include <string>

#include "bench/bench_support.h"

namespace {

constexpr DWORD chunk_size = 32768;

struct Counts {
    std::uint64_t files = 0;
    std::uint64_t directories = 0;
    std::uint64_t bytes = 0;
};

void create_directory(const std::wstring& path, Counts& counts) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        bench::fail_with_error("cannot create a directory", GetLastError());
    }
    ++counts.directories;
}

// Only the directories this run has not made yet: one call for each.
void create_parents(const std::wstring& root, const std::wstring& name, std::set<std::wstring>& made, Counts& counts) {
    for (std::size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at + 1)) {
        std::wstring prefix = name.substr(0, at);
        if (made.insert(prefix).second) create_directory(root + L"\\" + prefix, counts);
    }
}

void write_entry(const std::wstring& path, const bench::Entry& entry, Counts& counts) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) bench::fail_with_error("cannot create a file", GetLastError());
    std::uint64_t done = 0;
    while (done < entry.size) {
        const std::uint64_t left = entry.size - done;
        const DWORD chunk = left < chunk_size ? static_cast<DWORD>(left) : chunk_size;
        DWORD written = 0;
        if (!WriteFile(file, entry.data + done, chunk, &written, nullptr)) {
            bench::fail_with_error("cannot write a file", GetLastError());
        }
        done += chunk;
    }
    CloseHandle(file);
    ++counts.files;
    counts.bytes += entry.size;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) bench::fail("usage: write_limit BLOCK DIR");
    bench::MappedFile block;
    if (!bench::map_file(argv[1], block)) bench::fail_with_error("cannot map the block file", GetLastError());
    std::vector<unsigned char> archive;
    std::vector<bench::Entry> entries;
    if (!bench::decode_archive(block, archive, entries)) bench::fail("cannot decode the block's archive");
    const std::wstring root = argv[2];
    std::set<std::wstring> made;
    Counts counts;

    const double start = bench::seconds_now();
    create_directory(root, counts);
    for (const bench::Entry& entry : entries) {
        create_parents(root, entry.name, made, counts);
        write_entry(root + L"\\" + entry.name, entry, counts);
    }
    const double elapsed = bench::seconds_now() - start;

    bench::print_result(
        bench::seconds_field("write_seconds", elapsed) + " " + bench::bytes_field("files", counts.files) + " " +
        bench::bytes_field("directories", counts.directories) + " " + bench::bytes_field("bytes", counts.bytes));
    return 0;
}
