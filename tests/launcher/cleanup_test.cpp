// Ending a child that outlives a console event, deleting the extraction
// directory with retries, the console control handler, and the hand-over of
// the child's handle between the main thread and the handler thread.
//
// Wine cannot deliver break, close, log-off or shut-down events, so the
// handler is called directly, on a thread of its own where it matters.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "launcher/child_launch.h"
#include "launcher/cleanup.h"
#include "launcher/fatal_report.h"
#include "launcher/run_marker.h"
#include "paths/path_normalise.h"
#include "platform/system_calls.h"
#include "platform/tree_removal.h"
#include "support/process_fixtures.h"
#include "support/run_state_fixture.h"

namespace {

RunState& state = run_state_fixture::shared_run_state();

using namespace process_fixtures;

// --- fakes -------------------------------------------------------------------

// The path each deletion was asked to remove.
std::mutex log_lock;
std::vector<std::wstring> delete_requests;
std::vector<DWORD> pauses;
int attribute_checks = 0;
// Attribute results in order; the last one repeats.
std::vector<DWORD> attribute_script = {INVALID_FILE_ATTRIBUTES};

void recording_remove_directory_tree(const wchar_t* directory) {
    std::lock_guard<std::mutex> hold(log_lock);
    delete_requests.push_back(directory);
}

DWORD WINAPI scripted_GetFileAttributesW(LPCWSTR) {
    const std::size_t index = std::min<std::size_t>(attribute_checks++, attribute_script.size() - 1);
    return attribute_script[index];
}

void WINAPI recording_Sleep(DWORD milliseconds) {
    std::lock_guard<std::mutex> hold(log_lock);
    pauses.push_back(milliseconds);
}

// The child side, by handle value.
std::vector<std::string> child_calls;
DWORD wait_result = WAIT_OBJECT_0;
DWORD WINAPI fake_WaitForSingleObject(HANDLE, DWORD milliseconds) {
    child_calls.push_back("Wait " + std::to_string(milliseconds));
    return wait_result;
}
BOOL WINAPI fake_TerminateProcess(HANDLE, UINT code) {
    child_calls.push_back("TerminateProcess " + std::to_string(code));
    return TRUE;
}
BOOL WINAPI fake_CloseHandle(HANDLE) {
    child_calls.push_back("CloseHandle");
    return TRUE;
}

// Forwarding wrappers around the real calls that count what they were asked.
std::atomic<int> terminations{0};
BOOL WINAPI counting_TerminateProcess(HANDLE process, UINT code) {
    ++terminations;
    return TerminateProcess(process, code);
}

// Handle values are reused once closed, so a second close of the same handle
// shows as a close that fails (or as one close too many), not as a repeated value.
// The tree removal's own handles (one per entry) are not counted.
std::vector<BOOL> close_results;
thread_local bool inside_removal = false;
BOOL WINAPI counting_CloseHandle(HANDLE handle) {
    const BOOL result = CloseHandle(handle);
    if (inside_removal) return result;
    std::lock_guard<std::mutex> hold(log_lock);
    close_results.push_back(result);
    return result;
}

// Deletions through the real tree removal, noting which thread asked and whether two
// were ever inside at once.
std::atomic<int> deleting_now{0};
std::atomic<int> most_deleting_at_once{0};
std::vector<DWORD> deleting_threads;
void note_deletion_entered() {
    const int inside = ++deleting_now;
    int most = most_deleting_at_once.load();
    while (inside > most && !most_deleting_at_once.compare_exchange_weak(most, inside)) {
    }
    std::lock_guard<std::mutex> hold(log_lock);
    deleting_threads.push_back(GetCurrentThreadId());
}
void watched_remove_directory_tree(const wchar_t* directory) {
    note_deletion_entered();
    inside_removal = true;
    remove_directory_tree(directory);
    inside_removal = false;
    --deleting_now;
}

// True when the calls of each thread came in one unbroken run.
bool one_run_per_thread(const std::vector<DWORD>& threads) {
    std::set<DWORD> finished;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        if (finished.count(threads[i]) != 0) return false;
        if (i + 1 < threads.size() && threads[i + 1] != threads[i]) finished.insert(threads[i]);
    }
    return true;
}

// The launch as a program started with no arguments but its name.
unsigned long launch_typed() {
    static wchar_t typed[] = L"typed";
    wchar_t* vector[] = {typed, nullptr};
    return launch_child(state, 1, vector);
}

class CleanupTest : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override {
        reset();
        for (const std::wstring& folder : scratch_folders) remove_scratch_tree(folder);
    }

    static void reset() {
        restore_system_calls();
        run_state_fixture::fresh_run_state();
        delete_requests.clear();
        pauses.clear();
        attribute_checks = 0;
        attribute_script = {INVALID_FILE_ATTRIBUTES};
        child_calls.clear();
        wait_result = WAIT_OBJECT_0;
        terminations = 0;
        close_results.clear();
        deleting_now = 0;
        most_deleting_at_once = 0;
        deleting_threads.clear();
    }

    static void use_directory(const std::wstring& path) { wcscpy(state.extraction_directory, path.c_str()); }

    std::wstring scratch(const std::wstring& prefix) {
        scratch_folders.push_back(make_scratch_directory(prefix));
        return scratch_folders.back();
    }

    static void fake_the_deletion() {
        sys.remove_directory_tree = recording_remove_directory_tree;
        sys.GetFileAttributesW = scripted_GetFileAttributesW;
        sys.Sleep = recording_Sleep;
    }

    std::vector<std::wstring> scratch_folders;
};

// --- nothing to do -----------------------------------------------------------

int unexpected_calls = 0;
template <typename Result, typename... Arguments>
Result WINAPI unexpected(Arguments...) {
    ++unexpected_calls;
    return Result{};
}

TEST_F(CleanupTest, NoChildAndNoExtractionDoesNothingAtAll) {
    unexpected_calls = 0;
    sys.WaitForSingleObject = unexpected<DWORD, HANDLE, DWORD>;
    sys.TerminateProcess = unexpected<BOOL, HANDLE, UINT>;
    sys.CloseHandle = unexpected<BOOL, HANDLE>;
    sys.remove_directory_tree = [](const wchar_t*) { ++unexpected_calls; };
    sys.GetFileAttributesW = unexpected<DWORD, LPCWSTR>;
    sys.Sleep = [](DWORD) { ++unexpected_calls; };
    use_directory(L"C:\\extraction");
    cleanup_on_exit(state);
    EXPECT_EQ(0, unexpected_calls);
}

// --- the delete request and its retries --------------------------------------

TEST_F(CleanupTest, EveryTryRemovesTheExtractionDirectory) {
    fake_the_deletion();
    attribute_script = {FILE_ATTRIBUTE_DIRECTORY, INVALID_FILE_ATTRIBUTES};
    use_directory(L"C:\\users\\me\\Temp\\onefile_12_345_678");
    state.cleanup.extraction_started = 1;
    cleanup_on_exit(state);
    EXPECT_EQ(std::vector<std::wstring>(2, L"C:\\users\\me\\Temp\\onefile_12_345_678"), delete_requests);
}

struct RetryCase {
    const char* name;
    std::vector<DWORD> attributes;  // what each existence test finds; the last repeats
    std::size_t deletes;
    std::size_t pauses;
    int checks;
};

const DWORD directory = FILE_ATTRIBUTE_DIRECTORY;
const DWORD gone = INVALID_FILE_ATTRIBUTES;

std::vector<DWORD> directory_then_gone(std::size_t checks_showing_it) {
    std::vector<DWORD> script(checks_showing_it, directory);
    script.push_back(gone);
    return script;
}

TEST_F(CleanupTest, DeletionIsTriedAtMost21TimesWith20PausesOf100ms) {
    const RetryCase cases[] = {
        {"gone at once", {gone}, 1, 0, 1},
        {"a file, not a directory", {FILE_ATTRIBUTE_ARCHIVE}, 1, 0, 1},
        {"a read-only directory is still a directory", {directory | FILE_ATTRIBUTE_READONLY, gone}, 2, 1, 2},
        {"gone after the second try", directory_then_gone(1), 2, 1, 2},
        {"gone after the 20th try", directory_then_gone(19), 20, 19, 20},
        {"gone after the 21st try", directory_then_gone(20), 21, 20, 20},
        {"never gone", {directory}, 21, 20, 20},
    };
    for (const RetryCase& row : cases) {
        SCOPED_TRACE(row.name);
        reset();
        fake_the_deletion();
        attribute_script = row.attributes;
        use_directory(L"C:\\extraction");
        state.cleanup.extraction_started = 1;
        cleanup_on_exit(state);
        EXPECT_EQ(row.deletes, delete_requests.size());
        EXPECT_EQ(row.checks, attribute_checks);
        EXPECT_EQ(std::vector<DWORD>(row.pauses, 100), pauses);
    }
}

TEST_F(CleanupTest, DirectoryThatCannotBeDeletedIsLeftWithoutAWord) {
    fake_the_deletion();
    attribute_script = {directory};
    use_directory(L"C:\\extraction");
    state.cleanup.extraction_started = 1;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    cleanup_on_exit(state);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
    EXPECT_EQ(21u, delete_requests.size());
}

// --- against the real file system ----------------------------------

TEST_F(CleanupTest, DirectoryNeverCreatedTakesOneDeleteCall) {
    sys.remove_directory_tree = watched_remove_directory_tree;
    sys.Sleep = recording_Sleep;
    use_directory(scratch(L"cleanup_parent") + L"\\onefile_never_created");
    state.cleanup.extraction_started = 1;
    cleanup_on_exit(state);
    EXPECT_EQ(1u, deleting_threads.size());
    EXPECT_TRUE(pauses.empty());
}

TEST_F(CleanupTest, PathNamingAFileEndsTheLoopAfterOneDeleteCall) {
    // The removal is faked so that the file stays: the attribute test alone ends it.
    sys.remove_directory_tree = recording_remove_directory_tree;
    sys.Sleep = recording_Sleep;
    const std::wstring file = scratch(L"cleanup_file") + L"\\not_a_directory.txt";
    write_scratch_file(file, "content");
    use_directory(file);
    state.cleanup.extraction_started = 1;
    cleanup_on_exit(state);
    EXPECT_EQ(1u, delete_requests.size());
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(path_exists(file));
}

TEST_F(CleanupTest, RealDirectoryTreeIsDeletedWhole) {
    const std::wstring root = scratch(L"cleanup_tree") + L"\\onefile \u00e4\u65e5 1_2_3";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\lib").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\lib\\deep").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\empty").c_str(), nullptr));
    write_scratch_file(root + L"\\application.dll", "MZ");
    write_scratch_file(root + L"\\lib\\data.bin", std::string(70000, 'x'));
    write_scratch_file(root + L"\\lib\\deep\\name with spaces.txt", "text");
    use_directory(root);
    state.cleanup.extraction_started = 1;
    cleanup_on_exit(state);
    EXPECT_FALSE(path_exists(root));
}

// --- the child in the slot ---------------------------------------------------

TEST_F(CleanupTest, ChildIsTerminatedOnlyWhenTheGraceWaitDoesNotSeeItEnd) {
    struct Row {
        const char* name;
        DWORD wait_result;
        std::vector<std::string> calls;
    } rows[] = {
        {"ended within the grace", WAIT_OBJECT_0, {"Wait 5000", "CloseHandle"}},
        {"still running", WAIT_TIMEOUT, {"Wait 5000", "TerminateProcess 3221225786", "CloseHandle"}},
        {"wait failed", WAIT_FAILED, {"Wait 5000", "TerminateProcess 3221225786", "CloseHandle"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        sys.WaitForSingleObject = fake_WaitForSingleObject;
        sys.TerminateProcess = fake_TerminateProcess;
        sys.CloseHandle = fake_CloseHandle;
        wait_result = row.wait_result;
        state.cleanup.child_process = reinterpret_cast<HANDLE>(0x4242);
        cleanup_on_exit(state);
        EXPECT_EQ(row.calls, child_calls);
        EXPECT_EQ(nullptr, state.cleanup.child_process);
    }
}

TEST_F(CleanupTest, HandleTakenFromTheSlotIsClosedOnlyOnce) {
    sys.WaitForSingleObject = fake_WaitForSingleObject;
    sys.TerminateProcess = fake_TerminateProcess;
    sys.CloseHandle = fake_CloseHandle;
    state.cleanup.child_process = reinterpret_cast<HANDLE>(0x4242);
    cleanup_on_exit(state);
    cleanup_on_exit(state);
    console_control_handler(CTRL_C_EVENT);
    EXPECT_EQ((std::vector<std::string>{"Wait 5000", "CloseHandle"}), child_calls);
}

TEST_F(CleanupTest, RealChildEndingDuringTheGraceKeepsItsOwnExitCode) {
    // The grace wait is stretched to no limit: the child ends during it by
    // construction, whatever the machine's load.
    sys.WaitForSingleObject = [](HANDLE handle, DWORD) -> DWORD { return WaitForSingleObject(handle, INFINITE); };
    sys.TerminateProcess = counting_TerminateProcess;
    HANDLE child = start_test_child(L"sleep 200 7");
    ASSERT_NE(nullptr, child);
    HANDLE ours = nullptr;
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), child, GetCurrentProcess(), &ours, 0, FALSE, DUPLICATE_SAME_ACCESS));
    state.cleanup.child_process = child;
    cleanup_on_exit(state);
    EXPECT_EQ(0, terminations.load());
    EXPECT_EQ(7u, wait_for_exit_code(ours));
    CloseHandle(ours);
}

TEST_F(CleanupTest, RealChildStillRunningAfterTheGraceEndsWithTheInterruptCode) {
    // Once with the grace cut short by a fake wait, once with the real
    // 5,000 ms.
    for (bool real_wait : {false, true}) {
        SCOPED_TRACE(real_wait ? "real wait" : "fake wait");
        reset();
        if (!real_wait) sys.WaitForSingleObject = [](HANDLE, DWORD) -> DWORD { return WAIT_TIMEOUT; };
        HANDLE child = start_test_child(L"sleep 60000 0");
        ASSERT_NE(nullptr, child);
        HANDLE ours = nullptr;
        ASSERT_TRUE(
            DuplicateHandle(GetCurrentProcess(), child, GetCurrentProcess(), &ours, 0, FALSE, DUPLICATE_SAME_ACCESS));
        state.cleanup.child_process = child;
        EXPECT_EQ(FALSE, console_control_handler(CTRL_C_EVENT));
        EXPECT_EQ(0xC000013Au, wait_for_exit_code(ours));
        CloseHandle(ours);
    }
}

// --- the console control handler ---------------------------------------------

TEST_F(CleanupTest, HandlerCleansUpForTheFiveStoppingEventsAndAlwaysReturnsFalse) {
    struct Row {
        DWORD type;
        bool cleans_up;
    } rows[] = {
        {CTRL_C_EVENT, true}, {CTRL_BREAK_EVENT, true},  {CTRL_CLOSE_EVENT, true},    {3, false},
        {4, false},           {CTRL_LOGOFF_EVENT, true}, {CTRL_SHUTDOWN_EVENT, true}, {7, false},
        {100, false},         {0xFFFFFFFF, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        reset();
        fake_the_deletion();
        use_directory(L"C:\\extraction");
        state.cleanup.extraction_started = 1;
        EXPECT_EQ(FALSE, console_control_handler(row.type));
        EXPECT_EQ(row.cleans_up ? 1u : 0u, delete_requests.size());
    }
}

// --- the two threads ---------------------------------------------------------

// Both threads delete at the same moment: the second waits for the first
// pass to finish, then makes its own.
TEST_F(CleanupTest, TwoDeletionsNeverOverlap) {
    static HANDLE start;
    start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sys.remove_directory_tree = [](const wchar_t*) {
        note_deletion_entered();
        Sleep(20);  // widens the window in which an unguarded second pass would enter
        --deleting_now;
    };
    // Each pass sees the directory twice, then finds it gone.
    sys.GetFileAttributesW = [](LPCWSTR) -> DWORD {
        static thread_local int checks = 0;
        return ++checks <= 2 ? FILE_ATTRIBUTE_DIRECTORY : INVALID_FILE_ATTRIBUTES;
    };
    sys.Sleep = [](DWORD) {};
    use_directory(L"C:\\extraction");
    state.cleanup.extraction_started = 1;

    auto run = [] {
        WaitForSingleObject(start, INFINITE);
        cleanup_on_exit(state);
    };
    std::thread first(run);
    std::thread second(run);
    SetEvent(start);
    first.join();
    second.join();
    CloseHandle(start);

    EXPECT_EQ(1, most_deleting_at_once.load());
    EXPECT_EQ(6u, deleting_threads.size());
    EXPECT_TRUE(one_run_per_thread(deleting_threads));
}

// The handler arrives while launch_child waits for a child that ignores the
// event: it takes the slot's handle, ends the child after the (shortened)
// grace, and deletes; the main thread reads the interrupt code from its own
// handle and closes only that one.
TEST_F(CleanupTest, HandlerDuringTheWaitEndsTheChildAndEveryHandleIsClosedOnce) {
    static HANDLE main_is_waiting;
    main_is_waiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    sys.WaitForSingleObject = [](HANDLE handle, DWORD milliseconds) -> DWORD {
        if (milliseconds != INFINITE) return WAIT_TIMEOUT;  // the grace, cut short
        SetEvent(main_is_waiting);
        return WaitForSingleObject(handle, INFINITE);
    };
    sys.TerminateProcess = counting_TerminateProcess;
    sys.CloseHandle = counting_CloseHandle;
    sys.remove_directory_tree = watched_remove_directory_tree;

    const std::wstring root = scratch(L"cleanup_race") + L"\\onefile_race";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    write_scratch_file(root + L"\\application.dll", "MZ");
    use_directory(root);
    state.cleanup.extraction_started = 1;

    BOOL handler_result = TRUE;
    std::thread handler([&handler_result] {
        WaitForSingleObject(main_is_waiting, INFINITE);
        handler_result = console_control_handler(CTRL_C_EVENT);
    });
    unsigned long exit_code = 0;
    {
        ChildModeScope mode(L"sleep 60000 0");
        exit_code = launch_typed();
    }
    handler.join();
    CloseHandle(main_is_waiting);

    EXPECT_EQ(0xC000013Au, exit_code) << "never 0 after a console event";
    EXPECT_EQ(FALSE, handler_result);
    EXPECT_EQ(1, terminations.load());
    EXPECT_EQ((std::vector<BOOL>{TRUE, TRUE, TRUE}), close_results) << "thread, process and its duplicate";
    EXPECT_EQ(nullptr, state.cleanup.child_process);
    EXPECT_FALSE(path_exists(root));
    EXPECT_EQ(1, most_deleting_at_once.load());
    EXPECT_TRUE(one_run_per_thread(deleting_threads));
}

// The handler arrives after the child has ended but before the main thread
// has taken the slot back: the handler gets the handle (the child is no
// longer running, so nothing is terminated) and the main thread closes only
// its own.
TEST_F(CleanupTest, HandlerBetweenTheWaitAndTheHandOverTakesTheSlotInstead) {
    static HANDLE waited_handle;
    static std::thread handler;
    static BOOL handler_result;
    handler_result = TRUE;
    sys.WaitForSingleObject = [](HANDLE handle, DWORD milliseconds) -> DWORD {
        if (milliseconds == INFINITE) waited_handle = handle;
        return WaitForSingleObject(handle, milliseconds);
    };
    sys.CloseHandle = [](HANDLE handle) -> BOOL {
        if (handle == waited_handle) {
            // The main thread is about to close its own handle and then take
            // the slot: let the handler run to its end first.
            handler = std::thread([] { handler_result = console_control_handler(CTRL_CLOSE_EVENT); });
            handler.join();
        }
        return counting_CloseHandle(handle);
    };
    sys.TerminateProcess = counting_TerminateProcess;

    unsigned long exit_code = 0;
    {
        ChildModeScope mode(L"exit 5");
        exit_code = launch_typed();
    }
    EXPECT_EQ(5u, exit_code);
    EXPECT_EQ(FALSE, handler_result);
    EXPECT_EQ(0, terminations.load());
    EXPECT_EQ((std::vector<BOOL>{TRUE, TRUE, TRUE}), close_results);
    EXPECT_EQ(nullptr, state.cleanup.child_process);
}

// The handler arrives while the main thread deletes: it waits for that pass
// to end; the directory is gone and no two passes overlapped.
TEST_F(CleanupTest, HandlerDuringTheMainThreadsDeletionWaitsItsTurn) {
    static std::thread handler;
    static std::atomic<bool> handler_started;
    handler_started = false;
    sys.remove_directory_tree = [](const wchar_t* directory) {
        if (!handler_started.exchange(true)) {
            handler = std::thread([] { console_control_handler(CTRL_C_EVENT); });
            Sleep(50);  // gives the handler time to reach the guard while this pass is inside
        }
        watched_remove_directory_tree(directory);
    };

    const std::wstring root = scratch(L"cleanup_turn") + L"\\onefile_turn";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
    write_scratch_file(root + L"\\sub\\file.txt", "x");
    use_directory(root);
    state.cleanup.extraction_started = 1;

    unsigned long exit_code = 0;
    {
        ChildModeScope mode(L"exit 0");
        exit_code = launch_typed();
    }
    if (handler.joinable()) handler.join();
    EXPECT_EQ(interrupted_exit_code, exit_code) << "the child's 0 is no success once the run was interrupted";
    EXPECT_FALSE(path_exists(root));
    EXPECT_EQ(1, most_deleting_at_once.load());
    EXPECT_GE(deleting_threads.size(), 2u) << "both threads made a pass";
    EXPECT_TRUE(one_run_per_thread(deleting_threads));
}

// --- failures and interruptions after the folder was made -------------------

// The race seen with Ctrl-C during a child start that then failed: the
// handler is deleting when the main thread reports a failure. The exit waits
// for the handler's pass to end, then makes its own; nothing is cut short.
TEST_F(CleanupTest, FailureDuringTheHandlersRemovalWaitsForItAndRemovesAgain) {
    EXPECT_EXIT(
        {
            static HANDLE removal_begun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            sys.remove_directory_tree = [](const wchar_t*) {
                fprintf(stderr, "removal begins\n");
                SetEvent(removal_begun);
                Sleep(300);
                fprintf(stderr, "removal ends\n");
            };
            use_directory(L"C:\\extraction");
            state.cleanup.extraction_started = 1;
            arm_cleanup_at_exit(state.cleanup);
            std::thread([] { console_control_handler(CTRL_C_EVENT); }).detach();
            WaitForSingleObject(removal_begun, INFINITE);
            report_message("Error, couldn't launch child");
        },
        ::testing::ExitedWithCode(2), "^removal begins\nremoval ends\nremoval begins\nremoval ends\n$");
}

// Once an event has arrived the main thread makes nothing more in the folder:
// it joins the cleanup and ends with the interrupt code.
TEST_F(CleanupTest, EventBeforeTheNextEntryStopsTheRunWithTheInterruptCode) {
    EXPECT_EXIT(
        {
            sys.remove_directory_tree = [](const wchar_t* directory) { fprintf(stderr, "removed %ls\n", directory); };
            use_directory(L"C:\\extraction");
            state.cleanup.extraction_started = 1;
            console_control_handler(CTRL_C_EVENT);
            enter_folder_change(state);
            fprintf(stderr, "made an entry after the event\n");
        },
        ::testing::ExitedWithCode(static_cast<int>(interrupted_exit_code)),
        "^removed C:\\\\extraction\nremoved C:\\\\extraction\n$");
}

// The liveness marker goes with the folder, and stays (held by nobody, so a
// later sweep takes the folder) while the folder does.
TEST_F(CleanupTest, MarkerIsDeletedOnlyOnceTheFolderIsGone) {
    sys.Sleep = recording_Sleep;
    for (bool file_held_open : {false, true}) {
        SCOPED_TRACE(file_held_open ? "a file held open" : "nothing held");
        const std::wstring root = scratch(L"cleanup_marker") + L"\\onefile_1_000000_AAAAAAAAAAA";
        const std::wstring marker = root + L".live";
        state.cleanup.run_marker = hold_run_marker(marker.c_str());
        ASSERT_NE(INVALID_HANDLE_VALUE, state.cleanup.run_marker);
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
        write_scratch_file(root + L"\\app.dll", "MZ");
        HANDLE held = file_held_open ? CreateFileW((root + L"\\app.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE;
        use_directory(root);
        state.cleanup.extraction_started = 1;

        cleanup_on_exit(state);
        EXPECT_EQ(nullptr, state.cleanup.run_marker);
        EXPECT_EQ(file_held_open, path_exists(root));
        EXPECT_EQ(file_held_open, path_exists(marker));
        HANDLE ended = open_ended_run_marker(marker.c_str());
        EXPECT_EQ(file_held_open, ended != INVALID_HANDLE_VALUE) << "the kept marker is held by nobody";
        release_run_marker(ended, false);
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    }
}

// --- many interleavings ------------------------------------------------------

// The handler and the main thread's cleanup_on_exit released together, many
// times over, against fakes: whatever the interleaving, the slot's handle is
// ended and closed exactly once, the passes never overlap and the directory
// is removed by exactly one of them (a later pass finds it gone).
std::atomic<int> stress_closes{0};
std::atomic<int> stress_removals{0};
std::atomic<bool> stress_directory_gone{false};

TEST_F(CleanupTest, HandlerAgainstTheMainThreadsCleanupEndsAndDeletesEverythingOnce) {
    sys.WaitForSingleObject = [](HANDLE, DWORD) -> DWORD { return WAIT_TIMEOUT; };
    sys.TerminateProcess = [](HANDLE, UINT) -> BOOL {
        ++terminations;
        return TRUE;
    };
    sys.CloseHandle = [](HANDLE) -> BOOL {
        ++stress_closes;
        return TRUE;
    };
    sys.remove_directory_tree = [](const wchar_t*) {
        note_deletion_entered();
        if (!stress_directory_gone.exchange(true)) ++stress_removals;
        --deleting_now;
    };
    sys.GetFileAttributesW = [](LPCWSTR) -> DWORD {
        return stress_directory_gone ? INVALID_FILE_ATTRIBUTES : FILE_ATTRIBUTE_DIRECTORY;
    };
    sys.Sleep = [](DWORD) {};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        run_state_fixture::fresh_run_state();
        terminations = 0;
        stress_closes = 0;
        stress_removals = 0;
        stress_directory_gone = false;
        most_deleting_at_once = 0;
        use_directory(L"C:\\extraction");
        mark_extraction_started(state.cleanup);
        state.cleanup.child_process = reinterpret_cast<HANDLE>(0x3003);

        std::atomic<int> waiting{2};
        auto released_together = [&waiting](auto step) {
            return std::thread([&waiting, step] {
                for (--waiting; waiting.load() != 0;) {
                }
                step();
            });
        };
        std::thread handler = released_together([] { console_control_handler(CTRL_C_EVENT); });
        std::thread main_thread = released_together([] { cleanup_on_exit(state); });
        handler.join();
        main_thread.join();

        ASSERT_EQ(1, terminations.load());
        ASSERT_EQ(1, stress_closes.load());
        ASSERT_EQ(1, stress_removals.load());
        ASSERT_EQ(1, most_deleting_at_once.load());
        ASSERT_EQ(nullptr, state.cleanup.child_process);
        ASSERT_TRUE(console_event_arrived(state.cleanup));
    }
}

}  // namespace
