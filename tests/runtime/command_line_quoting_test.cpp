// The command-line quoter (format/command_line_quoting.h) against both
// splitters a child may use: our runtime's and CommandLineToArgvW. Every
// argument the launcher, the tests or the benchmark quote must come back
// unchanged from either.
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

std::vector<std::wstring> split_by_runtime(const std::wstring& line) {
    int count = 0;
    wchar_t** vector = rt_split_command_line(line.c_str(), &count);
    std::vector<std::wstring> arguments(vector, vector + count);
    rt_free(vector);
    return arguments;
}

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
        EXPECT_EQ(expected, split_by_runtime(line)) << ::testing::PrintToString(line);
        EXPECT_EQ(expected, test_support::split_as_shell_does(line)) << ::testing::PrintToString(line);
    }
    // Each alone, too: a quotation mark or backslash at the very end of the line.
    for (const std::wstring& argument : round_trip_arguments) {
        SCOPED_TRACE(::testing::PrintToString(argument));
        const std::wstring line = joined_command_line(std::wstring(L"run"), std::vector<std::wstring>{argument});
        const std::vector<std::wstring> expected = {L"run", argument};
        EXPECT_EQ(expected, split_by_runtime(line));
        EXPECT_EQ(expected, test_support::split_as_shell_does(line));
    }
}

}  // namespace
