// The memory functions, and strlen, which the compiler also emits on its own
// for any loop that counts up to a zero byte. Built with -fno-builtin -fno-tree-loop-distribute-patterns:
// otherwise the compiler recognises these loops and turns them back into calls
// to memcpy/memset, which in the image are these very functions.
//
// Eight bytes at a time where the ranges allow it; x86-64 reads and writes
// unaligned words at full speed, and the word type may alias anything.
#include "runtime/runtime.h"

namespace {

using Word = unsigned long long __attribute__((may_alias, aligned(1)));
constexpr rt_size word_size = sizeof(unsigned long long);

void copy_forward(unsigned char* to, const unsigned char* from, rt_size count) {
    for (; count >= word_size; count -= word_size, to += word_size, from += word_size)
        *reinterpret_cast<Word*>(to) = *reinterpret_cast<const Word*>(from);
    for (; count > 0; --count) *to++ = *from++;
}

// For an overlap where the destination lies above the source: last byte first.
void copy_backward(unsigned char* to, const unsigned char* from, rt_size count) {
    to += count;
    from += count;
    for (; count >= word_size; count -= word_size) {
        to -= word_size;
        from -= word_size;
        *reinterpret_cast<Word*>(to) = *reinterpret_cast<const Word*>(from);
    }
    for (; count > 0; --count) *--to = *--from;
}

}  // namespace

void* rt_memcpy(void* destination, const void* source, rt_size count) {
    copy_forward(static_cast<unsigned char*>(destination), static_cast<const unsigned char*>(source), count);
    return destination;
}

void* rt_memmove(void* destination, const void* source, rt_size count) {
    auto* to = static_cast<unsigned char*>(destination);
    const auto* from = static_cast<const unsigned char*>(source);
    // Each word is read before the write of the same step, and every later read
    // lies beyond that write in the direction of travel: so a forward copy is
    // safe whenever the destination starts below the source, a backward one
    // whenever it starts above, however close the two are.
    if (to < from) {
        copy_forward(to, from, count);
    } else if (to > from) {
        copy_backward(to, from, count);
    }
    return destination;
}

void* rt_memset(void* destination, int value, rt_size count) {
    auto* to = static_cast<unsigned char*>(destination);
    unsigned long long word = static_cast<unsigned char>(value) * 0x0101010101010101ULL;
    for (; count >= word_size; count -= word_size, to += word_size) *reinterpret_cast<Word*>(to) = word;
    for (; count > 0; --count) *to++ = static_cast<unsigned char>(value);
    return destination;
}

int rt_memcmp(const void* left, const void* right, rt_size count) {
    const auto* a = static_cast<const unsigned char*>(left);
    const auto* b = static_cast<const unsigned char*>(right);
    for (; count > 0; --count, ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
    }
    return 0;
}

rt_size rt_strlen(const char* text) {
    const char* end = text;
    while (*end != '\0') ++end;
    return static_cast<rt_size>(end - text);
}
