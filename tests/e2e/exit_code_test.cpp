// The launcher ends with its application's 32-bit exit code, bit for bit.
// Seen from a Windows process: a Linux exit status would keep 8 bits only.

#include <gtest/gtest.h>

#include "e2e_launchers.h"

namespace {

class ExitCode : public ::testing::TestWithParam<DWORD> {};

TEST_P(ExitCode, PassesThroughUnchanged) {
    Scratch scratch;
    Launch launch = scratch.launch(probe_launcher());
    launch.environment.push_back({L"PROBE_EXIT_CODE", decimal(GetParam())});

    const RunResult result = run(launch);

    EXPECT_EQ(result.exit_code, GetParam());
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

// 256: low byte zero. 259: STILL_ACTIVE, which a careless wait would take for
// "still running". 0x80000001 and 0xFFFFFFFF: top bit set.
INSTANTIATE_TEST_SUITE_P(Codes, ExitCode, ::testing::Values(0u, 3u, 256u, 259u, 0x80000001u, 0xFFFFFFFFu));

}  // namespace
