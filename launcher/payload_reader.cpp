// The payload stream reader (block and archive layout: format/payload_layout.h).
//
// Kept free of Windows headers: the same source builds natively for fuzzing,
// with a report_message of the fuzzer's own.
#include "launcher/payload_reader.h"

#include <stdlib.h>
#include <string.h>

#include <zstd.h>

#include "format/archive_walk.h"
#include "format/payload_layout.h"
#include "launcher/fatal_report.h"

namespace PayloadReader {

namespace {

constexpr char header_missing[] = "Error, couldn't find attached data header.";
constexpr char out_of_memory[] = "Error, couldn't allocate memory.";
constexpr char undecodable[] = "Error, couldn't decode attached data.";

// The window holds fill_level decompressed bytes, of which read_position have
// been handed out: 0 <= read_position <= fill_level <= window_size.
constinit unsigned char* window = nullptr;
constinit std::uint64_t fill_level = 0;
constinit std::uint64_t read_position = 0;
constinit ZSTD_DCtx* context = nullptr;
// The frame and the trailer behind it, as far as the decompressor has consumed them.
constinit ZSTD_inBuffer input = {nullptr, 0, 0};
constinit std::uint64_t calls_made = 0;

bool magic_matches(const unsigned char* block, std::uint64_t size) {
    return size >= payload_layout::magic_size && memcmp(block, payload_layout::magic, payload_layout::magic_size) == 0;
}

// Refills the drained window from the decompressor, always offering all of it.
// Returns true when the call filled the whole window: the decompressor may then
// hold more output even though the input is used up.
bool refill_window() {
    ZSTD_outBuffer output = {window, window_size, 0};
    size_t result = ZSTD_decompressStream(context, &output, &input);
    ++calls_made;
    if (ZSTD_isError(result)) report_message(undecodable);
    fill_level = output.pos;
    read_position = 0;
    return output.pos == window_size;
}

}  // namespace

void open() {
    open_block(onefile_payload_block, PAYLOAD_SIZE);
}

void open_block(const unsigned char* block, std::uint64_t size) {
    // The magic is checked before anything is allocated: a launcher without a
    // payload fails the same way whatever memory is left.
    if (!magic_matches(block, size)) report_message(header_missing);
    const unsigned char* cursor = block + payload_layout::magic_size;

    window = static_cast<unsigned char*>(malloc(window_size));
    if (window == nullptr) report_message(out_of_memory);
    context = ZSTD_createDCtx();
    if (context == nullptr) report_message(out_of_memory);

    input = {cursor, static_cast<size_t>(size - payload_layout::magic_size), 0};
    fill_level = 0;
    read_position = 0;
    calls_made = 0;
}

void read(void* destination, std::uint64_t count) {
    if (count == 0) return;
    auto* out = static_cast<unsigned char*>(destination);
    // Lives for this one read: a previous read's full window says nothing
    // about what the decompressor holds now.
    bool window_filled = false;
    while (count > 0) {
        if (read_position < fill_level) {
            std::uint64_t available = fill_level - read_position;
            std::uint64_t taken = count < available ? count : available;
            memcpy(out, window + read_position, static_cast<size_t>(taken));
            read_position += taken;
            out += taken;
            count -= taken;
        } else if (input.pos < input.size || window_filled) {
            // A call that produced nothing is simply followed by the next one;
            // the decompressor itself gives up after a run of calls without progress.
            window_filled = refill_window();
        } else {
            report_message(undecodable);
        }
    }
}

void close() {
    ZSTD_freeDCtx(context);
    free(window);
    context = nullptr;
    window = nullptr;
    fill_level = 0;
    read_position = 0;
}

bool read_entry_name(wchar_t* name) {
    switch (payload_layout::read_entry_name(read, name)) {
        case payload_layout::NameRead::too_long:
            report_message("Error, attached data holds an entry name that is too long.");
        case payload_layout::NameRead::end_marker:
        case payload_layout::NameRead::read_failed:  // never: read ends the process instead
            return false;
        case payload_layout::NameRead::entry:
            break;
    }
    return true;
}

std::uint64_t decompression_calls() {
    return calls_made;
}

}  // namespace PayloadReader
