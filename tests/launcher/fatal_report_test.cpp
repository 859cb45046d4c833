#include "launcher/fatal_report.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "launcher/run_state.h"
#include "paths/wide_buffer.h"
#include "support/report_capture.h"

namespace {

using ::testing::ExitedWithCode;

::testing::Matcher<const std::string&> exactly(const std::string& text) {
    return text;
}

// The system's own text for code, as FormatMessageA hands it out (line end
// included), or empty when it has none.
std::string raw_system_text(DWORD code) {
    char* text = nullptr;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, code, 1033, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result = length > 0 ? std::string(text, length) : std::string();
    if (text != nullptr) LocalFree(text);
    return result;
}

std::string system_error_line(const char* text, unsigned long code) {
    char line[1024];
    std::size_t length = format_system_error(line, sizeof line, text, code);
    return std::string(line, length);
}

// No system text exists for a code with the customer bit (29) set.
constexpr unsigned long code_without_text = 0x20001234;

// ---- the system error line ----------------------------------------------------

TEST(SystemErrorLine, DropsTheCarriageReturnAndLineFeedOfTheSystemText) {
    std::string raw = raw_system_text(ERROR_FILE_NOT_FOUND);
    ASSERT_GE(raw.size(), 2u);
    ASSERT_EQ(raw.substr(raw.size() - 2), "\r\n") << "this test needs a system text that ends in CR LF";
    EXPECT_EQ(system_error_line("Error, load DLL.", ERROR_FILE_NOT_FOUND),
              "Error, load DLL. ([Error 2] " + raw.substr(0, raw.size() - 2) + ")\n");
}

TEST(SystemErrorLine, FallsBackToAPlainTextWhenTheSystemHasNone) {
    ASSERT_EQ(raw_system_text(code_without_text), "");
    EXPECT_EQ(system_error_line("Error, load DLL.", code_without_text),
              "Error, load DLL. ([Error 536875572] unknown error)\n");
}

TEST(SystemErrorLine, ShowsCodesWithTheTopBitSetAsNegativeNumbers) {
    EXPECT_EQ(system_error_line("Error, couldn't launch child", 0xC0000005),
              "Error, couldn't launch child ([Error -1073741819] unknown error)\n");
}

TEST(SystemErrorLine, KeepsInsertsInTheSystemTextLiteral) {
    // The system text is an argument of the line, never its format: a "%1"
    // in it is printed as it stands.
    std::string raw = raw_system_text(ERROR_BAD_EXE_FORMAT);
    ASSERT_NE(raw.find("%1"), std::string::npos) << "this test needs a system text with an insert";
    std::string line = system_error_line("Error, load DLL.", ERROR_BAD_EXE_FORMAT);
    EXPECT_NE(line.find("%1"), std::string::npos) << line;
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
}

// ---- how each report ends -------------------------------------------------------

TEST(FatalReportDeathTest, SystemErrorWritesTheLineToStandardErrorAndExitsWithTwo) {
    EXPECT_EXIT(report_system_error("Error, couldn't unpack file to target path.", ERROR_DISK_FULL), ExitedWithCode(2),
                exactly(system_error_line("Error, couldn't unpack file to target path.", ERROR_DISK_FULL)));
    EXPECT_EXIT(report_system_error("Error, load DLL.", code_without_text), ExitedWithCode(2),
                exactly("Error, load DLL. ([Error 536875572] unknown error)\n"));
}

TEST(FatalReportDeathTest, OpenFailureNamesTheCurrentFileOnStandardError) {
    EXPECT_EXIT(report_open_failure(L"C:\\some dir\\lib\\app.dll"), ExitedWithCode(2),
                exactly("Error, failed to open 'C:\\some dir\\lib\\app.dll' for writing.\n"));
}

TEST(FatalReportDeathTest, PlainMessagesLeaveStandardErrorEmptyAndExitWithTwo) {
    EXPECT_EXIT(report_message("Error, couldn't decode attached data."), ExitedWithCode(2), exactly(""));
    EXPECT_EXIT(report_unsafe_entry_name(L"a\\..\\b"), ExitedWithCode(2), exactly(""));
}

TEST(FatalReportDeathTest, ExpansionFailureEndsAbnormallyAfterItsMessage) {
    // abort, never the orderly exit code 2 of the other reports.
    EXPECT_EXIT(
        report_expansion_failure(L"{HOME}"), [](int code) { return code != 0 && code != 2; },
        "^Error, couldn't runtime expand spec '\\{HOME\\}'\\.\n");
}

// ---- the lines on standard output, seen from a parent process --------------------

TEST(FatalReportScenario, DISABLED_MessageOnStandardOutput) {
    report_message("Error, couldn't decode attached data.");
}

TEST(FatalReportScenario, DISABLED_UnsafeNameWithControlCharacters) {
    report_unsafe_entry_name(L"lib\\a\r\nb\tc.dll");
}

TEST(FatalReportScenario, DISABLED_UnsafeNameWithDotDot) {
    report_unsafe_entry_name(L"..\\escape.dll");
}

struct StandardOutputCase {
    const char* scenario;
    const char* output;
};

TEST(FatalReportOutput, PlainMessagesAreOneLineOnStandardOutput) {
    const StandardOutputCase cases[] = {
        {"DISABLED_MessageOnStandardOutput", "Error, couldn't decode attached data.\n"},
        {"DISABLED_UnsafeNameWithControlCharacters",
         "Error, attached data holds an unsafe entry name 'lib\\a??b?c.dll'.\n"},
        {"DISABLED_UnsafeNameWithDotDot", "Error, attached data holds an unsafe entry name '..\\escape.dll'.\n"},
    };
    for (const StandardOutputCase& c : cases) {
        report_capture::expect_stop_with_output(std::string("FatalReportScenario.") + c.scenario, c.output);
    }
}

}  // namespace
