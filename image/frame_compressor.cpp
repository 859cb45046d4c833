#include "image/frame_compressor.h"

#include <zstd.h>

#include "format/payload_layout.h"

namespace {

constexpr std::size_t output_chunk = 1 << 20;
constexpr int job_size = 16 << 20;
constexpr int long_distance_level = 16;
// Frame magic (4 bytes), then the frame header descriptor, then the window
// descriptor.
constexpr std::size_t descriptor_offset = 4;

bool fail(FrameCompressor& compressor, const std::string& what, std::size_t code) {
    compressor.error = what + ": " + ZSTD_getErrorName(code);
    frame_abandon(compressor);
    return false;
}

bool set(FrameCompressor& compressor, ZSTD_cParameter parameter, int value, const char* name) {
    const std::size_t result = ZSTD_CCtx_setParameter(compressor.context, parameter, value);
    if (ZSTD_isError(result)) return fail(compressor, std::string("cannot set the compression ") + name, result);
    return true;
}

// One compression call, repeated until zstd has taken all the input (and, for
// ZSTD_e_end, flushed everything).
bool drive(FrameCompressor& compressor, ZSTD_inBuffer& input, ZSTD_EndDirective directive) {
    while (true) {
        const std::size_t start = compressor.frame.size();
        compressor.frame.resize(start + output_chunk);
        ZSTD_outBuffer output{compressor.frame.data() + start, output_chunk, 0};
        const std::size_t remaining = ZSTD_compressStream2(compressor.context, &output, &input, directive);
        compressor.frame.resize(start + output.pos);
        if (ZSTD_isError(remaining)) return fail(compressor, "compression failed", remaining);
        const bool input_taken = input.pos == input.size;
        if (directive == ZSTD_e_end ? remaining == 0 : input_taken) return true;
    }
}

}  // namespace

bool frame_begin(FrameCompressor& compressor, int level, int workers) {
    compressor.frame.clear();
    compressor.bytes_in = 0;
    compressor.error.clear();
    compressor.context = ZSTD_createCCtx();
    if (compressor.context == nullptr) {
        compressor.error = "cannot create a compression context";
        return false;
    }
    if (!set(compressor, ZSTD_c_compressionLevel, level, "level") ||
        !set(compressor, ZSTD_c_windowLog, payload_layout::window_log, "window") ||
        !set(compressor, ZSTD_c_contentSizeFlag, 0, "content size flag") ||
        !set(compressor, ZSTD_c_checksumFlag, 0, "checksum flag") ||
        !set(compressor, ZSTD_c_dictIDFlag, 0, "dictionary flag")) {
        return false;
    }
    // A libzstd built without threads refuses workers; it then compresses on
    // this thread, which is only slower.
    if (workers > 0) ZSTD_CCtx_setParameter(compressor.context, ZSTD_c_nbWorkers, workers);
    // zstd sizes a worker's job from the window: 2^29 bytes for our 2^27, so a
    // typical archive of about 100 MB would be one job on one core. Below
    // level 16 each job re-reads at most a quarter of the window as overlap,
    // and 16 MiB jobs cost no ratio (docs/performance.md). From level 16 on
    // zstd adds long-distance matching, sizes jobs by its match finder and
    // re-reads half the window or all of it: smaller jobs would only make
    // those levels slower. The job size is set for any worker count, so the
    // output stays the same for all.
    if (workers > 0 && level < long_distance_level) {
        ZSTD_CCtx_setParameter(compressor.context, ZSTD_c_jobSize, job_size);
    }
    return true;
}

bool frame_add(FrameCompressor& compressor, const void* data, std::size_t size) {
    if (size == 0) return true;
    ZSTD_inBuffer input{data, size, 0};
    if (!drive(compressor, input, ZSTD_e_continue)) return false;
    compressor.bytes_in += size;
    return true;
}

bool frame_end(FrameCompressor& compressor) {
    ZSTD_inBuffer empty{nullptr, 0, 0};
    if (!drive(compressor, empty, ZSTD_e_end)) return false;
    frame_abandon(compressor);
    const auto& frame = compressor.frame;
    if (frame.size() < descriptor_offset + 2 || frame[descriptor_offset] != payload_layout::frame_header_descriptor ||
        frame[descriptor_offset + 1] != payload_layout::window_descriptor) {
        compressor.error = "the compressor wrote an unexpected frame header";
        return false;
    }
    return true;
}

void frame_abandon(FrameCompressor& compressor) {
    ZSTD_freeCCtx(compressor.context);
    compressor.context = nullptr;
}
