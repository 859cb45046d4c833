// Writing arguments into a Windows command line so that both splitters a
// child may use (CommandLineToArgvW and the C runtime's, ours included) give
// them back unchanged. One rule for the launcher, which rebuilds its child's
// line in a fixed buffer, and for the tests and the benchmark, which start
// programs from std::wstring lines.
//
// An argument that is empty or holds a space, tab, line feed, vertical tab or
// quotation mark is written in quotation marks; inside them a run of
// backslashes is doubled when a quotation mark or the closing mark follows it,
// and each quotation mark gets one more backslash. Others go out unchanged.
//   abc          -> abc
//   a b          -> "a b"
//   C:\dir\      -> C:\dir\           (no quotes, so no doubling)
//   C:\my dir\   -> "C:\my dir\\"
//   a\"b         -> "a\\\"b"
//   (empty)      -> ""               (so the child still sees it)
//
// Free of Windows and of allocation: a template over the code unit type.
#pragma once

#include <cstddef>

namespace command_line_quoting {

// A zero-terminated text of length units in capacity units (terminator
// included), kept so that a long line is built without measuring it again.
template <typename Unit>
struct LineBuffer {
    Unit* text;
    std::size_t capacity;
    std::size_t length;
};

// False when the unit and a new terminator do not both fit.
template <typename Unit>
bool append_unit(LineBuffer<Unit>& line, Unit unit) {
    if (line.capacity - line.length < 2) return false;
    line.text[line.length++] = unit;
    line.text[line.length] = 0;
    return true;
}

template <typename Unit>
bool append_repeated(LineBuffer<Unit>& line, Unit unit, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!append_unit(line, unit)) return false;
    }
    return true;
}

template <typename Unit>
bool needs_quotes(const Unit* argument) {
    // Written as nothing, an empty argument would vanish from the child's split.
    if (*argument == 0) return true;
    for (; *argument != 0; ++argument) {
        const Unit unit = *argument;
        if (unit == ' ' || unit == '\t' || unit == '\n' || unit == '\v' || unit == '"') return true;
    }
    return false;
}

template <typename Unit>
bool append_in_quotes(LineBuffer<Unit>& line, const Unit* argument) {
    if (!append_unit(line, Unit('"'))) return false;
    for (;;) {
        std::size_t backslashes = 0;
        for (; *argument == '\\'; ++argument) ++backslashes;
        if (*argument == 0) return append_repeated(line, Unit('\\'), 2 * backslashes) && append_unit(line, Unit('"'));
        // Before a quotation mark the run is doubled and one more escapes the mark.
        const std::size_t written = *argument == '"' ? 2 * backslashes + 1 : backslashes;
        if (!append_repeated(line, Unit('\\'), written) || !append_unit(line, *argument)) return false;
        ++argument;
    }
}

// Appends one argument, quoted by the rule above. False when it does not fit;
// the line then ends in a cut-off argument, so callers stop at once.
template <typename Unit>
bool append_argument(LineBuffer<Unit>& line, const Unit* argument) {
    if (needs_quotes(argument)) return append_in_quotes(line, argument);
    for (; *argument != 0; ++argument) {
        if (!append_unit(line, *argument)) return false;
    }
    return true;
}

// The units append_argument writes for argument: every unit may take a
// backslash of its own, a trailing run of backslashes is doubled, and the
// quotation marks come on top.
template <typename Unit>
std::size_t quoted_length_bound(const Unit* argument) {
    std::size_t length = 0;
    while (argument[length] != 0) ++length;
    return 2 * length + 2;
}

// For growable strings (tests, benchmark): appends a blank when line is not
// empty, then the quoted argument.
template <typename String>
void append_to_string(String& line, const typename String::value_type* argument) {
    using Unit = typename String::value_type;
    std::size_t length = line.size();
    line.resize(length + 1 + quoted_length_bound(argument) + 1);
    LineBuffer<Unit> buffer = {line.data(), line.size(), length};
    if (length != 0) append_unit(buffer, Unit(' '));
    append_argument(buffer, argument);
    line.resize(buffer.length);
}

// The command line of a program and its arguments, each quoted.
template <typename String, typename Arguments>
String joined_command_line(const String& program, const Arguments& arguments) {
    String line;
    append_to_string(line, program.c_str());
    for (const String& argument : arguments) append_to_string(line, argument.c_str());
    return line;
}

}  // namespace command_line_quoting
