// What the benchmark's Windows tools share: the clock, the peak working set,
// mapping a payload block file and walking its archive, and the result line.
//
// Every tool prints one line of key=value pairs on standard output, which
// bench_harness collects; times are seconds of the process's own
// QueryPerformanceCounter, so process start and exit are never included.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

double seconds_now();

// The peak working set of a process, in bytes; 0 when it cannot be read.
std::uint64_t peak_working_set(HANDLE process);

// A read-only view of a whole file. The pages come in on first touch, as the
// launcher's own payload section does.
struct MappedFile {
    const unsigned char* bytes = nullptr;
    std::uint64_t size = 0;
};
bool map_file(const wchar_t* path, MappedFile& file);

// The payload block's frame: after the 3-byte magic, before the 10-byte trailer.
bool block_frame(const MappedFile& block, const unsigned char*& frame, std::uint64_t& frame_size);

// One archive entry as the launcher would write it.
struct Entry {
    std::wstring name;
    const unsigned char* data = nullptr;
    std::uint64_t size = 0;
};

// Decodes the whole frame into archive (untimed preparation) and lists its
// entries, which point into archive.
bool decode_archive(const MappedFile& block, std::vector<unsigned char>& archive, std::vector<Entry>& entries);

[[noreturn]] void fail(const char* what);
[[noreturn]] void fail_with_error(const char* what, DWORD error);

// "key=value" pieces joined by blanks, one line, flushed at once.
void print_result(const std::string& line);
std::string seconds_field(const char* key, double seconds);
std::string bytes_field(const char* key, std::uint64_t bytes);

}  // namespace bench
