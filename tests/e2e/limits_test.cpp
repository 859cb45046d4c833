// Limits that what a user supplies can reach, met by real launchers: each
// ends with one line naming what was too long and exit code 2, before
// anything is made from a cut text.
//
// Reached end to end here: the temporary folder (a long TMP), the entry name
// (hand-made blocks, the packer refuses long names) and the child's command
// line (a long argument list). The joined file path and the executable path
// cannot be reached under Wine: GetTempPathW takes no folder longer than 258
// units and the name no more than 1,023, so a joined path stays far below
// 4,096; and Wine cannot start a program whose path passes 260 units. Unit
// tests take those through the system-call seam.

#include <gtest/gtest.h>

#include "e2e_launchers.h"

namespace {

// A folder named onefile_<pid>_... at the root of the drive of path: where an
// empty temporary folder would put the extraction folder.
bool folder_at_drive_root(const std::wstring& path, DWORD pid) {
    const std::wstring root = path.substr(0, path.find(L'\\') + 1);
    for (const std::wstring& name : onefile_entries(root))
        if (name.rfind(L"onefile_" + decimal(pid) + L"_", 0) == 0) return true;
    return false;
}

// ---- the temporary folder ---------------------------------------------------------

// A TMP the system will not hand out whole must stop the launcher: unpacking
// into the folder the rest of the path names (the root of the current drive)
// would put the application where nobody asked for it.
class LongTemporaryFolder : public ::testing::TestWithParam<size_t> {};

TEST_P(LongTemporaryFolder, StopsBeforeAnythingIsMade) {
    Scratch scratch;
    if (scratch.tmp().size() + 2 > GetParam()) GTEST_SKIP() << "the build folder's own path is longer than that";
    const std::wstring tmp = scratch.tmp() + L"\\" + std::wstring(GetParam() - scratch.tmp().size() - 1, L't');
    ASSERT_EQ(tmp.size(), GetParam());
    Launch launch = scratch.launch_in_own_folder(probe_launcher());
    set_variable(launch, L"TMP", tmp);
    set_variable(launch, L"TEMP", tmp);

    const RunResult result = run(launch);

    EXPECT_EQ(result.out, "Error, temporary folder path is too long.\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 2u);
    ProbeReport report;
    if (path_exists(scratch.report_path()) && read_report(scratch.report_path(), report))
        ADD_FAILURE() << "the application ran from " << to_utf8(report.library_path);
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
    EXPECT_FALSE(folder_at_drive_root(scratch.root(), result.pid)) << "left a folder at the root of the current drive";
}

// 259: one past the longest folder GetTempPathW takes under Wine (258 and its
// backslash); 4,000: close to the launcher's own 4,096; 32,000: near the
// longest value a variable can hold.
INSTANTIATE_TEST_SUITE_P(Units, LongTemporaryFolder, ::testing::Values(259u, 4000u, 32000u));

// ---- the entry name ------------------------------------------------------------------

TEST(EntryNameLimit, NameOf1023UnitsIsUnpacked) {
    Scratch scratch;
    const RunResult result = run(scratch.launch_in_own_folder(block_launcher(L"name_1023")));
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));

    std::wstring longest;
    for (const auto& [name, entry] : report.extraction_folder)
        if (!entry.is_folder && name.size() > longest.size()) longest = name;
    EXPECT_EQ(longest.size(), 1023u);
    EXPECT_EQ(report.extraction_folder[longest].size, 14u);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty()) << "the extraction folder stayed";
    EXPECT_TRUE(current_folder_intact(scratch.current_folder())) << "the cleanup deleted the current folder's files";
}

// The name is refused as it is read, after the first entry was unpacked:
// the end removes the folder with the library in it.
TEST(EntryNameLimit, NameOf1024UnitsStops) {
    Scratch scratch;
    const RunResult result = run(scratch.launch_in_own_folder(block_launcher(L"name_1024")));

    EXPECT_EQ(result.out, "Error, attached data holds an entry name that is too long.\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 2u);
    EXPECT_FALSE(path_exists(scratch.report_path()));
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
    EXPECT_TRUE(current_folder_intact(scratch.current_folder()));
}

// ---- the child's command line ---------------------------------------------------------

// The parent's own line must fit CreateProcessW (32,767 units with the
// terminator); the line it rebuilds for its child may be longer: argument 0
// becomes the launcher's full path, and arguments that need quotation marks
// get them. The rebuilt line holds at most 32,766 units and its terminator.
class CommandLineLimit : public ::testing::Test {
  protected:
    void SetUp() override {
        // Argument 0 as the child receives it: the launcher's module path.
        Launch probe = scratch.launch_in_own_folder(probe_launcher(), L"module.txt");
        probe.argument0 = L"x";
        run(probe);
        ProbeReport report;
        ASSERT_TRUE(read_report(scratch.report_path(L"module.txt"), report));
        ASSERT_FALSE(report.arguments.empty());
        module_path = report.arguments[0];
        ASSERT_EQ(module_path.find_first_of(L" \t\""), std::wstring::npos) << "quoting would change the sums";
    }

    // Arguments of 'a' whose rebuilt line (module path, then a blank and the
    // argument for each) has exactly units code units.
    std::vector<std::wstring> arguments_for_rebuilt_length(size_t units) const {
        std::vector<std::wstring> arguments;
        size_t length = module_path.size();
        while (units - length > 1001 + 2) {
            arguments.push_back(std::wstring(1000, L'a'));
            length += 1001;
        }
        arguments.push_back(std::wstring(units - length - 1, L'a'));
        return arguments;
    }

    Launch launch_with(std::vector<std::wstring> arguments, const std::wstring& argument0 = L"x") const {
        Launch launch = scratch.launch_in_own_folder(probe_launcher());
        launch.argument0 = argument0;
        launch.arguments = std::move(arguments);
        return launch;
    }

    void expect_stopped_before_the_child(const Launch& launch) {
        ASSERT_LE(command_line_of(launch).size(), 32766u) << "the parent itself could not be started";
        const RunResult result = run(launch);
        EXPECT_EQ(result.out, "Error, command line is too long.\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_code, 2u);
        EXPECT_FALSE(path_exists(scratch.report_path())) << "the child ran";
        // Unpacked, then stopped: the end removes the folder.
        EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
        EXPECT_TRUE(current_folder_intact(scratch.current_folder()));
    }

    Scratch scratch;
    std::wstring module_path;
};

TEST_F(CommandLineLimit, RebuiltLineOf32766UnitsReachesTheApplication) {
    const std::vector<std::wstring> arguments = arguments_for_rebuilt_length(32766);
    const RunResult result = run(launch_with(arguments));
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));

    ASSERT_EQ(report.arguments.size(), arguments.size() + 1);
    EXPECT_EQ(report.arguments[0], module_path);
    EXPECT_TRUE(std::equal(arguments.begin(), arguments.end(), report.arguments.begin() + 1));
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

// 32,767 units fit the launcher's buffer (32,768 with the terminator), but
// CreateProcessW takes 32,767 with the terminator, one fewer: Wine's cuts
// the line's last unit and starts the child anyway. Either the application
// sees every argument whole, or the launcher stops before the child starts.
TEST_F(CommandLineLimit, RebuiltLineOf32767UnitsIsNeverCut) {
    const std::vector<std::wstring> arguments = arguments_for_rebuilt_length(32767);
    const Launch launch = launch_with(arguments);
    const RunResult result = run(launch);
    if (!path_exists(scratch.report_path())) {
        EXPECT_EQ(result.out, "Error, command line is too long.\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_code, 2u);
        return;
    }
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));
    ASSERT_EQ(report.arguments.size(), arguments.size() + 1);
    EXPECT_EQ(report.arguments.back().size(), arguments.back().size()) << "the application got a cut argument";
    EXPECT_TRUE(std::equal(arguments.begin(), arguments.end(), report.arguments.begin() + 1));
}

TEST_F(CommandLineLimit, RebuiltLineOf32768UnitsStopsBeforeTheChild) {
    const Launch launch = launch_with(arguments_for_rebuilt_length(32768));
    EXPECT_EQ(command_line_of(launch).size(), 32768u - module_path.size() + 1);
    expect_stopped_before_the_child(launch);
}

// Forty arguments of 800 units each with a vertical tab: the splitting rules
// take a vertical tab as an ordinary character, so the parent's line holds
// them bare, while the rebuilt line quotes every such argument: 80 units more
// than the parent's line of 32,727 units.
TEST_F(CommandLineLimit, QuotationMarksTheChildNeedsTakeTheLineOverTheLimit) {
    Launch launch = launch_with({}, module_path);
    launch.raw_tail = L"";
    for (int i = 0; i < 40; ++i) *launch.raw_tail += L" " + std::wstring(799, L'v') + L"\v";
    *launch.raw_tail += L" " + std::wstring(32727 - module_path.size() - launch.raw_tail->size() - 1, L'a');
    ASSERT_EQ(command_line_of(launch).size(), 32727u);
    expect_stopped_before_the_child(launch);
}

}  // namespace
