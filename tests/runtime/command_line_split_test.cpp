// Splitting the command line into the wide argument vector: the Windows
// runtime's documented rules, argument 0 apart from the rest. And the other
// way: the quoter (format/command_line_quoting.h) that the launcher, the
// tests and the benchmark write command lines with, whose every argument must
// come back unchanged from this splitter and from CommandLineToArgvW.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "format/command_line_quoting.h"
#include "runtime/runtime.h"
#include "tests/support/shell_split.h"

namespace {

using command_line_quoting::append_argument;
using command_line_quoting::append_to_string;
using command_line_quoting::joined_command_line;
using LineBuffer = command_line_quoting::LineBuffer<wchar_t>;

std::vector<std::wstring> split(const wchar_t* command_line) {
    int count = -1;
    wchar_t** vector = rt_split_command_line(command_line, &count);
    EXPECT_NE(vector, nullptr);
    std::vector<std::wstring> arguments;
    if (vector == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.emplace_back(vector[i]);
    EXPECT_EQ(vector[count], nullptr) << "the vector ends with a null pointer";
    rt_free(vector);
    return arguments;
}

struct SplitCase {
    const wchar_t* command_line;
    std::vector<std::wstring> expected;
};

// Argument 0: quotation marks group blanks and disappear; backslashes are
// always literal, even before a quotation mark.
TEST(CommandLineSplit, ProgramNameRules) {
    const SplitCase cases[] = {
        {L"", {L""}},
        {L"prog", {L"prog"}},
        {L"prog a", {L"prog", L"a"}},
        {L"\"C:\\Program Files\\x.exe\" a", {L"C:\\Program Files\\x.exe", L"a"}},
        {L"C:\\a\\\"b c\"\\x.exe z", {L"C:\\a\\b c\\x.exe", L"z"}},
        {L"\"a\\\"b c", {L"a\\b", L"c"}},  // the backslash does not escape
        {L"\"a\"\"b\" c", {L"ab", L"c"}},  // "" is two toggles here
        {L"\"unterminated name", {L"unterminated name"}},
        {L" leading blank", {L"", L"leading", L"blank"}},
        {L"\tx", {L"", L"x"}},
        {L"prog\ta", {L"prog", L"a"}},
        {L"\"\"", {L""}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(split(c.command_line), c.expected) << c.command_line;
}

// Later arguments: the examples the Windows runtime documents, and the limits
// of the backslash rule (2n and 2n+1 backslashes before a quotation mark).
TEST(CommandLineSplit, ArgumentRules) {
    const SplitCase cases[] = {
        {L"p \"a b c\" d e", {L"p", L"a b c", L"d", L"e"}},
        {L"p \"ab\\\"c\" \"\\\\\" d", {L"p", L"ab\"c", L"\\", L"d"}},
        {L"p a\\\\\\b d\"e f\"g h", {L"p", L"a\\\\\\b", L"de fg", L"h"}},
        {L"p a\\\\\\\"b c d", {L"p", L"a\\\"b", L"c", L"d"}},
        {L"p a\\\\\\\\\"b c\" d e", {L"p", L"a\\\\b c", L"d", L"e"}},
        {L"p a\"b\"\" c d", {L"p", L"ab\" c d"}},  // "" inside quotes: a literal "
        {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
        {L"p \"\"\"\"", {L"p", L"\""}},
        {L"p \"\"", {L"p", L""}},  // an empty quoted argument counts
        {L"p \"\" \"\"", {L"p", L"", L""}},
        {L"p \\", {L"p", L"\\"}},
        {L"p \\\\", {L"p", L"\\\\"}},
        {L"p \\\"", {L"p", L"\""}},    // 1 backslash + quote
        {L"p \\\\\"", {L"p", L"\\"}},  // 2 backslashes + opening quote
        {L"p \"open to the end", {L"p", L"open to the end"}},
        {L"p \"a\\\" b\"", {L"p", L"a\" b"}},
        {L"p a\"  \"b", {L"p", L"a  b"}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(split(c.command_line), c.expected) << c.command_line;
}

TEST(CommandLineSplit, BlanksBetweenAndAfterArgumentsAreSkipped) {
    EXPECT_EQ(split(L"p  \t a \t\t b   "), (std::vector<std::wstring>{L"p", L"a", L"b"}));
    EXPECT_EQ(split(L"p   "), (std::vector<std::wstring>{L"p"}));
    // Only space and tab separate: other control characters belong to the argument.
    EXPECT_EQ(split(L"p a\nb\rc"), (std::vector<std::wstring>{L"p", L"a\nb\rc"}));
}

TEST(CommandLineSplit, NonAsciiAndSurrogatesPassThrough) {
    EXPECT_EQ(split(L"\"C:\\\u00e9\u20ac\\x.exe\" \U0001F600 \u00fc\u00df"),
              (std::vector<std::wstring>{L"C:\\\u00e9\u20ac\\x.exe", L"\U0001F600", L"\u00fc\u00df"}));
}

TEST(CommandLineSplit, LongCommandLineSplitsWhole) {
    std::wstring line = L"p";
    std::vector<std::wstring> expected{L"p"};
    for (int i = 0; i < 2000; ++i) {
        std::wstring argument(i % 37 + 1, static_cast<wchar_t>(L'a' + i % 26));
        line += L" \"" + argument + L" x\"";
        expected.push_back(argument + L" x");
    }
    EXPECT_EQ(split(line.c_str()), expected);
}

// wWinMain's command line: what follows argument 0 and the blanks after it.
TEST(CommandLineTail, SkipsProgramNameAndBlanks) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"prog a b", L"a b"},
        {L"\"C:\\my dir\\prog.exe\"   a  \"b\"", L"a  \"b\""},
        {L"\"C:\\my dir\\prog.exe\"a", L"a"},
        {L"prog", L""},
        {L"prog   ", L""},
        {L"\"unterminated", L""},
        {L"", L""},
    };
    for (const auto& [line, tail] : cases) EXPECT_STREQ(rt_command_line_tail(line), tail) << line;
}

// --- quoting ------------------------------------------------------------------

std::wstring quoted(const wchar_t* argument) {
    std::wstring line;
    append_to_string(line, argument);
    return line;
}

// Each argument and the units written for it.
const std::pair<const wchar_t*, const wchar_t*> quoting_cases[] = {
    {L"abc", L"abc"},
    {L"a b", L"\"a b\""},
    {L"C:\\dir\\", L"C:\\dir\\"},
    {L"C:\\my dir\\", L"\"C:\\my dir\\\\\""},
    {L"a\"b", L"\"a\\\"b\""},
    {L"a\\\"b", L"\"a\\\\\\\"b\""},
    {L"a\\\\b c", L"\"a\\\\b c\""},
    {L"say \"hi\" now", L"\"say \\\"hi\\\" now\""},
    {L"\"", L"\"\\\"\""},
    {L"a\tb", L"\"a\tb\""},
    {L"a\nb", L"\"a\nb\""},
    {L"a\vb", L"\"a\vb\""},
    {L"", L"\"\""},
    {L"\\", L"\\"},
    {L"\\\\server\\share\\", L"\\\\server\\share\\"},
    {L"a b\\\\", L"\"a b\\\\\\\\\""},
    {L"\\\\\"", L"\"\\\\\\\\\\\"\""},
    {L"a\rb", L"a\rb"},  // carriage return is no trigger
    {L"gr\u00fc\u00dfe", L"gr\u00fc\u00dfe"},
    {L"\u65e5\u672c \u8a9e", L"\"\u65e5\u672c \u8a9e\""},
};

TEST(CommandLineQuoting, EachArgumentIsWrittenByTheRule) {
    for (const auto& [argument, written] : quoting_cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(argument)));
        wchar_t out[64] = {};
        LineBuffer line = {out, 64, 0};
        ASSERT_TRUE(append_argument(line, argument));
        EXPECT_EQ(std::wstring(written), std::wstring(out, line.length));
        // The string adapter writes the same units.
        EXPECT_EQ(std::wstring(written), quoted(argument));
    }
}

TEST(CommandLineQuoting, AppendsToTheTextAlreadyThere) {
    wchar_t out[32] = L"first";
    LineBuffer line = {out, 32, 5};
    ASSERT_TRUE(append_argument(line, L"a \"b\""));
    EXPECT_STREQ(L"first\"a \\\"b\\\"\"", out);
    EXPECT_EQ(14u, line.length);
}

TEST(CommandLineQuoting, FitsUpToTheLastUnitOfCapacity) {
    struct Row {
        const wchar_t* argument;
        bool fits;  // in 8 units after "ab": 5 units of text and the terminator
    } rows[] = {
        {L"cdefg", true}, {L"cdefgh", false}, {L"c e", true},    // "c e" = 5 units
        {L"cd e", false}, {L"c\\ e", false},  {L"", true},       // "" = 2 units
        {L"c \\", false}, {L"\"", true},      {L"\\\"", false},  // "\"" = 4, "\\\"" = 6
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(row.argument)));
        wchar_t out[8] = L"ab";
        LineBuffer line = {out, 8, 2};
        EXPECT_EQ(row.fits, append_argument(line, row.argument));
        EXPECT_LT(line.length, 8u);
        EXPECT_EQ(0, out[line.length]) << "the text stays terminated";
    }
}

// Quote, join, split again with both splitters: each must give back exactly
// what was quoted. Covers quotation marks next to each other (the two
// splitters read "" inside quotes differently, so the quoter never writes it)
// and backslash runs before a mark and at the end of the line.
const std::vector<std::wstring> round_trip_arguments = {
    L"plain",
    L"two words",
    L"",
    L"\"",
    L"\"\"",
    L"a\"\"b c",
    L"\"a\"\"b c\"",
    L"a\"b c",
    L"\\\"",
    L"a\\\\\"b",
    L"ends with\\",
    L"ends with two\\\\",
    L"C:\\dir\\",
    L"C:\\my dir\\",
    L"\\\\server\\share name\\",
    L"tab\there",
    L"line\nfeed",
    L"vertical\vtab",
    L" ",
    L"\t",
    L"say \"hi\" now",
    L"\"quoted\\\"",
    L"gr\u00fc\u00dfe \u65e5\u672c\u8a9e",
    L"\U0001F600 surrogate pair",
    L"",
};

TEST(CommandLineQuoting, JoinedLineSplitsBackIntoTheSameArguments) {
    for (const std::wstring program : {L"C:\\app\\run.exe", L"C:\\Program Files\\App\\run.exe"}) {
        SCOPED_TRACE(::testing::PrintToString(program));
        const std::wstring line = joined_command_line(program, round_trip_arguments);
        std::vector<std::wstring> expected = {program};
        expected.insert(expected.end(), round_trip_arguments.begin(), round_trip_arguments.end());
        EXPECT_EQ(expected, split(line.c_str())) << ::testing::PrintToString(line);
        EXPECT_EQ(expected, test_support::split_as_shell_does(line)) << ::testing::PrintToString(line);
    }
    // Each alone, too: a quotation mark or backslash at the very end of the line.
    for (const std::wstring& argument : round_trip_arguments) {
        SCOPED_TRACE(::testing::PrintToString(argument));
        const std::wstring line = joined_command_line(std::wstring(L"run"), std::vector<std::wstring>{argument});
        const std::vector<std::wstring> expected = {L"run", argument};
        EXPECT_EQ(expected, split(line.c_str()));
        EXPECT_EQ(expected, test_support::split_as_shell_does(line));
    }
}

}  // namespace
