// Fixed-capacity UTF-16 buffers and the bounded copy rule.
//
// A capacity always counts the code units with the terminator included. A copy
// or append either fits whole, text and terminator, or stops the process: no
// text is ever cut short and nothing is written past a buffer.
//
// Two ways to stop, chosen by the caller:
//   - the plain forms abort: the limit is internal and cannot be reached by
//     anything a user supplies;
//   - the *_or_stop forms end with a one-line message naming what was too long
//     and exit code 2: the limit can be reached by user input (a long TMP, a
//     deep folder, a long executable path, a long command line).
// A destination that holds no terminator within its capacity is a broken
// internal state and aborts in both forms.
#pragma once

#include <cstddef>

// Length of a zero-terminated wide string.
std::size_t wide_length(const wchar_t* text);
// Length of text, looking at no more than limit code units; limit when none of
// them is the terminator.
std::size_t wide_length_within(const wchar_t* text, std::size_t limit);

// Copies source into destination (capacity code units) or aborts. Source and
// destination may be the same buffer.
void wide_copy(wchar_t* destination, const wchar_t* source, std::size_t capacity);
// Appends source to the zero-terminated text in destination or aborts.
void wide_append(wchar_t* destination, const wchar_t* source, std::size_t capacity);
// Appends one code unit or aborts.
void wide_append_unit(wchar_t* destination, wchar_t unit, std::size_t capacity);

// The same, for limits that user input can reach: on overflow prints
// "Error, <what> is too long." and ends with exit code 2.
void wide_copy_or_stop(wchar_t* destination, const wchar_t* source, std::size_t capacity, const char* what);
void wide_append_or_stop(wchar_t* destination, const wchar_t* source, std::size_t capacity, const char* what);

// True when text + terminator fit in capacity.
bool wide_fits(const wchar_t* text, std::size_t capacity);

// Ends the process for a user-reachable limit: "Error, <what> is too long." on
// standard output, exit code 2.
[[noreturn]] void stop_at_limit(const char* what);
