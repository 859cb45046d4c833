// Each way a launcher can fail from the outside: one line on the stream the
// message belongs to, nothing on the other, exit code 2. The parent makes its
// extraction folder once the first name has been decoded, so a payload that
// fails before that leaves nothing; a failure after it removes the folder
// with whatever was unpacked before the process ends; failures in the child
// are cleaned up by the parent.

#include <gtest/gtest.h>

#include <regex>

#include "e2e_launchers.h"

namespace {

enum class Stream { out, err };

struct FailureCase {
    const char* name;
    const wchar_t* launcher;  // block_launcher name
    Stream stream;
    const char* message;  // regular expression for the whole output
};

class FailureMessage : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureMessage, IsOneLineOnItsStreamWithExitCode2) {
    const FailureCase& c = GetParam();
    Scratch scratch;
    const RunResult result = run(scratch.launch(block_launcher(c.launcher)));

    const std::string& written = c.stream == Stream::out ? result.out : result.err;
    const std::string& other = c.stream == Stream::out ? result.err : result.out;
    EXPECT_TRUE(std::regex_match(written, std::regex(c.message))) << "got: \"" << written << "\"";
    EXPECT_EQ(other, "");
    EXPECT_EQ(result.exit_code, 2u);

    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

const char* const decode_failure = "Error, couldn't decode attached data\\.\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureMessage,
    ::testing::Values(
        FailureCase{"WrongMagic", L"bad_magic", Stream::out, "Error, couldn't find attached data header\\.\n"},
        FailureCase{"WindowAboveLimit", L"window_89", Stream::out, decode_failure},
        FailureCase{"TruncatedFrame", L"truncated", Stream::out, decode_failure},
        FailureCase{"MissingEndMarker", L"no_end_marker", Stream::out, decode_failure},
        FailureCase{"NoRunCode", L"no_run_code", Stream::out, "Error, DLL entry point not found\\.\n"},
        // The system's text follows, without its own line end.
        FailureCase{"NotADll", L"not_a_dll", Stream::err, "Error, load DLL\\. \\(\\[Error [0-9]+\\] [^\r\n]+\\)\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// A payload that breaks off in the middle of an entry fails while that
// entry's file is open: it is closed first, so the folder goes at the first
// try, not after the retries that an open file costs.
TEST(FailureLeftovers, FailureWhileAFileIsOpenRemovesTheFolderAtOnce) {
    for (const wchar_t* launcher : {L"truncated", L"no_end_marker"}) {
        SCOPED_TRACE(to_utf8(launcher));
        Scratch scratch;
        const RunResult result = run(scratch.launch(block_launcher(launcher)));
        EXPECT_EQ(result.exit_code, 2u);
        EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
        EXPECT_LT(result.elapsed_ms, 1900u) << "the removal had to wait for the open file";
    }
}

// The temporary folder lies below a file, so no directory can be made there.
TEST(FailureMessageOpen, UnwritableFolderNamesTheFileOnStandardError) {
    Scratch scratch;
    const std::wstring blocker = scratch.root() + L"\\blocker";
    HANDLE file = CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    const std::wstring tmp = blocker + L"\\sub";
    Launch launch = scratch.launch(probe_launcher());
    launch.environment = {{L"TMP", tmp}, {L"TEMP", tmp}};

    const RunResult result = run(launch);

    const std::string prefix =
        "Error, failed to open '" + to_utf8(tmp) + "\\onefile_" + std::to_string(result.pid) + "_";
    const std::string suffix = "\\probe_app.dll' for writing.\n";
    ASSERT_GT(result.err.size(), prefix.size() + suffix.size()) << result.err;
    EXPECT_EQ(result.err.substr(0, prefix.size()), prefix);
    EXPECT_EQ(result.err.substr(result.err.size() - suffix.size()), suffix);
    const std::string middle = result.err.substr(prefix.size(), result.err.size() - prefix.size() - suffix.size());
    EXPECT_TRUE(std::regex_match(middle, std::regex("[0-9]{6}_[A-Za-z0-9_-]{11}"))) << middle;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.exit_code, 2u);
}

}  // namespace
