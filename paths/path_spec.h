// Path-spec expansion: UTF-16 templates with {NAME} placeholders.
//
// Fifteen names, tested in this order, compared without regard to ASCII case:
// TEMP, PROGRAM, PROGRAM_BASE, PROGRAM_DIR, PID, HOME, CACHE_DIR, COMPANY,
// PRODUCT, VERSION, FILE_VERSION, PRODUCT_VERSION, RANDOM, TIME_US, TIME.
// TEMP, HOME and CACHE_DIR drop every trailing backslash after their value.
// RANDOM, TIME_US and TIME read ZORVEK_ONEFILE_RANDOM, _TIME_US and _START and,
// when absent, generate a value and store it there, so that a child expanding
// the same spec with the inherited environment gets the same text.
#pragma once

#include <cstddef>
#include <cstdint>

// Expands spec into output (capacity code units, terminator included). False
// for literal text that does not fit, an unknown or empty name, a failed shell
// folder lookup, a failed nested {PROGRAM}; output then holds what was expanded
// so far. A placeholder value that does not fit stops the process.
bool expand_path_spec(wchar_t* output, const wchar_t* spec, std::size_t capacity);

// Appends the shell folder csidl to the text in output (capacity counted from
// the start of output). False, output unchanged, when the lookup fails.
bool append_shell_folder(wchar_t* output, int csidl, std::size_t capacity);

// The argument vector that {PROGRAM} reads (element 0). Set once by the main
// sequence from the runtime's wide argument vector.
void set_program_arguments(int count, wchar_t** vector);

// The pieces of generated values, exposed for exact tests.
// Eight xorshift32 steps from seed (0 counts as 1), encoded as 11 URL-safe
// Base64 characters plus terminator into out.
void random_tag_from_seed(std::uint32_t seed, wchar_t out[12]);
// Microsecond within the second of a FILETIME count t, as six digits.
void time_us_text(std::uint64_t filetime, wchar_t out[7]);

// Build constants (defined by the build step that links the image; see
// image/build_constants.h for the generated object).
extern "C" const wchar_t onefile_company_name[];
extern "C" const wchar_t onefile_product_name[];
extern "C" const wchar_t onefile_version_text[];
