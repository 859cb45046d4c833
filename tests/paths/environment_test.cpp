// Environment access by narrow names: round trips, absent and empty values,
// the longest value, fresh copies, and the 39-character name limit.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "paths/environment.h"
#include "support/test_support.h"

namespace {

constexpr char variable[] = "ONEFILE_PATHS_TEST_VARIABLE";
constexpr wchar_t wide_variable[] = L"ONEFILE_PATHS_TEST_VARIABLE";

// Reads through env_read and frees the copy; "(null)" for an absent variable.
std::wstring read_text(const char* name) {
    wchar_t* value = env_read(name);
    if (value == nullptr) return L"(null)";
    std::wstring text = value;
    free(value);
    return text;
}

class Environment : public ::testing::Test {
  protected:
    void SetUp() override { SetEnvironmentVariableW(wide_variable, nullptr); }
    void TearDown() override { SetEnvironmentVariableW(wide_variable, nullptr); }
};

TEST_F(Environment, ReadAfterWriteGivesTheValue) {
    EXPECT_TRUE(env_write(variable, L"C:\\Some Folder\\\x00e9t\x00e9"));
    EXPECT_EQ(L"C:\\Some Folder\\\x00e9t\x00e9", read_text(variable));
}

TEST_F(Environment, ReadAfterRemoveIsNull) {
    env_write(variable, L"42");
    EXPECT_TRUE(env_remove(variable));
    EXPECT_EQ(nullptr, env_read(variable));
}

TEST_F(Environment, EmptyValueReadsLikeAMissingOne) {
    EXPECT_EQ(nullptr, env_read(variable));
    SetEnvironmentVariableW(wide_variable, L"");
    EXPECT_EQ(nullptr, env_read(variable));
    EXPECT_EQ(nullptr, env_read_wide(wide_variable));
}

// Wine keeps at most 32,766 characters of a value, so the limit itself is
// tested with a fake that behaves like Windows: the value and its length when
// it fits, the size it needs (terminator included) and no text when not.
std::wstring fake_value;

DWORD WINAPI fake_get_environment_variable(LPCWSTR, LPWSTR value, DWORD size) {
    if (fake_value.empty()) return 0;
    if (size <= fake_value.size()) return static_cast<DWORD>(fake_value.size() + 1);
    wcscpy(value, fake_value.c_str());
    return static_cast<DWORD>(fake_value.size());
}

class EnvironmentValueLimit : public WithSystemCalls {
  protected:
    void SetUp() override { sys.GetEnvironmentVariableW = fake_get_environment_variable; }
};

TEST_F(EnvironmentValueLimit, LongestWindowsValueIsReturnedWhole) {
    // A varying pattern, so that a cut or a shifted copy shows.
    fake_value.assign(32767, L'a');
    for (std::size_t i = 0; i < fake_value.size(); ++i) fake_value[i] = static_cast<wchar_t>(L'a' + i % 26);
    std::wstring read = read_text(variable);
    EXPECT_EQ(fake_value.size(), read.size());
    EXPECT_TRUE(read == fake_value);
}

TEST_F(EnvironmentValueLimit, ValueThatDoesNotFitReadsAsNull) {
    fake_value.assign(32768, L'a');
    EXPECT_EQ(nullptr, env_read(variable));
}

TEST_F(Environment, EachReadIsAFreshCopy) {
    env_write(variable, L"same");
    wchar_t* first = env_read(variable);
    wchar_t* second = env_read(variable);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);
    EXPECT_STREQ(first, second);
    free(first);
    free(second);
}

TEST(EnvironmentName, ThirtyNineCharactersAreAccepted) {
    const std::string name(39, 'N');
    EXPECT_TRUE(env_write(name.c_str(), L"long name"));
    EXPECT_EQ(L"long name", read_text(name.c_str()));
    EXPECT_TRUE(env_remove(name.c_str()));
    EXPECT_EQ(L"(null)", read_text(name.c_str()));
}

TEST(EnvironmentNameDeathTest, FortyCharactersAbortInEveryOperation) {
    const std::string name(40, 'N');
    EXPECT_EXIT(env_read(name.c_str()), aborted, "");
    EXPECT_EXIT(env_write(name.c_str(), L"x"), aborted, "");
    EXPECT_EXIT(env_remove(name.c_str()), aborted, "");
}

TEST(WidenAscii, EveryPrintableByteGivesTheUnitOfTheSameValue) {
    std::string narrow;
    for (char byte = 0x20; byte < 0x7F; ++byte) narrow += byte;
    wchar_t wide[128];
    widen_ascii(wide, narrow.c_str(), 128);
    ASSERT_EQ(narrow.size(), wcslen(wide));
    for (std::size_t i = 0; i < narrow.size(); ++i) EXPECT_EQ(static_cast<wchar_t>(narrow[i]), wide[i]);
}

TEST(WidenAscii, CapacityMinusOneCharactersFitAndEmptyStaysEmpty) {
    wchar_t wide[4] = {L'#', L'#', L'#', L'#'};
    widen_ascii(wide, "123", 4);
    EXPECT_STREQ(L"123", wide);
    widen_ascii(wide, "", 1);
    EXPECT_EQ(L'\0', wide[0]);
}

TEST(WidenAsciiDeathTest, CapacityCharactersAbort) {
    EXPECT_EXIT(
        {
            wchar_t wide[4];
            widen_ascii(wide, "1234", 4);
        },
        aborted, "");
}

}  // namespace
