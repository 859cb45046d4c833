// The standard streams of the image. Standard output keeps a buffer that exit
// writes out; standard error is unbuffered, so a message written just before
// abort is never lost. Each call on standard error still goes out in one
// write where it fits a chunk, so one message is one write, not one per piece.
//
// The handle is looked up at each write, not at start-up: a GUI-subsystem
// process may have no standard handles at all, and then the bytes are dropped
// and the call reports failure.
#include "runtime/runtime.h"

#include <stdarg.h>
#include <windows.h>

namespace {

constinit char standard_output_buffer[rt_output_buffer_size];

// Writes all bytes to the stream's current handle; false when they did not all go.
bool write_to_handle(const rt_stream* stream, const char* bytes, rt_size count) {
    HANDLE handle = GetStdHandle(stream->standard_handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    while (count > 0) {
        DWORD piece = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, piece, &written, nullptr) || written == 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

// A sink's drain: writes the sink's bytes to its stream and empties it. A
// failed write drops the bytes (the stream remembers the failure).
void drain_to_stream(rt_sink* sink) {
    auto* stream = static_cast<rt_stream*>(sink->target);
    if (!write_to_handle(stream, sink->buffer, sink->used)) stream->failed = true;
    sink->used = 0;
}

bool is_writable(const rt_stream* stream) {
    return stream->standard_handle != STD_INPUT_HANDLE;
}

}  // namespace

constinit rt_stream rt_standard_input{STD_INPUT_HANDLE, nullptr, 0, 0, false};
constinit rt_stream rt_standard_output{STD_OUTPUT_HANDLE, standard_output_buffer, rt_output_buffer_size, 0, false};
constinit rt_stream rt_standard_error{STD_ERROR_HANDLE, nullptr, 0, 0, false};

int rt_vfprintf(rt_stream* stream, const char* format, rt_va_list arguments) {
    if (!is_writable(stream)) {
        rt_errno = rt_EINVAL;
        return -1;
    }
    char chunk[rt_unbuffered_chunk_size];
    bool buffered = stream->buffer != nullptr;
    rt_sink sink{buffered ? stream->buffer : chunk,
                 buffered ? stream->capacity : sizeof chunk,
                 buffered ? stream->used : 0,
                 0,
                 drain_to_stream,
                 stream};
    bool failed_before = stream->failed;
    stream->failed = false;
    int result = rt_format(&sink, format, arguments);
    if (buffered) {
        stream->used = sink.used;
    } else {
        drain_to_stream(&sink);
    }
    bool failed_now = stream->failed;
    stream->failed = failed_before || failed_now;
    return failed_now ? -1 : result;
}

int rt_fprintf(rt_stream* stream, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = rt_vfprintf(stream, format, arguments);
    va_end(arguments);
    return result;
}

int rt_printf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = rt_vfprintf(&rt_standard_output, format, arguments);
    va_end(arguments);
    return result;
}

int rt_puts(const char* text) {
    return rt_fprintf(&rt_standard_output, "%s\n", text) < 0 ? -1 : 0;
}

int rt_flush(rt_stream* stream) {
    if (stream->buffer == nullptr || stream->used == 0) return 0;
    bool written = write_to_handle(stream, stream->buffer, stream->used);
    stream->used = 0;
    if (!written) {
        stream->failed = true;
        return -1;
    }
    return 0;
}
