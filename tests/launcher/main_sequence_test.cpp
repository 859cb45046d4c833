// The role decision: which values of ZORVEK_ONEFILE_PARENT make a child, seen
// through the process calls of the seam. A parent role is chosen silently for
// anything but a live process that runs this very executable.
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

#include <string>
#include <vector>

#include "launcher/run_state.h"
#include "launcher/main_sequence.h"
#include "paths/environment.h"
#include "platform/system_calls.h"
#include "support/extraction_fixtures.h"
#include "support/report_capture.h"
#include "support/process_fixtures.h"
#include "support/run_state_fixture.h"

namespace {

RunState& state = run_state_fixture::shared_run_state();

struct ProcessCalls {
    int opens = 0;
    DWORD access = 0;
    BOOL inherit = TRUE;
    DWORD id = 0;
    int closes = 0;
    std::wstring other_image;  // what K32GetModuleFileNameExW reports; empty: the call fails
};
ProcessCalls calls;
const HANDLE fake_process = reinterpret_cast<HANDLE>(0x4242);

HANDLE WINAPI open_fake_process(DWORD access, BOOL inherit, DWORD id) {
    ++calls.opens;
    calls.access = access;
    calls.inherit = inherit;
    calls.id = id;
    return fake_process;
}
HANDLE WINAPI open_nothing(DWORD, BOOL, DWORD id) {
    ++calls.opens;
    calls.id = id;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}
DWORD WINAPI report_other_image(HANDLE process, HMODULE module, LPWSTR out, DWORD size) {
    EXPECT_EQ(process, fake_process);
    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(size, module_path_capacity);
    if (calls.other_image.empty()) return 0;
    // As the system does: a name that does not fit is cut to size - 1 units.
    const std::size_t length = std::min<std::size_t>(calls.other_image.size(), size - 1);
    wmemcpy(out, calls.other_image.c_str(), length);
    out[length] = L'\0';
    return static_cast<DWORD>(length);
}
BOOL WINAPI count_close(HANDLE handle) {
    if (handle == fake_process) {
        ++calls.closes;
        return TRUE;
    }
    return CloseHandle(handle);
}

std::wstring own_module_path() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

class RoleDecision : public ::testing::Test {
  protected:
    void SetUp() override {
        calls = ProcessCalls{};
        run_state_fixture::fresh_run_state();
        sys.OpenProcess = open_fake_process;
        sys.K32GetModuleFileNameExW = report_other_image;
        sys.CloseHandle = count_close;
    }
    void TearDown() override {
        restore_system_calls();
        env_remove("ZORVEK_ONEFILE_PARENT");
    }
    static void set_parent(const wchar_t* value) { SetEnvironmentVariableW(L"ZORVEK_ONEFILE_PARENT", value); }
};

// Values that never reach OpenProcess: absent, empty, anything but digits
// (the {PID} placeholder refuses the same), out of the 32-bit range. A blank or
// a sign before a live parent's id used to pass here and then end the process
// with a fail-fast in {PID}; it now gives the parent role, which overwrites it.
TEST_F(RoleDecision, MalformedValuesChooseTheParentWithoutOpeningAnything) {
    calls.other_image = own_module_path();
    EXPECT_FALSE(is_child_of_same_launcher(state));  // absent
    const wchar_t* values[] = {
        L"",  L"12a", L"a12",   L"12 ", L"4294967296", L"99999999999999999999", L"-2147483649", L"+",
        L" ", L" 42", L"\t+42", L"+42", L"-42",        L"\x0663\x0664"};
    for (const wchar_t* value : values) {
        set_parent(value);
        EXPECT_FALSE(is_child_of_same_launcher(state)) << ::testing::PrintToString(std::wstring(value));
    }
    EXPECT_EQ(calls.opens, 0);
}

// Digits only, every 32-bit value, leading zeros allowed.
TEST_F(RoleDecision, DigitsAreParsedAndQueried) {
    calls.other_image = own_module_path();
    const struct {
        const wchar_t* value;
        DWORD id;
    } cases[] = {{L"42", 42}, {L"0042", 42}, {L"2147483647", 2147483647u}, {L"4294967295", 4294967295u}};
    for (const auto& c : cases) {
        calls.opens = 0;
        set_parent(c.value);
        EXPECT_TRUE(is_child_of_same_launcher(state));
        EXPECT_EQ(calls.opens, 1);
        EXPECT_EQ(calls.id, c.id);
    }
    EXPECT_EQ(calls.access, 0x0410u);
    EXPECT_FALSE(calls.inherit);
}

// A launcher path longer than any fixed classic buffer still finds its parent:
// both paths are read whole, so the child does not take the parent role and
// restart itself without end.
const std::wstring long_module_path = L"C:\\" + std::wstring(3000, L'd') + L"\\run.exe";
DWORD WINAPI long_module_file_name(HMODULE, LPWSTR out, DWORD size) {
    if (long_module_path.size() >= size) return size;
    wcscpy(out, long_module_path.c_str());
    return static_cast<DWORD>(long_module_path.size());
}

TEST_F(RoleDecision, LongLauncherPathIsComparedWhole) {
    sys.GetModuleFileNameW = long_module_file_name;
    set_parent(L"4");
    calls.other_image = long_module_path;
    EXPECT_TRUE(is_child_of_same_launcher(state));
    calls.other_image = long_module_path.substr(0, 2047);
    EXPECT_FALSE(is_child_of_same_launcher(state));
}

// A path that fills even the largest buffer may be cut: stop, never guess.
TEST_F(RoleDecision, OtherPathThatFillsTheBufferStopsAsTooLong) {
    EXPECT_EXIT(
        {
            process_fixtures::route_stdout_to_stderr();
            sys.GetModuleFileNameW = long_module_file_name;
            set_parent(L"4");
            calls.other_image = std::wstring(module_path_capacity + 10, L'x');
            is_child_of_same_launcher(state);
        },
        ::testing::ExitedWithCode(2), "^Error, executable path is too long\\.\n$");
}

TEST_F(RoleDecision, ProcessThatCannotBeOpenedChoosesTheParent) {
    sys.OpenProcess = open_nothing;
    set_parent(L"4");
    EXPECT_FALSE(is_child_of_same_launcher(state));
    EXPECT_EQ(calls.opens, 1);
    EXPECT_EQ(calls.closes, 0);
}

// The handle is closed after the comparison in every case.
TEST_F(RoleDecision, OtherImageOrFailedQueryChoosesTheParentAndClosesTheHandle) {
    set_parent(L"4");
    calls.other_image = L"C:\\windows\\system32\\notepad.exe";
    EXPECT_FALSE(is_child_of_same_launcher(state));
    EXPECT_EQ(calls.closes, 1);

    calls.other_image.clear();  // the query fails
    EXPECT_FALSE(is_child_of_same_launcher(state));
    EXPECT_EQ(calls.closes, 2);

    calls.other_image = own_module_path();
    EXPECT_TRUE(is_child_of_same_launcher(state));
    EXPECT_EQ(calls.closes, 3);
}

// The comparison is made on normalised paths: the short form of this
// executable's path (as a process started by its short path reports it) is
// the same launcher.
TEST_F(RoleDecision, ShortFormOfTheSameExecutableIsTheSameLauncher) {
    std::wstring long_path = own_module_path();
    wchar_t short_path[MAX_PATH * 4];
    ASSERT_NE(GetShortPathNameW(long_path.c_str(), short_path, MAX_PATH * 4), 0u);
    set_parent(L"4");
    calls.other_image = short_path;
    EXPECT_TRUE(is_child_of_same_launcher(state));

    // Case matters after normalisation only where the file system keeps it:
    // a different file never matches.
    calls.other_image = long_path + L".other";
    EXPECT_FALSE(is_child_of_same_launcher(state));
}

// Through the real calls: this process runs this executable, a dead id does
// not exist, and the parent of the test (another program) is someone else.
TEST_F(RoleDecision, RealProcesses) {
    restore_system_calls();
    set_parent(std::to_wstring(GetCurrentProcessId()).c_str());
    EXPECT_TRUE(is_child_of_same_launcher(state));

    set_parent(L"2147483647");
    EXPECT_FALSE(is_child_of_same_launcher(state));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    wchar_t command[] = L"cmd.exe /c exit 0";
    ASSERT_TRUE(
        CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &info));
    set_parent(std::to_wstring(info.dwProcessId).c_str());
    EXPECT_FALSE(is_child_of_same_launcher(state));
    TerminateProcess(info.hProcess, 0);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

// ---- the parent's own extraction directory ---------------------------------------------

void use_extraction_directory(const std::wstring& path) {
    ASSERT_LT(path.size(), extraction_directory_capacity);
    wcscpy(state.extraction_directory, path.c_str());
}

TEST(ExclusiveExtractionRoot, DISABLED_ExistingFolderScenario) {
    use_extraction_directory(extraction_fixtures::fresh_test_directory());
    create_extraction_directory(state);
}

// A folder that is already there may have been planted: nothing is extracted
// into it and it is not deleted either.
TEST(ExclusiveExtractionRoot, AnExistingFolderIsRefused) {
    report_capture::Outcome outcome =
        report_capture::run_scenario("ExclusiveExtractionRoot.DISABLED_ExistingFolderScenario");
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_EQ(outcome.output.rfind("Error, extraction folder '", 0), 0u) << outcome.output;
    EXPECT_NE(outcome.output.find("ExistingFolderScenario' already exists.\n"), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.errors, "");
}

TEST(ExclusiveExtractionRoot, AMissingTemporaryFolderIsMadeWithIt) {
    std::wstring root = extraction_fixtures::fresh_test_directory();
    use_extraction_directory(root + L"\\missing temp\\onefile_1_000001_AAAAAAAAAAA");
    create_extraction_directory(state);
    EXPECT_TRUE(extraction_fixtures::is_directory(state.extraction_directory));
    extraction_fixtures::remove_tree(root + L"\\missing temp");
}

}  // namespace
