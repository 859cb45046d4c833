// Path-spec expansion: UTF-16 templates with {NAME} placeholders.
//
// Fifteen names, tested in this order, compared without regard to ASCII case:
// TEMP, PROGRAM, PROGRAM_BASE, PROGRAM_DIR, PID, HOME, CACHE_DIR, COMPANY,
// PRODUCT, VERSION, FILE_VERSION, PRODUCT_VERSION, RANDOM, TIME_US, TIME.
// TEMP, HOME and CACHE_DIR drop every trailing backslash after their value.
// RANDOM, TIME_US and TIME read ZORVEK_ONEFILE_RANDOM, _TIME_US and _START and,
// when absent, generate a value and store it there, so that a child expanding
// the same spec with the inherited environment gets the same text.
//
// Grammar: '{' opens a placeholder (a second '{' restarts its name), '}'
// closes an open one; there is no escape. A '}' with no open placeholder is
// literal text, like any other file-name character. A placeholder still open
// at the end of the path spec is dropped. Names have at most 1,023 characters; a
// longer name that gets closed makes the expansion fail.
#pragma once

#include <cstddef>
#include <cstdint>

// Expands spec into output (capacity code units, terminator included). False
// for literal text that does not fit, an unknown, empty or overlong name, a
// failed shell folder lookup, a failed nested {PROGRAM}; output then holds what
// was expanded so far, always zero-terminated.
//
// A placeholder value that does not fit stops the process: with "Error,
// temporary folder path is too long." or "Error, program path is too long."
// and exit code 2 for TEMP and the PROGRAM family, which the user controls
// (TMP, the invocation path); through abort for every other value. A
// ZORVEK_ONEFILE_PARENT holding anything but digits, or a null argument 0,
// aborts too.
bool expand_path_spec(wchar_t* output, const wchar_t* spec, std::size_t capacity);

// Appends the shell folder csidl to the text in output (capacity counted from
// the start of output). False, output unchanged, when the lookup fails; aborts
// when the folder does not fit.
bool append_shell_folder(wchar_t* output, int csidl, std::size_t capacity);

// The one rule for a process id in ZORVEK_ONEFILE_PARENT, shared by the role
// decision and {PID}: one or more ASCII digits and nothing else (no blank, no
// sign), with a value that fits 32 bits. False for anything else.
bool parse_process_id(const wchar_t* text, unsigned long* id);

// The argument vector that {PROGRAM} reads (element 0). Set once by the main
// sequence from the runtime's wide argument vector.
void set_program_arguments(int count, wchar_t** vector);

// The pieces of generated values, exposed for exact tests.
// {RANDOM}: 64 bits from the system's generator (sys.fill_random), encoded as
// 11 URL-safe Base64 characters plus terminator into out, most significant
// first. Only where the system has no generator do the bits come from eight
// xorshift32 steps from a 32-bit seed (0 counts as 1).
void random_tag_from_bits(std::uint64_t bits, wchar_t out[12]);
void random_tag_from_seed(std::uint32_t seed, wchar_t out[12]);
// Microsecond within the second of a FILETIME count t, as six digits.
void time_us_text(std::uint64_t filetime, wchar_t out[7]);
// The whole FILETIME count t in decimal.
void time_text(std::uint64_t filetime, wchar_t out[21]);

// Build constants, wide strings defined by the object that the build step
// generates for the image (tests define their own).
extern "C" const wchar_t onefile_company_name[];
extern "C" const wchar_t onefile_product_name[];
extern "C" const wchar_t onefile_version_text[];
