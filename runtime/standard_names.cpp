// The C library's names in the launcher image, bound to the rt_ functions.
//
// Why this file exists: the image links with -nostdlib, and the launcher and
// zstd are compiled against mingw-w64's ordinary headers, which do not call
// every facility by its plain name. What an object compiled with the image's
// flags references (x86_64-w64-mingw32-nm) is:
//
//   source                  symbol referenced             why
//   malloc calloc realloc   the plain names
//   free wcstol mbstowcs
//   iswdigit puts exit
//   atexit abort
//   memcpy memmove memset   the plain names               also emitted by the
//   memcmp                                                compiler for copies
//   (loops counting to a    strlen                        GCC's loop distribution
//   zero byte)                                            makes them strlen calls
//   printf, fprintf         __mingw_vfprintf              C++ code gets mingw's
//   vprintf, vfprintf                                     C99 printf family as
//   snprintf, vsnprintf     __mingw_vsnprintf             inline wrappers over
//   sprintf (fortified)                                   these
//   sprintf, vsprintf       __mingw_vsprintf
//   stdout, stderr          __imp___acrt_iob_func         (__acrt_iob_func(n)),
//                                                         declared dllimport
//   errno                   __imp__errno                  (*_errno()), dllimport
//   __argc, __wargv         __imp___argc, __imp___wargv   msvcrt's data imports
//
// A dllimport reference to X goes through the pointer __imp_X, so for those
// this file defines X itself and a pointer variable __imp_X holding its
// address (for data, the address of our variable). The UCRT flavour of the
// headers reads the arguments through __p___argc/__p___wargv instead; they
// are here too, so either flavour links.
//
// Image only: the unit tests link the toolchain's own runtime, which defines
// all of these names. This file includes no C library header, so that no
// dllimport declaration of these names is in sight.
#include "runtime/runtime.h"

namespace {
using ErrnoFunction = int* (*)();
using StreamFunction = rt_stream* (*)(unsigned);
using CountFunction = int* (*)();
using VectorFunction = wchar_t*** (*)();
}  // namespace

extern "C" {

// ---- heap and memory ----
void* malloc(rt_size size) {
    return rt_malloc(size);
}
void* calloc(rt_size count, rt_size size) {
    return rt_calloc(count, size);
}
void* realloc(void* block, rt_size size) {
    return rt_realloc(block, size);
}
void free(void* block) {
    rt_free(block);
}

void* memcpy(void* destination, const void* source, rt_size count) {
    return rt_memcpy(destination, source, count);
}
void* memmove(void* destination, const void* source, rt_size count) {
    return rt_memmove(destination, source, count);
}
void* memset(void* destination, int value, rt_size count) {
    return rt_memset(destination, value, count);
}
int memcmp(const void* left, const void* right, rt_size count) {
    return rt_memcmp(left, right, count);
}
rt_size strlen(const char* text) {
    return rt_strlen(text);
}
rt_size wcslen(const wchar_t* text) {
    return rt_wcslen(text);
}
int wcscmp(const wchar_t* left, const wchar_t* right) {
    return rt_wcscmp(left, right);
}
wchar_t* wcsrchr(const wchar_t* text, wchar_t unit) {
    return rt_wcsrchr(text, unit);
}

// ---- numbers, multibyte text, character classes ----
long wcstol(const wchar_t* text, wchar_t** end, int base) {
    return rt_wcstol(text, end, base);
}
rt_size mbstowcs(wchar_t* destination, const char* source, rt_size count) {
    return rt_mbstowcs(destination, source, count);
}
int iswdigit(rt_wint unit) {
    return rt_iswdigit(unit);
}

// ---- errno ----
int* _errno() {
    return &rt_errno;
}
constinit ErrnoFunction __imp__errno = _errno;

// ---- streams and formatted output ----
// mingw's FILE is opaque to the launcher: the FILE* it passes around is one of
// our three streams.
rt_stream* __acrt_iob_func(unsigned index) {
    if (index == 0) return &rt_standard_input;
    if (index == 1) return &rt_standard_output;
    if (index == 2) return &rt_standard_error;
    return nullptr;
}
constinit StreamFunction __imp___acrt_iob_func = __acrt_iob_func;

int __mingw_vfprintf(rt_stream* stream, const char* format, rt_va_list arguments) {
    if (stream != &rt_standard_input && stream != &rt_standard_output && stream != &rt_standard_error) {
        rt_errno = rt_EINVAL;
        return -1;
    }
    return rt_vfprintf(stream, format, arguments);
}
int __mingw_vsnprintf(char* buffer, rt_size capacity, const char* format, rt_va_list arguments) {
    return rt_vsnprintf(buffer, capacity, format, arguments);
}
int __mingw_vsprintf(char* buffer, const char* format, rt_va_list arguments) {
    return rt_vsnprintf(buffer, static_cast<rt_size>(-1), format, arguments);
}
int puts(const char* text) {
    return rt_puts(text);
}

// ---- ending the process ----
[[noreturn]] void exit(int code) {
    rt_exit(code);
}
int atexit(void (*handler)()) {
    return rt_atexit(handler);
}
[[noreturn]] void abort() {
    rt_abort();
}

// ---- the argument count and vector ----
constinit int* __imp___argc = &rt_argument_count;
constinit wchar_t*** __imp___wargv = &rt_argument_vector;
int* __p___argc() {
    return &rt_argument_count;
}
wchar_t*** __p___wargv() {
    return &rt_argument_vector;
}
constinit CountFunction __imp___p___argc = __p___argc;
constinit VectorFunction __imp___p___wargv = __p___wargv;

}  // extern "C"
