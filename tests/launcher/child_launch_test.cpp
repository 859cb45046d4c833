// Rebuilding the child's command line and starting, waiting for and handing
// back the child.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "launcher/child_launch.h"
#include "launcher/cleanup.h"
#include "paths/path_normalise.h"
#include "platform/system_calls.h"
#include "support/process_fixtures.h"
#include "support/run_state_fixture.h"
#include "tests/support/shell_split.h"

namespace {

RunState& state = run_state_fixture::shared_run_state();

using namespace process_fixtures;

// --- fakes -------------------------------------------------------------------

// The argument vector the fake split hands out: fresh writable copies on every
// call, since the code under test replaces element 0.
std::vector<std::wstring> given_arguments;
std::vector<std::wstring> handed_out;
std::vector<wchar_t*> handed_vector;

wchar_t** given_vector(int* count) {
    handed_out = given_arguments;
    handed_vector.clear();
    for (std::wstring& argument : handed_out) handed_vector.push_back(argument.data());
    *count = static_cast<int>(handed_vector.size());
    return handed_vector.data();
}

// The argument vector the runtime would hand wWinMain for a command line.
void give_command_line(const wchar_t* line) {
    given_arguments = test_support::split_as_shell_does(line);
}

wchar_t* build_from_given_arguments() {
    int count = 0;
    wchar_t** vector = given_vector(&count);
    return build_child_command_line(state, count, vector);
}

unsigned long launch_with_given_arguments() {
    int count = 0;
    wchar_t** vector = given_vector(&count);
    return launch_child(state, count, vector);
}

const wchar_t* given_module_path = L"C:\\app\\run.exe";
DWORD given_module_result = 0;  // 0: the real length
int module_path_calls = 0;
DWORD WINAPI fake_GetModuleFileNameW(HMODULE, LPWSTR path, DWORD size) {
    ++module_path_calls;
    wcsncpy(path, given_module_path, size);
    path[size - 1] = 0;
    return given_module_result != 0 ? given_module_result : static_cast<DWORD>(wcslen(path));
}
DWORD WINAPI failing_GetModuleFileNameW(HMODULE, LPWSTR, DWORD) {
    return 0;
}

// A log of the launch, in call order, with the handle values involved.
const HANDLE fake_process = reinterpret_cast<HANDLE>(0x2001);
const HANDLE fake_thread = reinterpret_cast<HANDLE>(0x2002);
const HANDLE fake_duplicate = reinterpret_cast<HANDLE>(0x2003);

std::vector<std::string> events;
std::string handle_name(HANDLE handle) {
    if (handle == fake_process) return "process";
    if (handle == fake_thread) return "thread";
    if (handle == fake_duplicate) return "duplicate";
    if (handle == nullptr) return "null";
    return "other";
}

HANDLE standard_handles[3] = {reinterpret_cast<HANDLE>(0x11), nullptr, reinterpret_cast<HANDLE>(0x33)};
HANDLE WINAPI fake_GetStdHandle(DWORD which) {
    events.push_back("GetStdHandle " + std::to_string(static_cast<int>(which)));
    return standard_handles[STD_INPUT_HANDLE - which];
}

struct CreateProcessCall {
    const wchar_t* application = nullptr;
    std::wstring application_text;
    wchar_t* command_line = nullptr;
    std::wstring command_line_text;
    LPSECURITY_ATTRIBUTES process_security = nullptr;
    LPSECURITY_ATTRIBUTES thread_security = nullptr;
    BOOL inherit = FALSE;
    DWORD flags = 0;
    void* environment = nullptr;
    const wchar_t* directory = nullptr;
    STARTUPINFOW startup = {};
};
CreateProcessCall create_call;

BOOL WINAPI fake_CreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES process_security,
                                LPSECURITY_ATTRIBUTES thread_security, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info) {
    events.push_back("CreateProcessW");
    create_call = {application, application, command_line, command_line, process_security, thread_security,
                   inherit,     flags,       environment,  directory,    *startup};
    info->hProcess = fake_process;
    info->hThread = fake_thread;
    info->dwProcessId = 1234;
    info->dwThreadId = 5678;
    return TRUE;
}

BOOL WINAPI failing_CreateProcessW(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                   LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

bool duplicate_fails = false;
BOOL WINAPI fake_DuplicateHandle(HANDLE, HANDLE source, HANDLE, LPHANDLE target, DWORD, BOOL inherit, DWORD options) {
    events.push_back("DuplicateHandle " + handle_name(source) + (inherit ? " inheritable" : "") +
                     (options == DUPLICATE_SAME_ACCESS ? " same-access" : ""));
    if (duplicate_fails) return FALSE;
    *target = fake_duplicate;
    return TRUE;
}

HANDLE slot_during_wait = nullptr;
DWORD WINAPI fake_WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    events.push_back("Wait " + handle_name(handle) + " " + std::to_string(milliseconds));
    slot_during_wait = state.cleanup.child_process;
    return WAIT_OBJECT_0;
}

DWORD given_exit_code = 0;
bool exit_code_unreadable = false;
BOOL WINAPI fake_GetExitCodeProcess(HANDLE handle, LPDWORD code) {
    events.push_back("GetExitCodeProcess " + handle_name(handle));
    if (exit_code_unreadable) return FALSE;
    *code = given_exit_code;
    return TRUE;
}

BOOL WINAPI fake_CloseHandle(HANDLE handle) {
    events.push_back("CloseHandle " + handle_name(handle));
    return TRUE;
}

void fake_remove_directory_tree(const wchar_t*) {
    events.push_back("remove_directory_tree");
}
DWORD WINAPI gone_GetFileAttributesW(LPCWSTR) {
    return INVALID_FILE_ATTRIBUTES;
}

// Calls that must not happen on a path: end the death-test child with a code
// the test does not expect.
BOOL WINAPI forbidden_CloseHandle(HANDLE) {
    _exit(97);
}
DWORD WINAPI forbidden_WaitForSingleObject(HANDLE, DWORD) {
    _exit(98);
}

class ChildLaunchTest : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }

    static void reset() {
        restore_system_calls();
        run_state_fixture::fresh_run_state();
        given_arguments.clear();
        given_module_path = L"C:\\app\\run.exe";
        given_module_result = 0;
        module_path_calls = 0;
        events.clear();
        create_call = {};
        duplicate_fails = false;
        slot_during_wait = nullptr;
        given_exit_code = 0;
        exit_code_unreadable = false;
    }

    static void use_image_path(const wchar_t* path) { wcscpy(state.module_path, path); }

    // The child's command line for the given argument vector (element 0 is
    // what the user typed and is replaced).
    static std::wstring rebuilt(const std::vector<std::wstring>& arguments) {
        given_arguments = arguments;
        return build_from_given_arguments();
    }

    static void fake_the_whole_launch() {
        sys.GetModuleFileNameW = fake_GetModuleFileNameW;
        sys.GetStdHandle = fake_GetStdHandle;
        sys.CreateProcessW = fake_CreateProcessW;
        sys.DuplicateHandle = fake_DuplicateHandle;
        sys.WaitForSingleObject = fake_WaitForSingleObject;
        sys.GetExitCodeProcess = fake_GetExitCodeProcess;
        sys.CloseHandle = fake_CloseHandle;
        sys.remove_directory_tree = fake_remove_directory_tree;
        sys.GetFileAttributesW = gone_GetFileAttributesW;
    }
};

// --- the whole command line --------------------------------------------------
// (Each argument's quoting and its round trip through both splitters:
// tests/runtime/command_line_split_test.cpp.)

// Argument 0 becomes the module path (quoted only when it needs it); the
// arguments follow, one space apart, empty ones included.
TEST_F(ChildLaunchTest, LineIsTheModulePathAndTheArgumentsOneSpaceApart) {
    const struct {
        const wchar_t* module_path;
        const wchar_t* given;
        const wchar_t* rebuilt;
    } cases[] = {
        {L"C:\\Program Files\\App\\run.exe", L"..\\whatever\\typed   one \t \"two three\"\t",
         L"\"C:\\Program Files\\App\\run.exe\" one \"two three\""},
        {L"C:\\app\\run.exe", L"\"some name.exe\"", L"C:\\app\\run.exe"},
        {L"C:\\my app\\run.exe", L"\"some name.exe\"", L"\"C:\\my app\\run.exe\""},
        {L"C:\\app\\run.exe", L"run a \"\" b \"\"", L"C:\\app\\run.exe a \"\" b \"\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.given)));
        use_image_path(c.module_path);
        give_command_line(c.given);
        EXPECT_STREQ(c.rebuilt, build_from_given_arguments());
    }
}

TEST_F(ChildLaunchTest, TheModulePathIsAskedForOnceAndKept) {
    sys.GetModuleFileNameW = fake_GetModuleFileNameW;
    EXPECT_EQ(L"C:\\app\\run.exe one", rebuilt({L"x", L"one"}));
    EXPECT_EQ(L"C:\\app\\run.exe two", rebuilt({L"x", L"two"}));
    EXPECT_EQ(1, module_path_calls);
}

// --- the 32,768-unit limit ---------------------------------------------------

// "C:\a.exe" and one space are 9 units; the text may have 32,767.
constexpr std::size_t image_and_space = 9;
constexpr std::size_t text_limit = child_command_line_limit - 1;  // 32,766 units of text

struct LimitCase {
    const char* name;
    std::vector<std::wstring> arguments;  // after the program name
};

// Cases whose arguments take exactly room units on the line, each ending on a
// different kind of unit.
std::vector<LimitCase> limit_cases(std::size_t room) {
    return {
        {"plain", {std::wstring(room, L'x')}},
        // Quoted: two more units for the marks.
        {"quoted", {std::wstring(room - 3, L'x') + L" "}},
        // A trailing backslash is doubled before the closing mark.
        {"doubled backslash", {L" " + std::wstring(room - 5, L'x') + L"\\"}},
        // An embedded mark takes a backslash of its own.
        {"escaped quotation mark", {L"\"" + std::wstring(room - 4, L'x')}},
        // An empty argument is a space and two marks.
        {"empty last", {std::wstring(room - 3, L'y'), L""}},
    };
}

std::vector<std::wstring> typed_then(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> vector = {L"typed"};
    vector.insert(vector.end(), arguments.begin(), arguments.end());
    return vector;
}

TEST_F(ChildLaunchTest, LineOfExactly32766UnitsFits) {
    use_image_path(L"C:\\a.exe");
    for (const LimitCase& row : limit_cases(text_limit - image_and_space)) {
        SCOPED_TRACE(row.name);
        const std::wstring line = rebuilt(typed_then(row.arguments));
        EXPECT_EQ(text_limit, line.size());
        EXPECT_EQ(0, state.child_command_line[text_limit]);
    }
}

TEST_F(ChildLaunchTest, LineOf32767UnitsStopsBeforeTheChildStarts) {
    for (const LimitCase& row : limit_cases(text_limit - image_and_space + 1)) {
        SCOPED_TRACE(row.name);
        EXPECT_EXIT(
            {
                route_stdout_to_stderr();
                use_image_path(L"C:\\a.exe");
                given_arguments = typed_then(row.arguments);
                sys.CreateProcessW = failing_CreateProcessW;  // would print another message
                launch_with_given_arguments();
            },
            ::testing::ExitedWithCode(2), "^Error, command line is too long\\.\n$");
    }
}

// --- failures before the child starts ----------------------------------------

TEST_F(ChildLaunchTest, ModulePathThatCannotBeReadAborts) {
    EXPECT_EXIT(
        {
            sys.GetModuleFileNameW = failing_GetModuleFileNameW;
            launch_with_given_arguments();
        },
        aborted, "");
}

TEST_F(ChildLaunchTest, ModulePathCutByTheBufferStopsWithCode2) {
    EXPECT_EXIT(
        {
            route_stdout_to_stderr();
            sys.GetModuleFileNameW = fake_GetModuleFileNameW;
            given_module_result = module_path_capacity;
            launch_with_given_arguments();
        },
        ::testing::ExitedWithCode(2), "^Error, executable path is too long\\.\n$");
}

// Once the folder is made, a failed start ends the process through exit,
// which removes the folder first.
void announced_remove_directory_tree(const wchar_t* directory) {
    fprintf(stderr, "removed %ls\n", directory);
}

TEST_F(ChildLaunchTest, FailedStartReportsTheSystemErrorAndRemovesTheFolder) {
    EXPECT_EXIT(
        {
            fake_the_whole_launch();
            sys.CreateProcessW = failing_CreateProcessW;
            sys.CloseHandle = forbidden_CloseHandle;
            sys.WaitForSingleObject = forbidden_WaitForSingleObject;
            sys.remove_directory_tree = announced_remove_directory_tree;
            wcscpy(state.extraction_directory, L"C:\\extraction");
            state.cleanup.extraction_started = 1;
            arm_cleanup_at_exit(state.cleanup);
            launch_with_given_arguments();
        },
        ::testing::ExitedWithCode(2),
        "^Error, couldn't launch child \\(\\[Error 5\\] .*\\)\nremoved C:\\\\extraction\n$");
}

TEST_F(ChildLaunchTest, MissingExecutableReportsTheSystemError) {
    EXPECT_EXIT(
        {
            use_image_path(L"C:\\no\\such\\folder\\launcher.exe");
            launch_with_given_arguments();
        },
        ::testing::ExitedWithCode(2), "^Error, couldn't launch child \\(\\[Error \\d+\\] .*\\)\n$");
}

// --- the launch, against fakes -----------------------------------------------

TEST_F(ChildLaunchTest, CreateProcessGetsExactlyTheDocumentedArguments) {
    fake_the_whole_launch();
    given_module_path = L"C:\\Program Files\\App\\run.exe";
    give_command_line(L"typed one \"two three\"");
    launch_with_given_arguments();

    EXPECT_EQ(state.module_path, create_call.application);
    EXPECT_EQ(L"C:\\Program Files\\App\\run.exe", create_call.application_text);
    EXPECT_EQ(state.child_command_line, create_call.command_line);
    EXPECT_EQ(L"\"C:\\Program Files\\App\\run.exe\" one \"two three\"", create_call.command_line_text);
    EXPECT_EQ(nullptr, create_call.process_security);
    EXPECT_EQ(nullptr, create_call.thread_security);
    EXPECT_EQ(TRUE, create_call.inherit);
    EXPECT_EQ(0x20u, create_call.flags) << "NORMAL_PRIORITY_CLASS and nothing else";
    EXPECT_EQ(nullptr, create_call.environment);
    EXPECT_EQ(nullptr, create_call.directory);
}

TEST_F(ChildLaunchTest, StartupInfoCarriesTheThreeStandardHandlesAndNothingElse) {
    fake_the_whole_launch();
    launch_with_given_arguments();
    const STARTUPINFOW& startup = create_call.startup;
    EXPECT_EQ(104u, startup.cb);
    EXPECT_EQ(static_cast<DWORD>(STARTF_USESTDHANDLES), startup.dwFlags);
    EXPECT_EQ(standard_handles[0], startup.hStdInput);
    EXPECT_EQ(nullptr, startup.hStdOutput);  // a null handle is passed on as it is
    EXPECT_EQ(standard_handles[2], startup.hStdError);

    STARTUPINFOW rest = startup;
    rest.cb = 0;
    rest.dwFlags = 0;
    rest.hStdInput = rest.hStdOutput = rest.hStdError = nullptr;
    const STARTUPINFOW zero = {};
    EXPECT_EQ(0, memcmp(&rest, &zero, sizeof rest)) << "every other field is 0";

    const std::vector<std::string> asked(events.begin(), events.begin() + 3);
    EXPECT_EQ((std::vector<std::string>{"GetStdHandle -10", "GetStdHandle -11", "GetStdHandle -12"}), asked);
}

TEST_F(ChildLaunchTest, EveryHandleIsClosedOnceAndTheHandlerSeesOnlyTheDuplicate) {
    fake_the_whole_launch();
    given_exit_code = 0x80000001u;
    state.cleanup.extraction_started = 1;
    wcscpy(state.extraction_directory, L"C:\\extraction");

    EXPECT_EQ(0x80000001u, launch_with_given_arguments());
    const std::vector<std::string> expected = {
        "GetStdHandle -10",        "GetStdHandle -11",           "GetStdHandle -12",
        "CreateProcessW",          "CloseHandle thread",         "DuplicateHandle process same-access",
        "Wait process 4294967295", "GetExitCodeProcess process", "CloseHandle process",
        "CloseHandle duplicate",   "remove_directory_tree",
    };
    EXPECT_EQ(expected, events);
    EXPECT_EQ(fake_duplicate, slot_during_wait);
    EXPECT_EQ(nullptr, state.cleanup.child_process);
}

TEST_F(ChildLaunchTest, WithoutADuplicateTheSlotStaysEmptyAndTheWaitGoesOn) {
    fake_the_whole_launch();
    duplicate_fails = true;
    given_exit_code = 7;
    EXPECT_EQ(7u, launch_with_given_arguments());
    EXPECT_EQ(nullptr, slot_during_wait);
    const std::vector<std::string> closes = {"CloseHandle thread", "CloseHandle process"};
    std::vector<std::string> seen;
    for (const std::string& event : events) {
        if (event.rfind("CloseHandle", 0) == 0) seen.push_back(event);
    }
    EXPECT_EQ(closes, seen);
}

TEST_F(ChildLaunchTest, UnreadableExitCodeGives1) {
    fake_the_whole_launch();
    exit_code_unreadable = true;
    given_exit_code = 0;
    EXPECT_EQ(1u, launch_with_given_arguments());
}

TEST_F(ChildLaunchTest, HandlerThatTookTheSlotKeepsTheMainThreadFromClosingItAgain) {
    // The handler empties the slot during the wait; the main thread must then
    // close only its own handle and still read the exit code from it.
    fake_the_whole_launch();
    sys.WaitForSingleObject = [](HANDLE handle, DWORD milliseconds) -> DWORD {
        events.push_back("Wait " + handle_name(handle) + " " + std::to_string(milliseconds));
        state.cleanup.child_process = nullptr;  // as InterlockedExchangePointer in the handler
        return WAIT_OBJECT_0;
    };
    given_exit_code = interrupted_exit_code;
    EXPECT_EQ(interrupted_exit_code, launch_with_given_arguments());
    std::vector<std::string> seen;
    for (const std::string& event : events) {
        if (event.rfind("CloseHandle", 0) == 0 || event.rfind("GetExitCode", 0) == 0) seen.push_back(event);
    }
    EXPECT_EQ((std::vector<std::string>{"CloseHandle thread", "GetExitCodeProcess process", "CloseHandle process"}),
              seen);
}

// A child that handles Ctrl-C itself and ends with 0 during the event: the
// parent, whichever thread ends it, does not report success. Other codes pass.
TEST_F(ChildLaunchTest, AnInterruptedRunNeverEndsWith0) {
    fake_the_whole_launch();
    EXPECT_EQ(0u, launch_with_given_arguments());  // no event: 0 is passed on
    sys.WaitForSingleObject = [](HANDLE handle, DWORD milliseconds) -> DWORD {
        events.push_back("Wait " + handle_name(handle) + " " + std::to_string(milliseconds));
        if (milliseconds == INFINITE) console_control_handler(CTRL_C_EVENT);
        return WAIT_OBJECT_0;
    };
    given_exit_code = 0;
    EXPECT_EQ(interrupted_exit_code, launch_with_given_arguments());
    // The next event comes during the wait again, not before the start.
    state.cleanup.console_event_seen = 0;
    given_exit_code = 7;
    EXPECT_EQ(7u, launch_with_given_arguments());
}

// --- real children -----------------------------------------------------------

BOOL WINAPI refusing_AssignProcessToJobObject(HANDLE, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// With the child's job and without it (an outer job that refuses ours).
TEST_F(ChildLaunchTest, ChildExitCodeComesBackBitForBit) {
    give_command_line(L"typed");
    for (bool job_refused : {false, true}) {
        for (DWORD code : {0u, 3u, 259u, 0x80000001u}) {
            SCOPED_TRACE(testing::Message() << code << (job_refused ? " without a job" : ""));
            if (job_refused) sys.AssignProcessToJobObject = refusing_AssignProcessToJobObject;
            ChildModeScope mode(L"exit " + std::to_wstring(code));
            EXPECT_EQ(code, launch_with_given_arguments());
            EXPECT_EQ(nullptr, state.cleanup.child_process);
        }
    }
}

TEST_F(ChildLaunchTest, RealChildReceivesEveryArgumentUnchanged) {
    const std::wstring folder = make_scratch_directory(L"launch_arguments");
    const std::wstring file = folder + L"\\arguments.bin";
    const std::vector<std::wstring> arguments = {
        L"typed name",
        L"one",
        L"two three",
        L"",
        L"a\\\"b",
        L"C:\\my dir\\",
        L"tab\there",
        L"line\nfeed",
        L"v\vt",
        L"\"",
        L"gr\u00fc\u00dfe \u65e5\u672c\u8a9e",
        L"\\\\",
        L"end\\",
    };
    given_arguments = arguments;
    {
        ChildModeScope mode(L"arguments " + file);
        EXPECT_EQ(0u, launch_with_given_arguments());
    }
    std::vector<std::wstring> expected = arguments;
    expected[0] = test_executable_path();
    EXPECT_EQ(expected, read_argument_file(file));
    remove_scratch_tree(folder);
}

TEST_F(ChildLaunchTest, RealChildWritesToTheStandardHandlesItWasGiven) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    static HANDLE child_output;
    child_output = write_end;
    sys.GetStdHandle = [](DWORD which) -> HANDLE {
        return which == STD_OUTPUT_HANDLE ? child_output : GetStdHandle(which);
    };
    give_command_line(L"typed");
    {
        ChildModeScope mode(L"stdout hello from the child");
        EXPECT_EQ(0u, launch_with_given_arguments());
    }
    CloseHandle(write_end);
    char text[64] = {};
    DWORD read = 0;
    ReadFile(read_end, text, sizeof text - 1, &read, nullptr);
    CloseHandle(read_end);
    EXPECT_STREQ("hello from the child", text);
}

}  // namespace
