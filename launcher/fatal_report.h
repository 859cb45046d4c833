// Fatal error reporting: a failing step prints one line and ends the process.
//
// Plain messages go to standard output, messages with a Windows error code to
// standard error with the system's English text. Every one ends with exit code
// 2, except report_expansion_failure, which aborts. Free of Windows headers
// (a code is a DWORD), so the payload reader can use it in a native build.
#pragma once

#include <cstddef>

[[noreturn]] void report_message(const char* text);
[[noreturn]] void report_system_error(const char* text, unsigned long code);
// "Error, failed to open '%ls' for writing." with the path of the file.
[[noreturn]] void report_open_failure(const wchar_t* path);
// "Error, couldn't runtime expand spec '%ls'." with the path spec's own text, then abort.
[[noreturn]] void report_expansion_failure(const wchar_t* spec);
// "Error, attached data holds an unsafe entry name '%ls'." on standard output,
// exit code 2. Control characters in the name show as '?', so the message
// stays one line.
[[noreturn]] void report_unsafe_entry_name(const wchar_t* name);
// "Error, extraction folder '%ls' already exists." with the extraction
// directory, on standard output, exit code 2.
[[noreturn]] void report_existing_extraction_directory(const wchar_t* directory);

// Builds the line report_system_error prints, without printing it: text,
// " ([Error <code>] <system text>)" with trailing CR/LF removed from the system
// text, or a plain fallback text when the system has none. Returns the length
// of the whole line, as snprintf does (more than fits when out is too small).
std::size_t format_system_error(char* out, std::size_t capacity, const char* text, unsigned long code);
