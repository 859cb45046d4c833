// Our own C runtime for the launcher image: everything the layer offers, and
// nothing else.
//
// The image links with -nostdlib so that it imports from KERNEL32.dll and
// SHELL32.dll only; this layer supplies the few C library facilities the
// launcher and the zstd decoder use. Each facility is written here under an
// rt_ name, so that the same code also compiles into the unit tests next to
// the normal toolchain runtime without a clash. standard_names.cpp (image only)
// binds the standard names and the symbols mingw's headers route them through
// to these functions.
//
// This header includes no C library header on purpose: the file that defines
// the standard names must not see the toolchain's (dllimport) declarations.
#pragma once

using rt_size = __SIZE_TYPE__;
using rt_va_list = __builtin_va_list;
// The toolchain's wint_t: a UTF-16 code unit; 0xFFFF is WEOF.
using rt_wint = unsigned short;

// ---- errno ------------------------------------------------------------------
// One process-wide error number: only the main thread uses the layer.
extern int rt_errno;
inline constexpr int rt_ENOMEM = 12;
inline constexpr int rt_EINVAL = 22;
inline constexpr int rt_ERANGE = 34;
inline constexpr int rt_EOVERFLOW = 132;

// ---- start-up (startup.cpp, image only) ---------------------------------------
// The argument count and wide argument vector split from GetCommandLineW() at
// start-up (what __argc and __wargv read in the image).
extern int rt_argument_count;
extern wchar_t** rt_argument_vector;
// The image entry point: splits the command line, calls wWinMain and ends the
// process with its result. Runs before anything else; uses no C runtime.
extern "C" [[noreturn]] void rt_start();

// ---- command-line splitting (command_line_split.cpp) ----------------------------
// Splits a command line by the Windows runtime's rules: argument 0 runs up to the
// first blank outside quotation marks, quotation marks removed, backslashes
// literal; later arguments follow the backslash/quotation-mark rules, with ""
// inside a quoted part standing for one literal quotation mark. Returns one heap
// block (release with rt_free) holding count + 1 pointers, the last null, and
// the texts; null when the heap is exhausted.
wchar_t** rt_split_command_line(const wchar_t* command_line, int* count);
// What follows argument 0 and the blanks after it: wWinMain's command line.
wchar_t* rt_command_line_tail(const wchar_t* command_line);

// ---- heap (heap.cpp) ---------------------------------------------------------
// On the process heap. A failed allocation returns null with rt_errno ENOMEM.
void* rt_malloc(rt_size size);
void* rt_calloc(rt_size count, rt_size size);
// realloc(null, n) allocates; realloc(p, 0) releases p and returns null (the
// Windows runtime's choice); on failure p stays valid.
void* rt_realloc(void* block, rt_size size);
void rt_free(void* block);

// ---- memory (memory.cpp, built with -fno-builtin) ---------------------------------
void* rt_memcpy(void* destination, const void* source, rt_size count);
void* rt_memmove(void* destination, const void* source, rt_size count);
void* rt_memset(void* destination, int value, rt_size count);
int rt_memcmp(const void* left, const void* right, rt_size count);
// The compiler turns loops that count up to a zero byte into strlen calls.
rt_size rt_strlen(const char* text);

// ---- wide strings (wide_string.cpp) -------------------------------------------------
// wcslen, wcscmp (code unit by code unit, as unsigned values) and wcsrchr.
rt_size rt_wcslen(const wchar_t* text);
int rt_wcscmp(const wchar_t* left, const wchar_t* right);
wchar_t* rt_wcsrchr(const wchar_t* text, wchar_t unit);

// ---- numbers from wide text (wide_number.cpp) -------------------------------------
// wcstol: leading white space, an optional sign, an optional 0x/0X for base 16
// or 0, a leading 0 meaning octal for base 0. Out of range: LONG_MAX or LONG_MIN
// (long is 32 bits here) with rt_errno ERANGE, end past every digit. No digits:
// 0 with end at text. A base other than 0 or 2..36: 0, rt_errno EINVAL.
long rt_wcstol(const wchar_t* text, wchar_t** end, int base);

// ---- multibyte text (multibyte.cpp) ---------------------------------------------
// mbstowcs in the default "C" locale: every byte becomes the code unit of the
// same value. Converts at most count code units, stopping after the terminator;
// returns the units converted, terminator not counted. With a null destination,
// returns the length the conversion needs and ignores count.
rt_size rt_mbstowcs(wchar_t* destination, const char* source, rt_size count);

// ---- character classes (character_class.cpp) ---------------------------------------
// The Windows runtime's wide digit class: '0'..'9', U+00B9, U+00B2, U+00B3, and
// above U+00FF what GetStringTypeW (CT_CTYPE1) marks C1_DIGIT.
int rt_iswdigit(rt_wint unit);

// ---- UTF-8 (utf8.cpp) --------------------------------------------------------
// Encodes the code point at text[0] (a surrogate pair counts as one) into out
// (4 bytes at least). Returns the bytes written and sets *units to the code
// units read (1 or 2). An unpaired surrogate becomes U+FFFD.
int rt_encode_utf8(const wchar_t* text, char* out, int* units);

// ---- formatting (format.cpp) -----------------------------------------------------
// Where the formatter's bytes go: appended to buffer; when it is full, drain is
// called to empty it (used = 0). Without drain, bytes beyond capacity are
// counted and dropped (snprintf).
struct rt_sink {
    char* buffer;
    rt_size capacity;
    rt_size used;
    rt_size produced;  // every byte formatted, stored or not
    void (*drain)(rt_sink* sink);
    void* target;  // what drain writes to
};

// The one formatter behind every printf-like function. Directives: flags
// "-+ 0#", width and precision (digits or '*'), lengths hh h l ll j z t, and
// conversions d i u o x X c s %. With l, c and s take UTF-16 and write UTF-8.
// A directive it does not know is written out as it stands. Returns the bytes
// produced, or -1 (rt_errno EOVERFLOW) beyond INT_MAX.
int rt_format(rt_sink* sink, const char* format, rt_va_list arguments);
// C99 snprintf: at most capacity - 1 bytes and a terminator (when capacity > 0);
// returns the length the whole text needs.
int rt_vsnprintf(char* buffer, rt_size capacity, const char* format, rt_va_list arguments);
int rt_snprintf(char* buffer, rt_size capacity, const char* format, ...);

// ---- standard streams (output.cpp) -------------------------------------------------
// Standard output is buffered (drained when full and by rt_flush/rt_exit);
// standard error is unbuffered: each call is written out before it returns, in
// one write where it fits 512 bytes. Standard input cannot be written. The
// handle is looked up with GetStdHandle at every write.
struct rt_stream {
    unsigned long standard_handle;  // STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE
    char* buffer;                   // null: unbuffered
    rt_size capacity;
    rt_size used;
    bool failed;  // a write has failed (stays set, like ferror)
};
extern rt_stream rt_standard_input;
extern rt_stream rt_standard_output;
extern rt_stream rt_standard_error;
inline constexpr rt_size rt_output_buffer_size = 4096;
inline constexpr rt_size rt_unbuffered_chunk_size = 512;

// Number of bytes written, or -1 on a write failure or a stream that cannot be written.
int rt_vfprintf(rt_stream* stream, const char* format, rt_va_list arguments);
int rt_fprintf(rt_stream* stream, const char* format, ...);
int rt_printf(const char* format, ...);
// Writes the text and a line feed to standard output; non-negative, or -1.
int rt_puts(const char* text);
// Writes out what standard output holds; 0, or -1 when the write failed.
int rt_flush(rt_stream* stream);

// ---- ending the process (process_exit.cpp) --------------------------------------------
// Runs the handlers registered with rt_atexit (the last registered first,
// each once), flushes standard output, then ExitProcess with the full
// 32-bit code. Returning from wWinMain ends here too.
[[noreturn]] void rt_exit(int code);
// Registers a handler for rt_exit; 0, or -1 when rt_exit_handler_limit are
// registered already. Main thread only.
inline constexpr int rt_exit_handler_limit = 8;
int rt_atexit(void (*handler)());
// A fail-fast end (FAST_FAIL_FATAL_APP_EXIT): no flushing, no handlers; the
// system reports STATUS_STACK_BUFFER_OVERRUN (0xC0000409).
[[noreturn]] void rt_abort();
