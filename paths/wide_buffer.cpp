#include "paths/wide_buffer.h"

#include <cstdio>
#include <cstdlib>

namespace {

enum class CopyResult { done, source_too_long };

// Writes source and its terminator at destination, which has room code units.
// Measures before it writes, so a source that does not fit leaves the
// destination untouched.
CopyResult copy_within(wchar_t* destination, const wchar_t* source, std::size_t room) {
    std::size_t length = wide_length_within(source, room);
    if (length == room) return CopyResult::source_too_long;
    // Forward copy: safe when source and destination are the same buffer.
    for (std::size_t i = 0; i < length; ++i) destination[i] = source[i];
    destination[length] = 0;
    return CopyResult::done;
}

CopyResult append_within(wchar_t* destination, const wchar_t* source, std::size_t capacity) {
    std::size_t used = wide_length_within(destination, capacity);
    if (used == capacity) abort();  // no terminator: the buffer is already broken
    return copy_within(destination + used, source, capacity - used);
}

}  // namespace

std::size_t wide_length(const wchar_t* text) {
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

std::size_t wide_length_within(const wchar_t* text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length] != 0) ++length;
    return length;
}

bool wide_fits(const wchar_t* text, std::size_t capacity) {
    return wide_length_within(text, capacity) < capacity;
}

void wide_copy(wchar_t* destination, const wchar_t* source, std::size_t capacity) {
    if (copy_within(destination, source, capacity) != CopyResult::done) abort();
}

void wide_append(wchar_t* destination, const wchar_t* source, std::size_t capacity) {
    if (append_within(destination, source, capacity) != CopyResult::done) abort();
}

void wide_append_unit(wchar_t* destination, wchar_t unit, std::size_t capacity) {
    const wchar_t text[2] = {unit, 0};
    wide_append(destination, text, capacity);
}

void wide_copy_or_stop(wchar_t* destination, const wchar_t* source, std::size_t capacity, const char* what) {
    if (copy_within(destination, source, capacity) != CopyResult::done) stop_at_limit(what);
}

void wide_append_or_stop(wchar_t* destination, const wchar_t* source, std::size_t capacity, const char* what) {
    if (append_within(destination, source, capacity) != CopyResult::done) stop_at_limit(what);
}

void stop_at_limit(const char* what) {
    // One puts call, so the line leaves as a whole when exit flushes it.
    char line[160];
    snprintf(line, sizeof line, "Error, %s is too long.", what);
    puts(line);
    exit(2);
}
