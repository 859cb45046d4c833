// The ZORVEK_ variables the application finds, and how the extraction folder
// is named from them.

#include <gtest/gtest.h>

#include <cwctype>

#include "e2e_launchers.h"

namespace {

bool all_digits(const std::wstring& text) {
    for (const wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

bool url_safe_base64(const std::wstring& text) {
    for (const wchar_t c : text)
        if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' ||
              c == L'_'))
            return false;
    return true;
}

// 64 bits make 11 characters: the last carries 4 bits and two zero bits, so
// its alphabet index is a multiple of 4.
bool last_character_carries_four_bits(const std::wstring& text) {
    return !text.empty() && std::wstring(L"AEIMQUYcgkosw048").find(text.back()) != std::wstring::npos;
}

class Environment : public ::testing::Test {
  protected:
    // One run with stale values for the variables the parent must renew.
    void SetUp() override {
        Launch launch = scratch.launch(probe_launcher());
        launch.argument0 = L"probe";
        launch.environment.push_back({L"ZORVEK_ONEFILE_START", L"133500000001234567"});
        launch.environment.push_back({L"ZORVEK_ONEFILE_TIME_US", L"stale"});
        launch.environment.push_back({L"ZORVEK_ONEFILE_RANDOM", L"staleRANDOM"});
        launch.environment.push_back({L"ZORVEK_ONEFILE_DIRECTORY", L"C:\\stale"});
        result = run(launch);
        ASSERT_TRUE(read_report(scratch.report_path(), report));
    }

    std::wstring variable(const wchar_t* name) { return reported(report, name).value_or(L"<unset>"); }

    Scratch scratch;
    RunResult result;
    ProbeReport report;
};

TEST_F(Environment, ParentIsTheProcessIdOfTheLauncherThatWasStarted) {
    EXPECT_EQ(variable(L"ZORVEK_ONEFILE_PARENT"), decimal(result.pid));
    EXPECT_NE(report.pid, result.pid) << "the application runs in the child, not in the started process";
}

TEST_F(Environment, TimeIsSixDigitsAndRandomElevenUrlSafeCharacters) {
    const std::wstring time_us = variable(L"ZORVEK_ONEFILE_TIME_US");
    const std::wstring random = variable(L"ZORVEK_ONEFILE_RANDOM");
    EXPECT_EQ(time_us.size(), 6u) << to_utf8(time_us);
    EXPECT_TRUE(all_digits(time_us)) << to_utf8(time_us);
    EXPECT_EQ(random.size(), 11u) << to_utf8(random);
    EXPECT_TRUE(url_safe_base64(random)) << to_utf8(random);
    EXPECT_TRUE(last_character_carries_four_bits(random)) << to_utf8(random);
}

TEST_F(Environment, StaleValuesAreRenewedAndTheStartTimeIsCleared) {
    EXPECT_EQ(reported(report, L"ZORVEK_ONEFILE_START"), std::nullopt);
    EXPECT_NE(variable(L"ZORVEK_ONEFILE_TIME_US"), L"stale");
    EXPECT_NE(variable(L"ZORVEK_ONEFILE_RANDOM"), L"staleRANDOM");
}

TEST_F(Environment, DirectoryIsTheLaunchersFolderWithoutTrailingBackslash) {
    EXPECT_EQ(variable(L"ZORVEK_ONEFILE_DIRECTORY"), folder_of(probe_launcher()));
}

TEST_F(Environment, OriginalArgv0IsArgumentZeroAsGiven) {
    EXPECT_EQ(variable(L"ZORVEK_ORIGINAL_ARGV0"), L"probe");
}

TEST_F(Environment, ExtractionFolderIsNamedFromTheVariablesUnderTmp) {
    const std::wstring expected_folder = scratch.tmp() + L"\\onefile_" + variable(L"ZORVEK_ONEFILE_PARENT") + L"_" +
                                         variable(L"ZORVEK_ONEFILE_TIME_US") + L"_" +
                                         variable(L"ZORVEK_ONEFILE_RANDOM");
    EXPECT_EQ(report.library_path, expected_folder + L"\\probe_app.dll");
    EXPECT_FALSE(path_exists(expected_folder));
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

}  // namespace
