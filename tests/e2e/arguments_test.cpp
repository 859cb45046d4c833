// The application sees exactly the arguments the launcher was given (the
// parent rebuilds a command line for its child, which splits it again), with
// the launcher's own path as argument 0, and the original argument 0 in
// ZORVEK_ORIGINAL_ARGV0.

#include <gtest/gtest.h>

#include "e2e_launchers.h"
#include "tests/support/shell_split.h"

namespace {

struct ArgumentCase {
    const char* name;
    std::vector<std::wstring> arguments;
};

class Arguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(Arguments, ReachTheApplicationUnchanged) {
    Scratch scratch;
    Launch launch = scratch.launch(probe_launcher());
    launch.arguments = GetParam().arguments;
    // The harness's own quoting must be right for the case to mean anything.
    std::vector<std::wstring> given = test_support::split_as_shell_does(command_line_of(launch));
    ASSERT_EQ(std::vector<std::wstring>(given.begin() + 1, given.end()), launch.arguments);

    const RunResult result = run(launch);
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));

    std::vector<std::wstring> expected = {probe_launcher()};
    expected.insert(expected.end(), launch.arguments.begin(), launch.arguments.end());
    EXPECT_EQ(report.arguments, expected);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Arguments,
    ::testing::Values(
        ArgumentCase{"None", {}}, ArgumentCase{"Plain", {L"hello", L"world"}},
        ArgumentCase{"Blanks", {L"two words", L" leading", L"trailing ", L"   "}},
        ArgumentCase{"Quotes", {L"say \"hi\" now", L"\"", L"\"\"", L"a\"b", L"\"quoted\""}},
        ArgumentCase{"Backslashes", {L"C:\\dir\\", L"C:\\my dir\\", L"a\\\\b c", L"\\\\server\\share", L"\\"}},
        ArgumentCase{"BackslashesBeforeQuotes", {L"a\\\"b", L"a\\\\\"b", L"\\\"", L"x \\\\\"", L"end\\\\"}},
        ArgumentCase{"TabsAndLineBreaks", {L"tab\there", L"\t", L"line\nfeed", L"vertical\vtab"}},
        ArgumentCase{"NonAscii",
                     {L"gr\u00fc\u00dfe", L"\u65e5\u672c\u8a9e", L"smile \U0001F600", L"caf\u00e9 au lait"}},
        ArgumentCase{"EmptyArguments", {L"", L"middle", L"", L"", L"end", L""}}, ArgumentCase{"OnlyEmpty", {L""}}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

// Command lines written by hand, as another program might: the application
// gets the split any program built on our runtime would get, not a second
// splitter's (the two differ on "" inside quotation marks).
TEST(RawCommandLine, ReachesTheApplicationSplitByTheRuntimesRules) {
    const struct {
        const wchar_t* tail;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"  one\t\ttwo   \"three four\" \t", {L"one", L"two", L"three four"}},  // runs of blanks separate only
        {L" \"a\"\"b c\" plain", {L"a\"b c", L"plain"}},
        {L" \"x\"\"y\"", {L"x\"y"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(to_utf8(c.tail));
        Scratch scratch;
        Launch launch = scratch.launch(probe_launcher());
        launch.raw_tail = c.tail;

        run(launch);
        ProbeReport report;
        ASSERT_TRUE(read_report(scratch.report_path(), report));

        std::vector<std::wstring> expected = {probe_launcher()};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(report.arguments, expected);
    }
}

TEST(ArgumentZero, IsTheLaunchersPathWhateverTheCallerWrote) {
    Scratch scratch;
    Launch launch = scratch.launch(probe_launcher());
    launch.argument0 = L"some other name.exe";
    launch.arguments = {L"x"};

    run(launch);
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));

    ASSERT_EQ(report.arguments.size(), 2u);
    EXPECT_EQ(report.arguments[0], probe_launcher());
    EXPECT_EQ(reported(report, L"ZORVEK_ORIGINAL_ARGV0"), std::optional<std::wstring>(L"some other name.exe"));
}

}  // namespace
