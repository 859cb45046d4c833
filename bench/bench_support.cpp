#include "bench/bench_support.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <zstd.h>

namespace bench {

namespace {

constexpr std::size_t magic_size = 3;
constexpr std::size_t trailer_size = 10;
constexpr unsigned char magic[magic_size] = {'Q', 'Z', 'Y'};

double counter_period() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1.0 / static_cast<double>(frequency.QuadPart);
}

bool read_exact(const unsigned char*& cursor, const unsigned char* end, void* out, std::size_t count) {
    if (static_cast<std::size_t>(end - cursor) < count) return false;
    std::memcpy(out, cursor, count);
    cursor += count;
    return true;
}

}  // namespace

double seconds_now() {
    static const double period = counter_period();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * period;
}

std::uint64_t peak_working_set(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

bool map_file(const wchar_t* path, MappedFile& file) {
    HANDLE handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size) || size.QuadPart == 0) {
        CloseHandle(handle);
        return false;
    }
    HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(handle);
    if (mapping == nullptr) return false;
    // The view keeps the mapping alive; the tool never unmaps it.
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    if (view == nullptr) return false;
    file.bytes = static_cast<const unsigned char*>(view);
    file.size = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

bool block_frame(const MappedFile& block, const unsigned char*& frame, std::uint64_t& frame_size) {
    if (block.size < magic_size + trailer_size || std::memcmp(block.bytes, magic, magic_size) != 0) return false;
    frame = block.bytes + magic_size;
    frame_size = block.size - magic_size - trailer_size;
    return true;
}

bool decode_archive(const MappedFile& block, std::vector<unsigned char>& archive, std::vector<Entry>& entries) {
    const unsigned char* frame = nullptr;
    std::uint64_t frame_size = 0;
    if (!block_frame(block, frame, frame_size)) return false;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (context == nullptr) return false;
    ZSTD_inBuffer input = {frame, static_cast<std::size_t>(frame_size), 0};
    archive.clear();
    std::size_t result = 1;
    while (result != 0) {
        const std::size_t start = archive.size();
        archive.resize(start + (1u << 20));
        ZSTD_outBuffer output = {archive.data() + start, 1u << 20, 0};
        result = ZSTD_decompressStream(context, &output, &input);
        archive.resize(start + output.pos);
        if (ZSTD_isError(result) || (output.pos == 0 && input.pos == input.size && result != 0)) {
            ZSTD_freeDCtx(context);
            return false;
        }
    }
    ZSTD_freeDCtx(context);

    entries.clear();
    const unsigned char* cursor = archive.data();
    const unsigned char* end = cursor + archive.size();
    for (;;) {
        Entry entry;
        for (;;) {
            std::uint16_t unit = 0;
            if (!read_exact(cursor, end, &unit, sizeof unit)) return false;
            if (unit == 0) break;
            entry.name.push_back(static_cast<wchar_t>(unit));
        }
        if (entry.name.empty()) return true;
        if (!read_exact(cursor, end, &entry.size, sizeof entry.size)) return false;
        if (static_cast<std::uint64_t>(end - cursor) < entry.size) return false;
        entry.data = cursor;
        cursor += entry.size;
        entries.push_back(std::move(entry));
    }
}

void fail(const char* what) {
    std::fprintf(stderr, "error: %s\n", what);
    std::exit(2);
}

void fail_with_error(const char* what, DWORD error) {
    std::fprintf(stderr, "error: %s (Windows error %lu)\n", what, static_cast<unsigned long>(error));
    std::exit(2);
}

void print_result(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string seconds_field(const char* key, double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%s=%.6f", key, seconds);
    return text;
}

std::string bytes_field(const char* key, std::uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%s=%llu", key, static_cast<unsigned long long>(bytes));
    return text;
}

}  // namespace bench
