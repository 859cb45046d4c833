// malloc and friends on the process heap. HeapAlloc already returns blocks
// aligned for any type (16 bytes on x86-64), so there is no header of our own.
#include "runtime/runtime.h"

#include <windows.h>

void* rt_malloc(rt_size size) {
    void* block = HeapAlloc(GetProcessHeap(), 0, size);
    if (block == nullptr) rt_errno = rt_ENOMEM;
    return block;
}

void* rt_calloc(rt_size count, rt_size size) {
    // Check before multiplying: count * size must not wrap.
    if (size != 0 && count > static_cast<rt_size>(-1) / size) {
        rt_errno = rt_ENOMEM;
        return nullptr;
    }
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * size);
    if (block == nullptr) rt_errno = rt_ENOMEM;
    return block;
}

void* rt_realloc(void* block, rt_size size) {
    if (block == nullptr) return rt_malloc(size);
    if (size == 0) {
        rt_free(block);
        return nullptr;
    }
    void* moved = HeapReAlloc(GetProcessHeap(), 0, block, size);
    if (moved == nullptr) rt_errno = rt_ENOMEM;
    return moved;
}

void rt_free(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
