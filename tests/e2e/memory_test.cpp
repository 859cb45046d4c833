// The child gives back the payload decoder (and its 2^27-byte window) before
// the application runs: inside run_code its committed private memory is
// within a few MiB of a plain program that loads the same library.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e_launchers.h"

namespace {

constexpr std::uint64_t mebibyte = 1024 * 1024;
// The launcher's own buffers (the run state) and the runtime's heap; far
// below the decoder's window, which alone is 128 MiB.
constexpr std::uint64_t allowed_excess = 4 * mebibyte;

std::uint64_t private_bytes_inside_run_code(Scratch& scratch, const std::wstring& program,
                                            std::vector<std::wstring> arguments, const wchar_t* report) {
    Launch launch = scratch.launch(program, report);
    launch.arguments = std::move(arguments);
    const RunResult result = run(launch);
    EXPECT_EQ(result.exit_code, 0u) << to_utf8(program);
    ProbeReport probe;
    EXPECT_TRUE(read_report(scratch.report_path(report), probe));
    return probe.private_bytes;
}

TEST(ChildMemory, DuringRunCodeIsWithinAFewMebibytesOfAPlainHost) {
    Scratch scratch;
    const std::uint64_t host = private_bytes_inside_run_code(scratch, build_path(E2E_PLAIN_HOST),
                                                             {build_path(E2E_PROBE_APP_DLL)}, L"host.txt");
    const std::uint64_t child = private_bytes_inside_run_code(scratch, probe_launcher(), {}, L"child.txt");
    ASSERT_NE(host, 0u) << "the system reports no private usage";
    ASSERT_NE(child, 0u);
    std::printf("committed private memory inside run_code: child %llu KiB, plain host %llu KiB\n",
                static_cast<unsigned long long>(child / 1024), static_cast<unsigned long long>(host / 1024));
    EXPECT_LT(child, host + allowed_excess)
        << "child " << child / mebibyte << " MiB, host " << host / mebibyte << " MiB";
}

}  // namespace
