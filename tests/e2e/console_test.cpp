// The console launcher (onefile-build --console): the application's standard
// streams pass straight through and its exit code is the launcher's, started
// directly and from a shell that waits for it and reads %ERRORLEVEL%.
#include <gtest/gtest.h>

#include "e2e_launchers.h"

namespace {

// The probe's folder packed with --console.
std::wstring console_launcher() {
    return build_path(E2E_CONSOLE_LAUNCHER);
}

class ConsoleLauncher : public ::testing::TestWithParam<DWORD> {};

TEST_P(ConsoleLauncher, StreamsPassThroughAndTheExitCodeIsTheApplications) {
    Scratch scratch;
    Launch launch = scratch.launch(console_launcher());
    launch.environment.push_back({L"PROBE_EXIT_CODE", decimal(GetParam())});
    launch.environment.push_back({L"PROBE_PRINT", L"hello"});

    const RunResult result = run(launch);

    EXPECT_EQ(result.exit_code, GetParam());
    EXPECT_EQ(result.out, "hello\n");
    EXPECT_EQ(result.err, "hello on stderr\n");
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, ConsoleLauncher, ::testing::Values(0u, 3u, 259u, 0x80000001u));

// cmd waits for a console program and then sees its exit code.
TEST(ConsoleLauncherInAShell, ShellWaitsAndSeesTheExitCode) {
    Scratch scratch;
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    Launch launch = scratch.launch(std::wstring(system, length) + L"\\cmd.exe");
    launch.raw_tail = L" /v:on /c \"\"" + console_launcher() + L"\" & echo level=!ERRORLEVEL!\"";
    launch.environment.push_back({L"PROBE_EXIT_CODE", L"7"});
    launch.environment.push_back({L"PROBE_PRINT", L"from the application"});

    const RunResult result = run(launch);

    // echo leaves ERRORLEVEL alone, so cmd ends with the launcher's code too.
    EXPECT_EQ(result.exit_code, 7u) << result.out << result.err;
    EXPECT_NE(result.out.find("from the application\n"), std::string::npos) << result.out;
    // The echo runs after the launcher ended, so it comes after its output.
    EXPECT_GT(result.out.find("level=7"), result.out.find("from the application")) << result.out;
    EXPECT_NE(result.err.find("from the application on stderr"), std::string::npos) << result.err;
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

}  // namespace
