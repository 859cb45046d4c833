// The cached mode end to end: the application's contract against temp mode,
// many first starts at once, repair, runs ended while they unpack, and the
// removal of other builds' folders while one of them runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "e2e_launchers.h"
#include "tests/support/scratch_tree.h"

namespace {

std::wstring cached_launcher() {
    return build_path(E2E_CACHED_LAUNCHER);
}
std::wstring cached_second_launcher() {
    return build_path(E2E_CACHED_SECOND_LAUNCHER);
}
std::wstring cached_bulky_launcher() {
    return build_path(E2E_CACHED_BULKY_LAUNCHER);
}

// {TEMP}\onefile-cache\{PRODUCT} with the scratch folder's TEMP.
std::wstring cache_root(const Scratch& scratch) {
    return scratch.tmp() + L"\\onefile-cache\\Lumbrick";
}

using test_support::names_in;

// What a cache holding one build's complete folder holds: the folder and its lock.
std::set<std::wstring> one_build(const std::wstring& key) {
    return {key, key + L".lock"};
}

std::wstring name_of(const std::wstring& path) {
    return path.substr(path.rfind(L'\\') + 1);
}

struct ReportedRun {
    RunResult result;
    ProbeReport report;
};

ReportedRun run_and_report(Launch launch, const Scratch& scratch, const std::wstring& report_name = L"report.txt") {
    ReportedRun run_;
    run_.result = run(launch);
    EXPECT_TRUE(read_report(scratch.report_path(report_name), run_.report)) << run_.result.out << run_.result.err;
    return run_;
}

// A run whose application waits, after its report, until it is let go: a
// live run holding its folder.
class LiveRun {
  public:
    LiveRun(const Scratch& scratch, const std::wstring& launcher, const std::wstring& report, const wchar_t* name) {
        const std::wstring tag = L"onefile_e2e_" + decimal(GetCurrentProcessId()) + L"_" + name + L"_";
        ready_ = CreateEventW(nullptr, TRUE, FALSE, (tag + L"ready").c_str());
        release_ = CreateEventW(nullptr, TRUE, FALSE, (tag + L"release").c_str());
        Launch launch = scratch.launch(launcher, report);
        launch.environment.push_back({L"PROBE_READY_EVENT", tag + L"ready"});
        launch.environment.push_back({L"PROBE_WAIT_EVENT", tag + L"release"});
        up_ = start(launch, running_) && WaitForSingleObject(ready_, 60000) == WAIT_OBJECT_0;
    }
    ~LiveRun() {
        CloseHandle(ready_);
        CloseHandle(release_);
    }
    bool up() const { return up_; }
    // Lets the application return; its run's exit code.
    DWORD end() {
        SetEvent(release_);
        RunResult result;
        EXPECT_TRUE(finish(running_, result));
        return result.exit_code;
    }

  private:
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    Running running_;
    bool up_ = false;
};

// ---- the application's contract --------------------------------------------------

TEST(CachedMode, ApplicationSeesWhatATempModeChildSees) {
    const std::vector<std::wstring> arguments = {L"plain", L"two words", L"", L"quote\"inside", L"C:\\dir\\"};
    Scratch temp_scratch;
    Launch temp_launch = temp_scratch.launch(probe_launcher());
    temp_launch.argument0 = L"given-name";
    temp_launch.arguments = arguments;
    temp_launch.environment.push_back({L"PROBE_EXIT_CODE", L"0xC0000135"});
    const ReportedRun temp = run_and_report(temp_launch, temp_scratch);

    Scratch scratch;
    Launch launch = scratch.launch(cached_launcher());
    launch.argument0 = L"given-name";
    launch.arguments = arguments;
    launch.environment.push_back({L"PROBE_EXIT_CODE", L"0xC0000135"});
    for (const char* start : {"cold", "warm"}) {
        SCOPED_TRACE(start);
        const ReportedRun cached = run_and_report(launch, scratch);
        EXPECT_EQ(cached.result.exit_code, 0xC0000135u);
        EXPECT_EQ(cached.result.exit_code, temp.result.exit_code);
        EXPECT_EQ(cached.result.out + cached.result.err, "");
        ASSERT_EQ(cached.report.arguments.size(), temp.report.arguments.size());
        EXPECT_EQ(cached.report.arguments[0], cached_launcher());
        for (std::size_t i = 1; i < temp.report.arguments.size(); ++i) {
            EXPECT_EQ(cached.report.arguments[i], temp.report.arguments[i]) << i;
        }
        const std::wstring folder = folder_of(cached.report.library_path);
        EXPECT_EQ(folder_of(folder), cache_root(scratch));
        EXPECT_EQ(name_of(cached.report.library_path), name_of(temp.report.library_path));
        EXPECT_EQ(reported(cached.report, L"ZORVEK_ONEFILE_DIRECTORY"), folder_of(cached_launcher()));
        EXPECT_EQ(reported(cached.report, L"ZORVEK_ORIGINAL_ARGV0"), L"given-name");
        EXPECT_EQ(reported(cached.report, L"ZORVEK_ONEFILE_PARENT"), decimal(cached.result.pid));
        EXPECT_EQ(cached.report.pid, cached.result.pid) << "the application runs in the started process";
        // The same files as temp mode unpacks, and the record beside them.
        TreeListing files = cached.report.extraction_folder;
        EXPECT_EQ(files.erase(L".onefile-record"), 1u);
        EXPECT_TRUE(files == temp.report.extraction_folder);
        // Nothing is removed when the application ends.
        EXPECT_EQ(names_in(cache_root(scratch)), one_build(name_of(folder)));
        EXPECT_TRUE(path_exists(cached.report.library_path));
    }
}

TEST(CachedMode, ApplicationRestartingItsExecutableFindsItsFiles) {
    Scratch scratch;
    Launch launch = scratch.launch(cached_launcher(), L"outer.txt");
    launch.environment.push_back({L"PROBE_START", L"self"});
    launch.environment.push_back({L"PROBE_START_REPORT", scratch.report_path(L"inner.txt")});
    launch.environment.push_back({L"PROBE_EXIT_CODE", L"41"});
    const ReportedRun outer = run_and_report(launch, scratch, L"outer.txt");
    ProbeReport inner;
    ASSERT_TRUE(read_report(scratch.report_path(L"inner.txt"), inner));
    EXPECT_EQ(outer.result.exit_code, 41u);
    EXPECT_EQ(inner.library_path, outer.report.library_path);
    EXPECT_NE(inner.pid, outer.report.pid);
}

// ---- first starts at once ------------------------------------------------------------

TEST(CachedMode, SixteenFirstStartsAtOnceLeaveOneFolder) {
    constexpr int count = 16;
    Scratch scratch;
    std::vector<Running> running(count);
    int started = 0;
    for (int i = 0; i < count; ++i) {
        Launch launch = scratch.launch(cached_launcher(), L"report_" + decimal(i) + L".txt");
        launch.environment.push_back({L"PROBE_EXIT_CODE", decimal(2000 + i)});
        std::wstring error;
        if (!start(launch, running[i], &error)) {
            ADD_FAILURE() << to_utf8(error);
            break;
        }
        ++started;
    }
    int right_codes = 0;
    std::set<std::wstring> folders;
    for (int i = 0; i < started; ++i) {
        RunResult result;
        EXPECT_TRUE(finish(running[i], result, 180000));
        EXPECT_EQ(result.exit_code, DWORD(2000 + i)) << "launcher " << i << ": " << result.out << result.err;
        right_codes += result.exit_code == DWORD(2000 + i);
        ProbeReport report;
        if (read_report(scratch.report_path(L"report_" + decimal(i) + L".txt"), report)) {
            folders.insert(folder_of(report.library_path));
        }
    }
    ASSERT_EQ(folders.size(), 1u) << "every run uses the one published folder";
    const std::set<std::wstring> left = names_in(cache_root(scratch));
    EXPECT_EQ(left, one_build(name_of(*folders.begin())));
    std::printf("%d first starts at once: %d exit codes right, %zu final folder, %zu other entries left\n", started,
                right_codes, folders.size(), left.size() - 2);
    std::fflush(stdout);
}

// ---- repair -------------------------------------------------------------------------------

TEST(CachedMode, DamagedFolderIsRepairedUnlessALiveRunUsesIt) {
    Scratch scratch;
    const ReportedRun first = run_and_report(scratch.launch(cached_launcher()), scratch);
    ASSERT_EQ(first.result.exit_code, 0u);
    const std::wstring folder = folder_of(first.report.library_path);
    const std::wstring cut_file = folder + L"\\chunk_exact.bin";
    const std::wstring gone_file = folder + L"\\level1\\notes.txt";

    // A live run holds the folder while it is damaged.
    LiveRun live(scratch, cached_launcher(), L"holding.txt", L"repair");
    ASSERT_TRUE(live.up());
    HANDLE cut = CreateFileW(cut_file.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    ASSERT_NE(cut, INVALID_HANDLE_VALUE);
    CloseHandle(cut);
    ASSERT_TRUE(DeleteFileW(gone_file.c_str()));

    const ReportedRun beside = run_and_report(scratch.launch(cached_launcher(), L"beside.txt"), scratch, L"beside.txt");
    EXPECT_EQ(beside.result.exit_code, 0u) << beside.result.out << beside.result.err;
    const std::wstring private_copy = folder_of(beside.report.library_path);
    EXPECT_EQ(private_copy.rfind(folder + L".staging-", 0), 0u) << to_utf8(private_copy);
    EXPECT_EQ(beside.report.extraction_folder.at(L"chunk_exact.bin").size, 32768u);
    EXPECT_FALSE(path_exists(gone_file)) << "the live run's folder was altered";

    EXPECT_EQ(live.end(), 0u);

    const ReportedRun repaired =
        run_and_report(scratch.launch(cached_launcher(), L"repaired.txt"), scratch, L"repaired.txt");
    EXPECT_EQ(repaired.result.exit_code, 0u);
    EXPECT_EQ(folder_of(repaired.report.library_path), folder);
    EXPECT_TRUE(path_exists(gone_file));
    EXPECT_TRUE(repaired.report.extraction_folder == first.report.extraction_folder);
    EXPECT_EQ(names_in(cache_root(scratch)), one_build(name_of(folder))) << "the private copy is swept";
}

// ---- runs ended while they unpack -------------------------------------------------------

TEST(CachedMode, RunEndedWhileUnpackingLeavesNothingTheNextStartTripsOver) {
    Scratch scratch;
    int ended_early = 0;
    int left_staging = 0;
    // Ten points spread evenly over an undisturbed cold start of this machine.
    const ReportedRun undisturbed = run_and_report(scratch.launch(cached_bulky_launcher()), scratch);
    ASSERT_EQ(undisturbed.result.exit_code, 0u);
    ASSERT_TRUE(remove_tree(cache_root(scratch)));
    for (int point = 0; point < 10; ++point) {
        const DWORD delay_ms = static_cast<DWORD>(undisturbed.result.elapsed_ms * point / 10);
        SCOPED_TRACE(delay_ms);
        Running doomed;
        ASSERT_TRUE(start(scratch.launch(cached_bulky_launcher(), L"doomed.txt"), doomed));
        Sleep(delay_ms);
        ended_early += TerminateProcess(doomed.process.hProcess, 99) != FALSE;
        RunResult ended;
        finish(doomed, ended);
        for (const std::wstring& name : names_in(cache_root(scratch))) {
            left_staging += name.find(L".staging-") != std::wstring::npos && name.find(L".lock") == std::wstring::npos;
        }

        const ReportedRun next = run_and_report(scratch.launch(cached_bulky_launcher()), scratch);
        EXPECT_EQ(next.result.exit_code, 0u) << next.result.out << next.result.err;
        const std::wstring key = name_of(folder_of(next.report.library_path));
        EXPECT_EQ(names_in(cache_root(scratch)), one_build(key));
        EXPECT_EQ(next.report.extraction_folder.count(L"bulk\\part23.bin"), 1u);
        // Start cold again for the next point.
        ASSERT_TRUE(remove_tree(cache_root(scratch)));
    }
    std::printf("%d of 10 runs ended before their end, %d of them in the middle of unpacking\n", ended_early,
                left_staging);
    // How many points fell inside the unpacking depends on the machine's load
    // (the benchmark counts them too); every point above was checked alike.
    std::fflush(stdout);
}

// ---- other builds ------------------------------------------------------------------------

TEST(CachedMode, OtherBuildsFoldersGoOnceNoLiveRunUsesThem) {
    Scratch scratch;
    LiveRun old_run(scratch, cached_second_launcher(), L"old.txt", L"old_build");
    ASSERT_TRUE(old_run.up());
    ProbeReport old_report;
    ASSERT_TRUE(read_report(scratch.report_path(L"old.txt"), old_report));
    const std::wstring old_folder = folder_of(old_report.library_path);
    const TreeListing old_files = old_report.extraction_folder;

    const ReportedRun current = run_and_report(scratch.launch(cached_launcher()), scratch);
    EXPECT_EQ(current.result.exit_code, 0u);
    const std::wstring new_key = name_of(folder_of(current.report.library_path));
    EXPECT_NE(new_key, name_of(old_folder));
    TreeListing still;
    ASSERT_TRUE(list_tree(old_folder, still));
    EXPECT_TRUE(still == old_files) << "a folder in use by a running application was altered";

    EXPECT_EQ(old_run.end(), 0u);

    const ReportedRun after = run_and_report(scratch.launch(cached_launcher()), scratch);
    EXPECT_EQ(after.result.exit_code, 0u);
    EXPECT_EQ(names_in(cache_root(scratch)), one_build(new_key));
    // Unrelated names in the cache folder are never touched.
    EXPECT_TRUE(CreateDirectoryW((cache_root(scratch) + L"\\mine").c_str(), nullptr));
    run_and_report(scratch.launch(cached_second_launcher()), scratch);
    EXPECT_TRUE(path_exists(cache_root(scratch) + L"\\mine"));
    EXPECT_FALSE(path_exists(folder_of(current.report.library_path)));
}

}  // namespace
