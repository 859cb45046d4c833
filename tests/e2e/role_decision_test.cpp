// The role a launcher takes, seen from outside through what its application
// reports.
//
// Parent role: the launcher unpacks its own folder, sets ZORVEK_ONEFILE_PARENT
// to its own id and runs the application in a child, so the probe reports
// PARENT = the started process and a pid of its own.
// Child role: the launcher unpacks nothing and runs the application itself
// from the folder of the live launcher named by ZORVEK_ONEFILE_PARENT (found
// through the inherited TIME_US and RANDOM), so the probe reports the started
// process's own pid and that other launcher's folder.

#include <gtest/gtest.h>

#include "e2e_launchers.h"

namespace {

HANDLE make_event(const std::wstring& name) {
    return CreateEventW(nullptr, TRUE, FALSE, name.c_str());
}

// A probe launcher in the parent role whose application has reported and
// waits to be released.
class WaitingLauncher {
  public:
    explicit WaitingLauncher(const Scratch& scratch, std::wstring program = probe_launcher())
        : scratch_(scratch), program_(std::move(program)) {
        static int serial = 0;
        const std::wstring tag = decimal(GetCurrentProcessId()) + L"_" + decimal(++serial);
        ready_name_ = L"onefile_e2e_ready_" + tag;
        release_name_ = L"onefile_e2e_release_" + tag;
        ready_ = make_event(ready_name_);
        release_ = make_event(release_name_);
    }
    ~WaitingLauncher() {
        if (running_.process.hProcess) release();
        CloseHandle(ready_);
        CloseHandle(release_);
    }

    // Starts it and waits until its application has written the report.
    bool start_and_wait() {
        Launch launch = scratch_.launch(program_, L"waiting.txt");
        launch.environment.push_back({L"PROBE_READY_EVENT", ready_name_});
        launch.environment.push_back({L"PROBE_WAIT_EVENT", release_name_});
        std::wstring error;
        if (!start(launch, running_, &error)) {
            ADD_FAILURE() << to_utf8(error);
            return false;
        }
        HANDLE either[] = {ready_, running_.process.hProcess};
        if (WaitForMultipleObjects(2, either, FALSE, 30000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the waiting launcher ended or hung before its application reported";
            return false;
        }
        return read_report(scratch_.report_path(L"waiting.txt"), report_);
    }

    RunResult release() {
        SetEvent(release_);
        RunResult result;
        EXPECT_TRUE(finish(running_, result));
        return result;
    }

    DWORD pid() const { return running_.process.dwProcessId; }
    const ProbeReport& report() const { return report_; }
    std::wstring variable(const wchar_t* name) const { return reported(report_, name).value_or(L""); }

  private:
    const Scratch& scratch_;
    std::wstring program_;
    std::wstring ready_name_;
    std::wstring release_name_;
    HANDLE ready_ = nullptr;
    HANDLE release_ = nullptr;
    Running running_;
    ProbeReport report_;
};

struct Observed {
    RunResult result;
    ProbeReport report;
};

Observed run_with_parent(const Scratch& scratch, const std::wstring& program,
                         std::vector<std::pair<std::wstring, std::optional<std::wstring>>> settings) {
    Launch launch = scratch.launch(program, L"observed.txt");
    launch.environment.insert(launch.environment.end(), settings.begin(), settings.end());
    Observed observed;
    observed.result = run(launch);
    read_report(scratch.report_path(L"observed.txt"), observed.report);
    return observed;
}

void expect_parent_role(const Scratch& scratch, const Observed& o, DWORD exit_code = 0) {
    EXPECT_EQ(reported(o.report, L"ZORVEK_ONEFILE_PARENT"), std::optional<std::wstring>(decimal(o.result.pid)));
    EXPECT_NE(o.report.pid, o.result.pid) << "the application ran in the started process itself";
    EXPECT_EQ(o.report.library_path.rfind(scratch.tmp() + L"\\onefile_" + decimal(o.result.pid) + L"_", 0), 0u)
        << to_utf8(o.report.library_path);
    EXPECT_EQ(o.result.exit_code, exit_code);
}

void expect_child_role_of(const WaitingLauncher& parent, const Observed& o) {
    EXPECT_EQ(o.report.pid, o.result.pid) << "the application ran in a process of its own";
    EXPECT_EQ(o.report.library_path, parent.report().library_path);
    EXPECT_EQ(reported(o.report, L"ZORVEK_ONEFILE_PARENT"), std::optional<std::wstring>(decimal(parent.pid())));
    EXPECT_EQ(o.result.exit_code, 9u);
    EXPECT_TRUE(path_exists(parent.report().library_path)) << "a child role removes nothing";
}

class MalformedParent : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(MalformedParent, SelectsTheParentRole) {
    Scratch scratch;
    const Observed o = run_with_parent(scratch, probe_launcher(), {{L"ZORVEK_ONEFILE_PARENT", GetParam()}});
    expect_parent_role(scratch, o);
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

// Empty; not a whole number; blank only; a 32-bit number that names no
// process; beyond 32 bits; a sign.
INSTANTIATE_TEST_SUITE_P(Values, MalformedParent,
                         ::testing::Values(L"", L"12a", L" ", L"2147483648", L"99999999999", L"-4"));

TEST(RoleDecision, DeadProcessIdSelectsTheParentRole) {
    Scratch scratch;
    const RunResult earlier = run(scratch.launch(probe_launcher(), L"earlier.txt"));
    ASSERT_EQ(earlier.exit_code, 0u);

    const Observed o = run_with_parent(scratch, probe_launcher(), {{L"ZORVEK_ONEFILE_PARENT", decimal(earlier.pid)}});
    expect_parent_role(scratch, o);
}

TEST(RoleDecision, LiveProcessOfAnotherExecutableSelectsTheParentRole) {
    Scratch scratch;
    const Observed o =
        run_with_parent(scratch, probe_launcher(), {{L"ZORVEK_ONEFILE_PARENT", decimal(GetCurrentProcessId())}});
    expect_parent_role(scratch, o);
}

class LiveParent : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(parent.start_and_wait()); }

    // Starts program as if it were parent's child, with the variables the
    // parent's child inherits.
    Observed run_as_child(const std::wstring& program) {
        return run_with_parent(scratch, program,
                               {{L"ZORVEK_ONEFILE_PARENT", decimal(parent.pid())},
                                {L"ZORVEK_ONEFILE_TIME_US", parent.variable(L"ZORVEK_ONEFILE_TIME_US")},
                                {L"ZORVEK_ONEFILE_RANDOM", parent.variable(L"ZORVEK_ONEFILE_RANDOM")},
                                {L"PROBE_EXIT_CODE", L"9"}});
    }

    // The parent is still the one to clean up, and does.
    void release_and_check_cleanup() {
        const RunResult result = parent.release();
        EXPECT_EQ(result.exit_code, 0u);
        EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
    }

    Scratch scratch;
    WaitingLauncher parent{scratch};
};

TEST_F(LiveParent, SamePathSelectsTheChildRole) {
    const Observed o = run_as_child(probe_launcher());
    expect_child_role_of(parent, o);
    release_and_check_cleanup();
}

TEST_F(LiveParent, ShortPathSelectsTheChildRole) {
    const std::wstring long_path = probe_launcher();
    std::wstring short_path(GetShortPathNameW(long_path.c_str(), nullptr, 0), L'\0');
    ASSERT_GT(short_path.size(), 0u);
    short_path.resize(GetShortPathNameW(long_path.c_str(), short_path.data(), static_cast<DWORD>(short_path.size())));
    ASSERT_NE(short_path, long_path) << "the launcher's name is chosen long enough to have a distinct short form";

    const Observed o = run_as_child(short_path);
    expect_child_role_of(parent, o);
    release_and_check_cleanup();
}

TEST_F(LiveParent, SymbolicLinkSelectsTheChildRole) {
    const std::wstring link = probe_launcher_symlink();
    ASSERT_EQ(link.substr(link.rfind(L'\\') + 1), L"probe_launcher_symlink.exe") << to_utf8(link);
    const Observed o = run_as_child(link);
    expect_child_role_of(parent, o);
    release_and_check_cleanup();
}

// The role decision takes the same digits-only rule as the {PID} placeholder:
// a blank or a sign before a live parent's id gives the parent role, which
// writes its own id over the value, instead of a fail-fast end in {PID}.
TEST_F(LiveParent, BlankOrSignBeforeTheParentsIdSelectsTheParentRole) {
    for (const std::wstring prefix : {L" ", L"+", L"\t"}) {
        SCOPED_TRACE(to_utf8(prefix));
        Observed o = run_with_parent(scratch, probe_launcher(),
                                     {{L"ZORVEK_ONEFILE_PARENT", prefix + decimal(parent.pid())},
                                      {L"ZORVEK_ONEFILE_TIME_US", parent.variable(L"ZORVEK_ONEFILE_TIME_US")},
                                      {L"ZORVEK_ONEFILE_RANDOM", parent.variable(L"ZORVEK_ONEFILE_RANDOM")}});
        expect_parent_role(scratch, o);
        EXPECT_EQ(onefile_folders(scratch.tmp()).size(), 1u) << "only the live parent's folder";
    }
    release_and_check_cleanup();
}

// Identity is the file's final path, not its bytes: a copy is another
// executable and unpacks its own folder.
TEST_F(LiveParent, ByteIdenticalCopySelectsTheParentRole) {
    const std::wstring copy = scratch.root() + L"\\copy_of_probe_launcher.exe";
    ASSERT_TRUE(CopyFileW(probe_launcher().c_str(), copy.c_str(), TRUE));

    const Observed o = run_as_child(copy);
    expect_parent_role(scratch, o, 9);
    EXPECT_NE(o.report.library_path, parent.report().library_path);
    release_and_check_cleanup();
}

// A hard link is a second name of the same file; the final path of a file
// opened through it is that name, so it counts as another executable. The
// pair is a private copy and its link: a file that a running program maps
// cannot be deleted, and other tests run probe_launcher.exe at the same time.
TEST(RoleDecision, HardLinkSelectsTheParentRole) {
    Scratch scratch;
    const std::wstring original = scratch.root() + L"\\original.exe";
    const std::wstring link = scratch.root() + L"\\hard_link.exe";
    ASSERT_TRUE(CopyFileW(probe_launcher().c_str(), original.c_str(), TRUE));
    if (!CreateHardLinkW(link.c_str(), original.c_str(), nullptr))
        GTEST_SKIP() << "no hard links here (error " << GetLastError() << ")";
    WaitingLauncher parent(scratch, original);
    ASSERT_TRUE(parent.start_and_wait());

    const Observed o = run_with_parent(scratch, link,
                                       {{L"ZORVEK_ONEFILE_PARENT", decimal(parent.pid())},
                                        {L"ZORVEK_ONEFILE_TIME_US", parent.variable(L"ZORVEK_ONEFILE_TIME_US")},
                                        {L"ZORVEK_ONEFILE_RANDOM", parent.variable(L"ZORVEK_ONEFILE_RANDOM")}});

    expect_parent_role(scratch, o);
    EXPECT_EQ(parent.release().exit_code, 0u);
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

}  // namespace
