// Splitting the command line into the wide argument vector: the Windows
// runtime's documented rules, argument 0 apart from the rest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace {

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

}  // namespace
