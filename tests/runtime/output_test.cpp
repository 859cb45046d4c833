// The standard streams: standard output buffered up to its capacity and written
// out by flush, standard error written before the call returns, the handle
// looked up at each write. The streams write to pipes the tests put in place
// with SetStdHandle (gtest's own output keeps the handles its runtime cached).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "runtime/runtime.h"

namespace {

class StandardStreams : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_output_ = GetStdHandle(STD_OUTPUT_HANDLE);
        saved_error_ = GetStdHandle(STD_ERROR_HANDLE);
        ASSERT_TRUE(CreatePipe(&output_read_, &output_write_, nullptr, 1 << 20));
        ASSERT_TRUE(CreatePipe(&error_read_, &error_write_, nullptr, 1 << 20));
        SetStdHandle(STD_OUTPUT_HANDLE, output_write_);
        SetStdHandle(STD_ERROR_HANDLE, error_write_);
        rt_standard_output.used = 0;
        rt_standard_output.failed = false;
        rt_standard_error.failed = false;
    }
    void TearDown() override {
        rt_standard_output.used = 0;
        SetStdHandle(STD_OUTPUT_HANDLE, saved_output_);
        SetStdHandle(STD_ERROR_HANDLE, saved_error_);
        for (HANDLE handle : {output_read_, output_write_, error_read_, error_write_}) CloseHandle(handle);
    }

    // Everything the pipe holds right now, without waiting for more.
    static std::string drain(HANDLE pipe) {
        std::string bytes;
        DWORD available = 0;
        while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            std::string piece(available, '\0');
            DWORD read = 0;
            if (!ReadFile(pipe, piece.data(), available, &read, nullptr)) break;
            bytes.append(piece, 0, read);
        }
        return bytes;
    }
    std::string output() { return drain(output_read_); }
    std::string error() { return drain(error_read_); }

    HANDLE saved_output_ = nullptr;
    HANDLE saved_error_ = nullptr;
    HANDLE output_read_ = nullptr;
    HANDLE output_write_ = nullptr;
    HANDLE error_read_ = nullptr;
    HANDLE error_write_ = nullptr;
};

TEST_F(StandardStreams, OutputWaitsForFlush) {
    EXPECT_EQ(rt_printf("%s=%ld", "pid", 4242L), 8);
    EXPECT_EQ(rt_puts("!"), 0);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(rt_flush(&rt_standard_output), 0);
    EXPECT_EQ(output(), "pid=4242!\n");
    EXPECT_EQ(rt_flush(&rt_standard_output), 0);  // nothing left: nothing written
    EXPECT_EQ(output(), "");
}

// The buffer holds exactly its capacity; the next byte writes it out.
TEST_F(StandardStreams, OutputBufferCapacityLimits) {
    const std::string full(rt_output_buffer_size - 1, 'a');
    EXPECT_EQ(rt_printf("%s", full.c_str()), static_cast<int>(full.size()));  // capacity - 1
    EXPECT_EQ(output(), "");
    rt_printf("b");  // capacity
    EXPECT_EQ(output(), "");
    rt_printf("c");  // capacity + 1
    EXPECT_EQ(output(), full + "b");
    rt_flush(&rt_standard_output);
    EXPECT_EQ(output(), "c");
}

TEST_F(StandardStreams, LargeOutputArrivesWholeAndInOrder) {
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        rt_printf("%05d\n", i);
        char line[8];
        std::snprintf(line, sizeof line, "%05d\n", i);
        expected += line;
    }
    rt_flush(&rt_standard_output);
    EXPECT_EQ(output(), expected);
}

TEST_F(StandardStreams, ErrorIsWrittenBeforeTheCallReturns) {
    EXPECT_EQ(rt_fprintf(&rt_standard_error, "%s ([Error %ld] %s)\n", "Error, load DLL.", 126L, "x"), 33);
    EXPECT_EQ(error(), "Error, load DLL. ([Error 126] x)\n");
    EXPECT_EQ(output(), "");
}

// Longer than one chunk: written in pieces, but whole.
TEST_F(StandardStreams, LongErrorMessageArrivesWhole) {
    const std::string text(3 * rt_unbuffered_chunk_size + 5, 'e');
    EXPECT_EQ(rt_fprintf(&rt_standard_error, "%s|%ls", text.c_str(), L"\u00e9"), static_cast<int>(text.size() + 3));
    EXPECT_EQ(error(), text + "|\xC3\xA9");
}

TEST_F(StandardStreams, HandleIsLookedUpAtEachWrite) {
    HANDLE other_read = nullptr;
    HANDLE other_write = nullptr;
    ASSERT_TRUE(CreatePipe(&other_read, &other_write, nullptr, 0));
    rt_fprintf(&rt_standard_error, "first");
    SetStdHandle(STD_ERROR_HANDLE, other_write);
    rt_fprintf(&rt_standard_error, "second");
    SetStdHandle(STD_ERROR_HANDLE, error_write_);
    EXPECT_EQ(error(), "first");
    EXPECT_EQ(drain(other_read), "second");
    CloseHandle(other_read);
    CloseHandle(other_write);
}

// A GUI process may have no standard handles: the calls fail, nothing crashes.
TEST_F(StandardStreams, MissingHandleFailsTheCall) {
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    EXPECT_EQ(rt_fprintf(&rt_standard_error, "lost"), -1);
    EXPECT_TRUE(rt_standard_error.failed);

    SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
    EXPECT_EQ(rt_printf("kept until flush"), 16);
    EXPECT_EQ(rt_flush(&rt_standard_output), -1);
    EXPECT_TRUE(rt_standard_output.failed);
    EXPECT_EQ(rt_standard_output.used, 0u) << "the failed bytes are dropped, not retried";
}

TEST_F(StandardStreams, InputCannotBeWritten) {
    rt_errno = 0;
    EXPECT_EQ(rt_fprintf(&rt_standard_input, "x"), -1);
    EXPECT_EQ(rt_errno, rt_EINVAL);
}

}  // namespace
