// A file the application leaves open without delete sharing keeps the
// extraction folder alive: the parent retries, gives up silently and still
// ends with the application's exit code. The folder keeps its liveness
// marker, held by nobody, and the next start sweeps it once the file is
// closed.

#include <gtest/gtest.h>

#include "e2e_launchers.h"

namespace {

TEST(Cleanup, FileHeldOpenMakesTheParentGiveUpSilently) {
    Scratch scratch;
    Launch launch = scratch.launch(probe_launcher());
    launch.environment.push_back({L"PROBE_HOLD_OPEN", L"chunk_exact.bin"});
    launch.environment.push_back({L"PROBE_HOLDER_PID", decimal(GetCurrentProcessId())});
    launch.environment.push_back({L"PROBE_EXIT_CODE", L"7"});

    const RunResult result = run(launch);
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));
    ASSERT_NE(report.held_handle, 0u) << "the probe could not hand the open file to the harness";
    HANDLE held = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(report.held_handle));
    const std::wstring folder = folder_of(report.library_path);

    EXPECT_EQ(result.exit_code, 7u);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(path_exists(folder + L"\\chunk_exact.bin"));
    EXPECT_EQ(onefile_folders(scratch.tmp()).size(), 1u);
    // 21 tries with 20 pauses of 100 ms between them. A lower bound only:
    // it tells retrying from giving up at once, and says nothing of speed.
    EXPECT_GE(result.elapsed_ms, 1900u);

    // A start while the file is still open leaves the folder; the next one,
    // after it is closed, removes it.
    EXPECT_EQ(run(scratch.launch(probe_launcher(), L"next.txt")).exit_code, 0u);
    EXPECT_TRUE(path_exists(folder + L"\\chunk_exact.bin"));
    CloseHandle(held);
    EXPECT_EQ(run(scratch.launch(probe_launcher(), L"after.txt")).exit_code, 0u);
    EXPECT_FALSE(path_exists(folder));
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

}  // namespace
