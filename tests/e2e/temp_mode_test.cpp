// Temp mode leaves nothing behind when the parent is killed from outside:
// the child ends with it, a process the application started runs on, and
// the next start sweeps the folders of ended runs (a sweep among live runs:
// load_test.cpp).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "e2e_launchers.h"

namespace {

std::wstring big_launcher() {
    return build_path(E2E_BIG_LAUNCHER);
}

// Processes of the run still alive in the harness's job (launcher, child).
// A failed query counts as one still running, so it shows as too slow.
DWORD processes_in(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, nullptr))
        return 1;
    return accounting.ActiveProcesses;
}

// Kills the launcher (the parent) alone, as Task Manager would, and returns
// how long the rest of its run took to end (at most limit_ms + a little).
ULONGLONG kill_parent_and_time_the_rest(Running& running, ULONGLONG limit_ms = 5000) {
    TerminateProcess(running.process.hProcess, 0xDEAD);
    WaitForSingleObject(running.process.hProcess, INFINITE);
    const ULONGLONG killed_at = GetTickCount64();
    while (processes_in(running.job) != 0 && GetTickCount64() - killed_at < limit_ms) Sleep(5);
    return GetTickCount64() - killed_at;
}

bool wait_for_report(const std::wstring& path, ProbeReport& report, DWORD limit_ms) {
    const ULONGLONG until = GetTickCount64() + limit_ms;
    std::string text;
    while (GetTickCount64() < until) {
        if (read_file(path, text) && text.find("\nend\n") != std::string::npos) return read_report(path, report);
        Sleep(20);
    }
    return false;
}

struct EventPair {
    std::wstring ready;
    std::wstring release;
    HANDLE ready_event;
    HANDLE release_event;
};

EventPair make_events(const std::wstring& tag) {
    const std::wstring prefix = L"onefile_e2e_" + decimal(GetCurrentProcessId()) + L"_" + tag + L"_";
    EventPair events{prefix + L"ready", prefix + L"release", nullptr, nullptr};
    events.ready_event = CreateEventW(nullptr, TRUE, FALSE, events.ready.c_str());
    events.release_event = CreateEventW(nullptr, TRUE, FALSE, events.release.c_str());
    return events;
}

void close_events(EventPair& events) {
    CloseHandle(events.ready_event);
    CloseHandle(events.release_event);
}

// ---- the parent killed ----------------------------------------------------------

// Five kills spread over the unpacking of the 100 MB application and five
// while the application runs. After each, no process of the run outlives
// the parent by more than a second; then the next start's sweep leaves no
// folder of those runs.
TEST(TempMode, KilledParentEndsTheApplicationAndTheNextStartSweepsItsFolder) {
    Scratch scratch;
    EventPair events = make_events(L"killed");

    // The undisturbed run, timed up to the application's start.
    Launch big = scratch.launch_in_own_folder(big_launcher(), L"big.txt");
    set_variable(big, L"PROBE_READY_EVENT", events.ready);
    set_variable(big, L"PROBE_WAIT_EVENT", events.release);
    Running measured;
    ASSERT_TRUE(start(big, measured));
    ASSERT_EQ(WaitForSingleObject(events.ready_event, 120000), WAIT_OBJECT_0);
    const ULONGLONG start_ms = GetTickCount64() - measured.started_at;
    SetEvent(events.release_event);
    RunResult measured_result;
    ASSERT_TRUE(finish(measured, measured_result));
    ASSERT_EQ(measured_result.exit_code, 0u);
    ResetEvent(events.ready_event);
    ResetEvent(events.release_event);

    ULONGLONG slowest_ms = 0;
    int ended_within_a_second = 0;
    int folders_left_by_kills = 0;  // each swept by the next start
    for (int point = 0; point < 10; ++point) {
        SCOPED_TRACE(point);
        const bool while_unpacking = point < 5;
        Launch launch = while_unpacking ? big : scratch.launch_in_own_folder(probe_launcher(), L"small.txt");
        if (!while_unpacking) {
            set_variable(launch, L"PROBE_READY_EVENT", events.ready);
            set_variable(launch, L"PROBE_WAIT_EVENT", events.release);
        }
        const std::vector<std::wstring> before = onefile_folders(scratch.tmp());
        Running running;
        ASSERT_TRUE(start(launch, running));
        if (while_unpacking) {
            Sleep(static_cast<DWORD>(start_ms * (point + 1) / 6));
        } else {
            ASSERT_EQ(WaitForSingleObject(events.ready_event, 60000), WAIT_OBJECT_0);
            ResetEvent(events.ready_event);
            Sleep(100 * (point - 5));
        }
        const ULONGLONG rest_ms = kill_parent_and_time_the_rest(running);
        slowest_ms = std::max(slowest_ms, rest_ms);
        EXPECT_LE(rest_ms, 1000u) << "the application outlived its killed parent";
        ended_within_a_second += rest_ms <= 1000;
        RunResult result;
        finish(running, result);
        EXPECT_EQ(result.exit_code, 0xDEADu);
        for (const std::wstring& folder : onefile_folders(scratch.tmp()))
            folders_left_by_kills += std::find(before.begin(), before.end(), folder) == before.end();
    }

    const RunResult next = run(scratch.launch_in_own_folder(probe_launcher(), L"next.txt"));
    EXPECT_EQ(next.exit_code, 0u);
    const size_t left = onefile_entries(scratch.tmp()).size();
    EXPECT_EQ(left, 0u);
    std::printf(
        "parent killed at 10 points (5 while unpacking 100 MB, unpacked and started in %llu ms; 5 while the "
        "application runs): the rest of the run ended within a second %d times (slowest %llu ms); %d folders "
        "left by the kills, %zu entries left after the next start's sweep\n",
        start_ms, ended_within_a_second, slowest_ms, folders_left_by_kills, left);
    std::fflush(stdout);
    close_events(events);
}

// The application starts a helper (here its own executable again, which
// finds the live parent and runs the application a second time) and the
// parent is then killed: the application ends with it, the helper runs on,
// and the folder it still uses stays until it ends.
TEST(TempMode, HelperTheApplicationStartedOutlivesAKilledParent) {
    Scratch scratch;
    Launch launch = scratch.launch_in_own_folder(probe_launcher(), L"application.txt");
    set_variable(launch, L"PROBE_START", L"self");
    set_variable(launch, L"PROBE_START_REPORT", scratch.report_path(L"helper.txt"));
    set_variable(launch, L"PROBE_SLEEP_MS", L"4000");
    Running running;
    ASSERT_TRUE(start(launch, running));
    ProbeReport application;
    ProbeReport helper;
    ASSERT_TRUE(wait_for_report(scratch.report_path(L"helper.txt"), helper, 60000));
    ASSERT_TRUE(read_report(scratch.report_path(L"application.txt"), application));
    HANDLE application_process = OpenProcess(SYNCHRONIZE, FALSE, application.pid);
    HANDLE helper_process = OpenProcess(SYNCHRONIZE, FALSE, helper.pid);
    ASSERT_NE(application_process, nullptr);
    ASSERT_NE(helper_process, nullptr);
    const std::wstring folder = folder_of(application.library_path);

    TerminateProcess(running.process.hProcess, 0xDEAD);
    EXPECT_EQ(WaitForSingleObject(application_process, 1000), WAIT_OBJECT_0) << "the application outlived its parent";
    EXPECT_EQ(WaitForSingleObject(helper_process, 0), WAIT_TIMEOUT) << "the helper ended with the application";

    // While the helper lives, its run counts as live: a sweep leaves the folder.
    EXPECT_EQ(run(scratch.launch(probe_launcher(), L"sweep_1.txt")).exit_code, 0u);
    EXPECT_TRUE(path_exists(folder));

    EXPECT_EQ(WaitForSingleObject(helper_process, 30000), WAIT_OBJECT_0);
    RunResult result;
    finish(running, result);
    EXPECT_EQ(run(scratch.launch(probe_launcher(), L"sweep_2.txt")).exit_code, 0u);
    EXPECT_FALSE(path_exists(folder));
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
    CloseHandle(application_process);
    CloseHandle(helper_process);
}

}  // namespace
