// The child's job: it ends the child when the parent's handle to it goes
// away, lets the application's own processes leave it, and a refusal leaves
// the child running without one.
#include <gtest/gtest.h>
#include <windows.h>

#include "launcher/child_job.h"
#include "platform/system_calls.h"
#include "support/process_fixtures.h"

namespace {

using namespace process_fixtures;

// The test executable in a mode, started suspended so that it is in the job
// before it runs a single instruction of its own.
PROCESS_INFORMATION start_suspended_test_child(const std::wstring& mode) {
    ChildModeScope scope(mode);
    std::wstring image = test_executable_path();
    std::wstring command_line = L"\"" + image + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    EXPECT_TRUE(CreateProcessW(image.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &child))
        << GetLastError();
    return child;
}

bool ends_within(HANDLE process, DWORD milliseconds) {
    return WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
}

class ChildJobTest : public ::testing::Test {
  protected:
    void TearDown() override { restore_system_calls(); }
};

TEST_F(ChildJobTest, ClosingTheLastHandleToTheJobEndsTheChildWithinASecond) {
    PROCESS_INFORMATION child = start_suspended_test_child(L"sleep 30000 5");
    ASSERT_NE(nullptr, child.hProcess);
    HANDLE job = enclose_child_in_job(child.hProcess);
    ASSERT_NE(nullptr, job);
    BOOL in_job = FALSE;
    ASSERT_TRUE(IsProcessInJob(child.hProcess, job, &in_job));
    EXPECT_TRUE(in_job);
    ResumeThread(child.hThread);

    // What the system does for a parent killed from outside: its handles close.
    CloseHandle(job);
    EXPECT_TRUE(ends_within(child.hProcess, 1000));
    if (!ends_within(child.hProcess, 0)) TerminateProcess(child.hProcess, 9);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

TEST_F(ChildJobTest, ProcessTheChildStartsLeavesTheJobAndOutlivesIt) {
    PROCESS_INFORMATION child = start_suspended_test_child(L"spawn 30000");
    ASSERT_NE(nullptr, child.hProcess);
    HANDLE job = enclose_child_in_job(child.hProcess);
    ASSERT_NE(nullptr, job);
    ResumeThread(child.hThread);
    const DWORD helper_id = wait_for_exit_code(child.hProcess);
    ASSERT_NE(0u, helper_id) << "the child could not start its helper";
    HANDLE helper = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, helper_id);
    ASSERT_NE(nullptr, helper);

    BOOL in_job = TRUE;
    ASSERT_TRUE(IsProcessInJob(helper, job, &in_job));
    EXPECT_FALSE(in_job);
    CloseHandle(job);
    EXPECT_FALSE(ends_within(helper, 1000)) << "the helper ended with the job";

    TerminateProcess(helper, 9);
    CloseHandle(helper);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

BOOL WINAPI refusing_AssignProcessToJobObject(HANDLE, HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(ChildJobTest, RefusedJobLeavesTheChildRunningWithoutOne) {
    sys.AssignProcessToJobObject = refusing_AssignProcessToJobObject;
    PROCESS_INFORMATION child = start_suspended_test_child(L"exit 7");
    ASSERT_NE(nullptr, child.hProcess);
    EXPECT_EQ(nullptr, enclose_child_in_job(child.hProcess));
    ResumeThread(child.hThread);
    EXPECT_EQ(7u, wait_for_exit_code(child.hProcess));
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

}  // namespace
