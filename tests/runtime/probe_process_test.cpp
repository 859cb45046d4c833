// The runtime as the image sees it: the probe (tests/runtime/probe/) is linked
// like the launcher, with our runtime and no toolchain C library. Each test
// starts it with pipes for its standard handles and checks the bytes on each
// stream and the full 32-bit exit code, read here on the Windows side.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

#include "tests/support/pipe_reading.h"

namespace {

std::wstring probe_path() {
    wchar_t own[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring path(own, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + ONEFILE_RUNTIME_PROBE_NAME;
}

struct ProbeRun {
    std::string output;
    std::string error;
    DWORD exit_code = 0;
};

using test_support::read_until_closed;

// Starts the probe with exactly this command line (argument 0 included).
ProbeRun run_probe_with_command_line(std::wstring command_line) {
    ProbeRun run;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output_read = nullptr, output_write = nullptr, error_read = nullptr, error_write = nullptr;
    EXPECT_TRUE(CreatePipe(&output_read, &output_write, &inheritable, 0));
    EXPECT_TRUE(CreatePipe(&error_read, &error_write, &inheritable, 0));
    SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(error_read, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output_write;
    startup.hStdError = error_write;
    PROCESS_INFORMATION process{};
    std::wstring application = probe_path();
    BOOL started = CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr,
                                  TRUE /* bInheritHandles */, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(output_write);
    CloseHandle(error_write);
    EXPECT_TRUE(started) << "CreateProcessW failed with " << GetLastError();
    if (started) {
        std::thread error_reader([&] { run.error = read_until_closed(error_read); });
        run.output = read_until_closed(output_read);
        error_reader.join();
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &run.exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(output_read);
    CloseHandle(error_read);
    return run;
}

ProbeRun run_probe(const std::wstring& arguments) {
    return run_probe_with_command_line(L"\"" + probe_path() + L"\" " + arguments);
}

std::string utf8(const std::wstring& text) {
    int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

TEST(ProbeArguments, SplitByTheRuntimeRulesAndPrintedAsUtf8) {
    ProbeRun run = run_probe(L"arguments  a\\\\\\\"b \"c d\" \"\" x\"\"y \"q\"\"r\" \u00e9\u20ac\U0001F600");
    std::string expected = "8\n0:[" + utf8(probe_path()) +
                           "]\n1:[arguments]\n2:[a\\\"b]\n3:[c d]\n4:[]\n5:[xy]\n6:[q\"r]\n"
                           "7:[\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80]\nnull:1\n";
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.exit_code, 0u);
}

// Argument 0 is whatever the command line says, split by its own rule:
// quotation marks vanish, backslashes stay.
TEST(ProbeArguments, ProgramNameRule) {
    ProbeRun run = run_probe_with_command_line(L"C:\\fake\\\"dir x\\\"\\probe.exe arguments");
    EXPECT_EQ(run.output, "2\n0:[C:\\fake\\dir x\\\\probe.exe]\n1:[arguments]\nnull:1\n");
}

TEST(ProbeArguments, WinMainGetsTheCommandLineTail) {
    ProbeRun run = run_probe(L"  tail  a   \"b c\"  ");
    EXPECT_EQ(run.output, "[tail  a   \"b c\"  ]\n");
}

TEST(ProbeStreams, OutputIsBufferedErrorIsNot) {
    ProbeRun run = run_probe(L"streams");
    // Standard output arrives whole, flushed by the exit after wWinMain returns.
    EXPECT_EQ(run.output, "out1\nout2 no line feed");
    EXPECT_EQ(run.error, "err1 \xC3\xA9\nerr2\n");
    EXPECT_EQ(run.exit_code, 7u);
}

TEST(ProbeStreams, LargeOutputArrivesInOrder) {
    ProbeRun run = run_probe(L"large 20000");
    ASSERT_EQ(run.output.size(), 20000u * 6);
    for (int i = 0; i < 20000; i += 997) {
        char line[8];
        std::snprintf(line, sizeof line, "%05d\n", i);
        ASSERT_EQ(run.output.substr(static_cast<size_t>(i) * 6, 6), line) << i;
    }
}

// exit passes the full 32-bit code and flushes standard output first.
TEST(ProbeExit, FullExitCodesAndFlush) {
    for (DWORD code : {0x0u, 0x1u, 0x2u, 0xFFu, 0x100u, 0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFEu}) {
        wchar_t hex[16];
        swprintf(hex, 16, L"%lx", static_cast<unsigned long>(code));
        ProbeRun run = run_probe(std::wstring(L"exit ") + hex);
        EXPECT_EQ(run.exit_code, code) << std::hex << code;
        EXPECT_EQ(run.output, "before exit") << std::hex << code;
    }
}

// Eight handlers fit, the ninth is refused; they run last registered first,
// each once, whether the process ends through exit or by returning, and one
// that exits again ends the process with its own code.
TEST(ProbeExit, ExitHandlersRunLastFirstAndOnce) {
    for (const wchar_t* ending : {L"exit", L"return"}) {
        ProbeRun run = run_probe(std::wstring(L"atexit ") + ending);
        EXPECT_EQ(run.output, "atexit 8 -1\n7 6 5 4 3 2 1 0 ") << ending;
        EXPECT_EQ(run.exit_code, 0x2Au) << ending;
    }
}

TEST(ProbeExit, ReturnFromWinMainIsTheExitCode) {
    EXPECT_EQ(run_probe(L"return 80000001").exit_code, 0x80000001u);
    EXPECT_EQ(run_probe(L"return 0").exit_code, 0u);
}

// abort: a fail-fast end, no flushing of standard output; what went to the
// unbuffered standard error is there.
TEST(ProbeAbort, FailFastWithoutFlush) {
    ProbeRun run = run_probe(L"abort");
    EXPECT_EQ(run.exit_code, 0xC0000409u);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.error, "before abort\n");
}

// errno and wcstol as the launcher reaches them: through _errno() and wcstol.
TEST(ProbeNames, WcstolWithErrno) {
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"4242", "4242 0 4\n"},
        {L"\" -12x\"", "-12 0 4\n"},
        {L"2147483647", "2147483647 0 10\n"},
        {L"2147483648", "2147483647 34 10\n"},
        {L"-2147483649", "-2147483648 34 11\n"},
        {L"\"\"", "0 0 0\n"},
    };
    for (const auto& [argument, expected] : cases)
        EXPECT_EQ(run_probe(std::wstring(L"wcstol ") + argument).output, expected) << argument;
}

TEST(ProbeNames, SnprintfNumberFormats) {
    EXPECT_EQ(run_probe(L"number-format").output,
              "4294967\n000042\n-1234567890123\n"
              "4294967295|18446744073709551615|beef|q|%|3000000000|-5\n"
              "9 [tru]\n");
}

TEST(ProbeNames, MbstowcsWidensEachByte) {
    EXPECT_EQ(run_probe(L"widen A\u00e9\u00ff").output, "1:0041 1:00e9 1:00ff \n");
}

TEST(ProbeNames, IswdigitClass) {
    EXPECT_EQ(run_probe(L"digits").output, "0030:1 0039:1 0061:0 00b2:1 00b3:1 00b9:1 00bc:0 0660:1 ff10:1 4e00:0 \n");
}

TEST(ProbeNames, HeapAndMemoryFunctions) {
    ProbeRun run = run_probe(L"heap");
    EXPECT_EQ(run.output, "calloc:1 copy:1 realloc:1\n");
    EXPECT_EQ(run.exit_code, 0u);
}

// Our split agrees with the shell's on a plain command line (and the probe
// imports from SHELL32.dll, as the launcher does).
TEST(ProbeNames, ShellSplitAgreesOnPlainArguments) {
    EXPECT_EQ(run_probe(L"shell a b \"c d\"").output, "5 5\n");
}

}  // namespace
