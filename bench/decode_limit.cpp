// decode_limit BLOCK: the decompression floor of a launcher run.
//
// Decodes the frame of a payload block file the way the launcher's reader
// does (same zstd build, default parameters, whole 131072-byte window per
// call, the frame read through a file mapping whose pages come in on first
// touch) and throws the output away. The timed span takes in creating and
// freeing the context, as the launcher's open and close do.
//
// Prints: decode_seconds, archive_bytes, peak_working_set.
#include <cstdlib>

#include <zstd.h>

#include "bench/bench_support.h"

namespace {

constexpr std::size_t window_size = 131072;

std::uint64_t decode_and_discard(const unsigned char* frame, std::uint64_t frame_size) {
    auto* window = static_cast<unsigned char*>(std::malloc(window_size));
    ZSTD_DCtx* context = ZSTD_createDCtx();
    if (window == nullptr || context == nullptr) bench::fail("out of memory");
    ZSTD_inBuffer input = {frame, static_cast<std::size_t>(frame_size), 0};
    std::uint64_t produced = 0;
    for (;;) {
        ZSTD_outBuffer output = {window, window_size, 0};
        const std::size_t result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result)) bench::fail(ZSTD_getErrorName(result));
        produced += output.pos;
        if (result == 0) break;
        if (output.pos < window_size && input.pos == input.size) bench::fail("the frame is truncated");
    }
    ZSTD_freeDCtx(context);
    std::free(window);
    return produced;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) bench::fail("usage: decode_limit BLOCK");
    bench::MappedFile block;
    if (!bench::map_file(argv[1], block)) bench::fail_with_error("cannot map the block file", GetLastError());
    const unsigned char* frame = nullptr;
    std::uint64_t frame_size = 0;
    if (!bench::block_frame(block, frame, frame_size)) bench::fail("not a payload block");

    const double start = bench::seconds_now();
    const std::uint64_t produced = decode_and_discard(frame, frame_size);
    const double elapsed = bench::seconds_now() - start;

    bench::print_result(bench::seconds_field("decode_seconds", elapsed) + " " +
                        bench::bytes_field("archive_bytes", produced) + " " +
                        bench::bytes_field("peak_working_set", bench::peak_working_set(GetCurrentProcess())));
    return 0;
}
