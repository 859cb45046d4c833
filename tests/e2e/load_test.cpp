// Load and faults: many launchers at once, a launcher started by the
// application of another, an application restarting its own executable, and
// temporary folders with non-ASCII names or extraction paths past 260 units.
// (A write that fails half-way is taken through the system-call seam in
// tests/launcher/extraction_test.cpp.)

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "e2e_launchers.h"
#include "launcher/run_folder_name.h"  // run_marker_suffix
#include "tree_listing.h"

namespace {

std::wstring second_launcher() {
    return build_path(E2E_SECOND_LAUNCHER);
}
std::wstring second_app_folder() {
    return build_path(E2E_SECOND_APP_DIR);
}

bool is_top_level_icon(const std::wstring& name) {
    return name.find(L'\\') == std::wstring::npos && name.size() > 4 &&
           _wcsicmp(name.c_str() + name.size() - 4, L".ico") == 0;
}

// The unpacked folder holds the staged application folder exactly, and the
// icon onefile-build adds beside it.
void expect_unpacked(const ProbeReport& report, const std::wstring& staged_folder) {
    TreeListing staged;
    ASSERT_TRUE(list_tree(staged_folder, staged));
    EXPECT_TRUE(report.listing_ok);
    TreeListing unpacked = report.extraction_folder;
    std::erase_if(unpacked,
                  [&](const auto& entry) { return !staged.count(entry.first) && is_top_level_icon(entry.first); });
    EXPECT_EQ(unpacked.size(), staged.size());
    EXPECT_TRUE(unpacked == staged) << "unpacked from " << to_utf8(staged_folder) << " differs";
}

bool starts_with(const std::wstring& text, const std::wstring& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::wstring own_folder_prefix(const std::wstring& tmp, DWORD pid) {
    return tmp + L"\\onefile_" + decimal(pid) + L"_";
}

// ---- many at once ---------------------------------------------------------------

// A folder named like a run's, with content and a marker nobody holds: what a
// killed run leaves.
std::wstring make_ended_run(const std::wstring& tmp, int serial) {
    const std::wstring folder = tmp + L"\\onefile_" + decimal(90000 + serial) + L"_000000_endedrun00" + decimal(serial);
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\lib").c_str(), nullptr);
    for (const std::wstring& file :
         {folder + L"\\probe_app.dll", folder + L"\\lib\\data.bin", folder + run_marker_suffix}) {
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        CloseHandle(handle);
    }
    return folder;
}

// Sixteen launchers share one temporary folder; every application reports
// and then waits until all sixteen are running, so all sixteen folders exist
// at the same time. Meanwhile a seventeenth start sweeps the folder, beside
// three ended runs' folders: it removes those and leaves every live one as it
// was.
TEST(Load, SixteenLaunchersAtOnce) {
    constexpr int count = 16;
    Scratch scratch;
    const std::wstring tag = L"onefile_e2e_" + decimal(GetCurrentProcessId()) + L"_sixteen_";
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, (tag + L"release").c_str());
    std::vector<HANDLE> ready(count);
    std::vector<Running> running(count);
    int started = 0;
    for (int i = 0; i < count; ++i) {
        const std::wstring ready_name = tag + L"ready_" + decimal(i);
        ready[i] = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
        Launch launch = scratch.launch_in_own_folder(probe_launcher(), L"report_" + decimal(i) + L".txt");
        launch.environment.push_back({L"PROBE_READY_EVENT", ready_name});
        launch.environment.push_back({L"PROBE_WAIT_EVENT", tag + L"release"});
        launch.environment.push_back({L"PROBE_EXIT_CODE", decimal(1000 + i)});
        std::wstring error;
        if (!start(launch, running[i], &error)) {
            ADD_FAILURE() << to_utf8(error);
            break;
        }
        ++started;
    }

    const bool all_ready =
        started == count && WaitForMultipleObjects(count, ready.data(), TRUE /* all */, 120000) == WAIT_OBJECT_0;
    EXPECT_TRUE(all_ready) << "not every application came up";
    std::set<std::wstring> folders;
    if (all_ready) {
        const std::vector<std::wstring> present = onefile_folders(scratch.tmp());
        EXPECT_EQ(present.size(), size_t{count});
        for (int i = 0; i < count; ++i) {
            ProbeReport report;
            if (!read_report(scratch.report_path(L"report_" + decimal(i) + L".txt"), report)) continue;
            const std::wstring folder = folder_of(report.library_path);
            EXPECT_TRUE(starts_with(folder, own_folder_prefix(scratch.tmp(), running[i].process.dwProcessId)))
                << to_utf8(folder);
            EXPECT_TRUE(path_exists(folder));
            folders.insert(folder);
        }
        EXPECT_EQ(folders.size(), size_t{count}) << "two launchers shared a folder";
    }

    std::vector<std::wstring> ended;
    for (int serial = 1; serial <= 3; ++serial) ended.push_back(make_ended_run(scratch.tmp(), serial));
    EXPECT_EQ(run(scratch.launch_in_own_folder(probe_launcher(), L"sweeper.txt")).exit_code, 0u);
    int untouched = 0;
    for (int i = 0; all_ready && i < count; ++i) {
        ProbeReport report;
        TreeListing now;
        untouched += read_report(scratch.report_path(L"report_" + decimal(i) + L".txt"), report) &&
                     list_tree(folder_of(report.library_path), now) && now == report.extraction_folder;
    }
    EXPECT_EQ(untouched, count) << "the sweep touched a live run's folder";
    int swept = 0;
    for (const std::wstring& folder : ended) swept += !path_exists(folder) && !path_exists(folder + run_marker_suffix);
    EXPECT_EQ(swept, 3);

    SetEvent(release);
    int right_codes = 0;
    for (int i = 0; i < started; ++i) {
        RunResult result;
        EXPECT_TRUE(finish(running[i], result));
        EXPECT_EQ(result.exit_code, DWORD(1000 + i)) << "launcher " << i;
        EXPECT_EQ(result.out + result.err, "");
        right_codes += result.exit_code == DWORD(1000 + i);
    }
    const size_t left = onefile_entries(scratch.tmp()).size();
    EXPECT_EQ(left, 0u);
    std::printf(
        "%d launchers ran at once: %zu distinct extraction folders, %d exit codes right, %zu folders left; a sweep "
        "meanwhile left %d live folders untouched and removed %d of 3 ended runs' folders\n",
        started, folders.size(), right_codes, left, untouched, swept);
    std::fflush(stdout);
    for (HANDLE event : ready) CloseHandle(event);
    CloseHandle(release);
}

// ---- launchers inside launchers ---------------------------------------------------------

// The application of one launcher starts a different launcher, which finds a
// live parent of another executable and so takes the parent role: each
// unpacks its own payload into its own folder.
TEST(Load, ApplicationStartsADifferentLauncher) {
    Scratch scratch;
    Launch launch = scratch.launch_in_own_folder(probe_launcher(), L"outer.txt");
    launch.environment.push_back({L"PROBE_START", second_launcher()});
    launch.environment.push_back({L"PROBE_START_REPORT", scratch.report_path(L"inner.txt")});
    launch.environment.push_back({L"PROBE_EXIT_CODE", L"23"});

    const RunResult result = run(launch);
    ProbeReport outer;
    ProbeReport inner;
    ASSERT_TRUE(read_report(scratch.report_path(L"outer.txt"), outer));
    ASSERT_TRUE(read_report(scratch.report_path(L"inner.txt"), inner));

    EXPECT_EQ(result.exit_code, 23u) << "the inner application's code, through both launchers";
    EXPECT_EQ(reported(outer, L"ZORVEK_ONEFILE_PARENT"), decimal(result.pid));
    const std::wstring inner_parent = reported(inner, L"ZORVEK_ONEFILE_PARENT").value_or(L"");
    EXPECT_NE(inner_parent, decimal(result.pid));
    EXPECT_NE(inner_parent, decimal(outer.pid));
    EXPECT_TRUE(starts_with(outer.library_path, own_folder_prefix(scratch.tmp(), result.pid)));
    EXPECT_TRUE(starts_with(inner.library_path, scratch.tmp() + L"\\onefile_" + inner_parent + L"_"));
    EXPECT_NE(reported(inner, L"ZORVEK_ONEFILE_RANDOM"), reported(outer, L"ZORVEK_ONEFILE_RANDOM"));
    EXPECT_EQ(reported(inner, L"ZORVEK_ONEFILE_DIRECTORY"), folder_of(second_launcher()));
    expect_unpacked(outer, probe_app_folder());
    expect_unpacked(inner, second_app_folder());
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

// The application starts the executable it runs in (its own launcher) with
// the environment it inherited: the new process finds the live parent running
// that same executable, takes the child role and runs the application from
// the parent's folder, unpacking nothing.
TEST(Load, ApplicationRestartsItsOwnExecutable) {
    Scratch scratch;
    Launch launch = scratch.launch_in_own_folder(probe_launcher(), L"first.txt");
    launch.environment.push_back({L"PROBE_START", L"self"});
    launch.environment.push_back({L"PROBE_START_REPORT", scratch.report_path(L"restarted.txt")});
    launch.environment.push_back({L"PROBE_EXIT_CODE", L"31"});

    const RunResult result = run(launch);
    ProbeReport first;
    ProbeReport restarted;
    ASSERT_TRUE(read_report(scratch.report_path(L"first.txt"), first));
    ASSERT_TRUE(read_report(scratch.report_path(L"restarted.txt"), restarted));

    EXPECT_EQ(result.exit_code, 31u);
    EXPECT_NE(restarted.pid, first.pid);
    EXPECT_NE(restarted.pid, result.pid);
    EXPECT_EQ(reported(restarted, L"ZORVEK_ONEFILE_PARENT"), decimal(result.pid));
    EXPECT_EQ(restarted.library_path, first.library_path) << "it looked for its files elsewhere";
    EXPECT_TRUE(restarted.extraction_folder == first.extraction_folder) << "it did not find its files";
    expect_unpacked(restarted, probe_app_folder());
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

// ---- unusual temporary folders ------------------------------------------------------------

void expect_whole_run_in(const Scratch& scratch, const std::wstring& tmp) {
    ASSERT_TRUE(CreateDirectoryW(tmp.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    Launch launch = scratch.launch_in_own_folder(probe_launcher());
    set_variable(launch, L"TMP", tmp);
    set_variable(launch, L"TEMP", tmp);
    launch.arguments = {L"\u00e4rger", L"\u65e5\u672c"};

    const RunResult result = run(launch);
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));

    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_TRUE(starts_with(report.library_path, own_folder_prefix(tmp, result.pid))) << to_utf8(report.library_path);
    ASSERT_EQ(report.arguments.size(), 3u);
    EXPECT_EQ(report.arguments[1], L"\u00e4rger");
    EXPECT_EQ(report.arguments[2], L"\u65e5\u672c");
    expect_unpacked(report, probe_app_folder());
    EXPECT_FALSE(path_exists(folder_of(report.library_path))) << "the extraction folder stayed";
    EXPECT_TRUE(onefile_entries(tmp).empty());
    EXPECT_TRUE(current_folder_intact(scratch.current_folder())) << "the cleanup deleted the current folder's files";
}

TEST(TemporaryFolder, NonAsciiName) {
    Scratch scratch;
    expect_whole_run_in(scratch, scratch.root() + L"\\t\u00ebst-\u65e5\u672c");
}

// A temporary folder of exactly units code units below base (which must be
// at least two shorter), made level by level, none over 102 units.
std::wstring folder_of_length(const std::wstring& base, size_t units) {
    std::wstring path = base;
    while (path.size() < units) {
        const size_t remaining = units - path.size();
        path += L"\\" + std::wstring(remaining > 103 ? 100 : remaining - 1, L'p');
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return path;
}

// 200 units: the library still below 260, the deepest files past it. 215:
// the extraction folder and its first level below 260, the second level
// folders past it. 257: the longest folder GetTempPathW takes under Wine;
// every path is past 260, the extraction folder's own too.
class LongExtractionPaths : public ::testing::TestWithParam<size_t> {};

TEST_P(LongExtractionPaths, UnpackRunAndCleanUp) {
    Scratch scratch;
    if (scratch.tmp().size() + 2 > GetParam()) GTEST_SKIP() << "the build folder's own path is longer than that";
    const std::wstring tmp = folder_of_length(scratch.tmp(), GetParam());
    ASSERT_EQ(tmp.size(), GetParam());
    const size_t deepest = tmp.size() + 32 + std::wstring(L"\\level1\\level2\\window_plus_one.bin").size();
    ASSERT_GT(deepest, 260u);
    expect_whole_run_in(scratch, tmp);
}

INSTANTIATE_TEST_SUITE_P(Units, LongExtractionPaths, ::testing::Values(200u, 215u, 257u));

}  // namespace
