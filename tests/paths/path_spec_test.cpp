// Path-spec expansion: the placeholder table, the grammar's corners, the
// generated parts and where they are stored, and every way a value can fail
// to fit.
#include <gtest/gtest.h>

#include <cstring>

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>

#include "paths/environment.h"
#include "paths/path_spec.h"
#include "support/test_support.h"

namespace {

constexpr std::size_t path_capacity = 4096;

// The temporary folder, faked like GetTempPathW behaves: the path and its
// length when it fits, else the size it needs and no text. Null: the call fails.
const wchar_t* fake_temp_folder = L"C:\\T\\";

DWORD fake_temp_error = ERROR_PATH_NOT_FOUND;  // the error of a failing call

DWORD WINAPI fake_get_temp_path(DWORD length, LPWSTR buffer) {
    if (fake_temp_folder == nullptr) {
        SetLastError(fake_temp_error);
        return 0;
    }
    DWORD needed = static_cast<DWORD>(wcslen(fake_temp_folder));
    if (length <= needed) return needed + 1;
    wcscpy(buffer, fake_temp_folder);
    return needed;
}

// Shell folders: the folder text, or a failure when null.
const wchar_t* fake_shell_folder = L"C:\\Users\\me\\";
int last_csidl = -1;
DWORD last_shell_flags = ~0u;

HRESULT WINAPI fake_get_folder_path(HWND, int csidl, HANDLE, DWORD flags, LPWSTR path) {
    last_csidl = csidl;
    last_shell_flags = flags;
    if (fake_shell_folder == nullptr) return E_FAIL;
    wcscpy(path, fake_shell_folder);
    return S_OK;
}

wchar_t program_argument[path_capacity] = L"C:\\Apps\\Tool.EXE";
wchar_t* program_vector[] = {program_argument, nullptr};

void use_program(const wchar_t* argument_0) {
    wcscpy(program_argument, argument_0);
    set_program_arguments(1, program_vector);
}

std::wstring variable_text(const char* name) {
    wchar_t* value = env_read(name);
    if (value == nullptr) return L"(absent)";
    std::wstring text = value;
    free(value);
    return text;
}

struct Expansion {
    bool result;
    std::wstring output;
};

Expansion expand(const std::wstring& spec, std::size_t capacity = path_capacity) {
    std::wstring output(capacity, L'#');
    bool result = expand_path_spec(output.data(), spec.c_str(), capacity);
    return {result, output.c_str()};
}

class PathSpec : public WithSystemCalls {
  protected:
    void SetUp() override {
        for (const char* name :
             {"ZORVEK_ONEFILE_PARENT", "ZORVEK_ONEFILE_TIME_US", "ZORVEK_ONEFILE_RANDOM", "ZORVEK_ONEFILE_START"}) {
            env_remove(name);
        }
        fake_temp_folder = L"C:\\T\\";
        fake_temp_error = ERROR_PATH_NOT_FOUND;
        fake_shell_folder = L"C:\\Users\\me\\";
        sys.GetTempPathW = fake_get_temp_path;
        sys.SHGetFolderPathW = fake_get_folder_path;
        use_program(L"C:\\Apps\\Tool.EXE");
    }
};

// --- generated values --------------------------------------------------------

TEST(RandomTag, KnownSeedsGiveKnownTags) {
    struct Case {
        std::uint32_t seed;
        const wchar_t* tag;
    };
    // Seed 1 gives the bytes 21 01 C5 4F D1 D0 1A B2; seed 0 counts as 1. The
    // others reach the two URL-safe characters and both ends of the seed range.
    const Case cases[] = {
        {1, L"IQHFT9HQGrI"},           {0, L"IQHFT9HQGrI"},           {48, L"U_V8Zjed-3w"},
        {0xFFFFFFFFu, L"H_9D2pHssPs"}, {0x80000000u, L"AIRIlEGeIMI"},
    };
    for (const Case& c : cases) {
        wchar_t tag[12];
        random_tag_from_seed(c.seed, tag);
        EXPECT_STREQ(c.tag, tag) << "seed " << c.seed;
    }
}

TEST(TimeUs, IsTheMicrosecondWithinTheSecond) {
    struct Case {
        std::uint64_t filetime;
        const wchar_t* text;
    };
    const Case cases[] = {
        {133500000001234567ull, L"123456"},
        {133500000000000009ull, L"000000"},
        {9999999ull, L"999999"},
        {10000000ull, L"000000"},
        {0ull, L"000000"},
    };
    for (const Case& c : cases) {
        wchar_t text[7];
        time_us_text(c.filetime, text);
        EXPECT_STREQ(c.text, text) << c.filetime;
    }
}

TEST(TimeText, IsTheWholeCountWithoutLeadingZeros) {
    wchar_t text[21];
    time_text(133500000001234567ull, text);
    EXPECT_STREQ(L"133500000001234567", text);
    time_text(0, text);
    EXPECT_STREQ(L"0", text);
    time_text(0x7FFFFFFFFFFFFFFFull, text);
    EXPECT_STREQ(L"9223372036854775807", text);
}

// --- the extraction directory spec -------------------------------------------

constexpr wchar_t extraction_spec[] = L"{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}";

TEST_F(PathSpec, ExtractionSpecFromStoredParts) {
    env_write("ZORVEK_ONEFILE_PARENT", L"4242");
    env_write("ZORVEK_ONEFILE_TIME_US", L"123456");
    env_write("ZORVEK_ONEFILE_RANDOM", L"IQHFT9HQGrI");
    for (int round = 0; round < 2; ++round) {
        Expansion e = expand(extraction_spec);
        EXPECT_TRUE(e.result);
        EXPECT_EQ(L"C:\\T\\onefile_4242_123456_IQHFT9HQGrI", e.output);
    }
}

// {RANDOM} carries the system generator's 64 bits, not a 32-bit seed's; the
// seeded tags remain only where the system has no generator.
TEST_F(PathSpec, RandomPartIsTheSystemsSixtyFourBits) {
    const struct {
        std::uint64_t bits;
        const wchar_t* tag;
    } cases[] = {{0x2101C54FD1D01AB2ull, L"IQHFT9HQGrI"},
                 {0xFFFFFFFFFFFFFFFFull, L"__________8"},
                 {0ull, L"AAAAAAAAAAA"},
                 {0x0123456789ABCDEFull, L"ASNFZ4mrze8"}};
    static std::uint64_t given_bits = 0;
    sys.fill_random = [](void* out, ULONG size) {
        EXPECT_EQ(size, 8u);
        memcpy(out, &given_bits, sizeof given_bits);
        return true;
    };
    for (const auto& c : cases) {
        given_bits = c.bits;
        env_remove("ZORVEK_ONEFILE_RANDOM");
        EXPECT_EQ(c.tag, expand(L"{RANDOM}").output);
    }
    sys.fill_random = [](void*, ULONG) { return false; };  // no generator: still a tag
    env_remove("ZORVEK_ONEFILE_RANDOM");
    EXPECT_EQ(11u, expand(L"{RANDOM}").output.size());
}

TEST_F(PathSpec, GeneratedPartsAreStoredAndReused) {
    env_write("ZORVEK_ONEFILE_PARENT", L"4242");
    Expansion first = expand(extraction_spec);
    ASSERT_TRUE(first.result);

    std::wstring time_us = variable_text("ZORVEK_ONEFILE_TIME_US");
    std::wstring random = variable_text("ZORVEK_ONEFILE_RANDOM");
    EXPECT_EQ(L"C:\\T\\onefile_4242_" + time_us + L"_" + random, first.output);
    ASSERT_EQ(6u, time_us.size());
    EXPECT_EQ(std::wstring::npos, time_us.find_first_not_of(L"0123456789"));
    ASSERT_EQ(11u, random.size());
    EXPECT_EQ(std::wstring::npos,
              random.find_first_not_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"));

    Expansion second = expand(extraction_spec);
    EXPECT_EQ(first.output, second.output);
}

TEST_F(PathSpec, TimeIsStoredInTheStartVariable) {
    Expansion first = expand(L"{TIME}");
    ASSERT_TRUE(first.result);
    EXPECT_EQ(variable_text("ZORVEK_ONEFILE_START"), first.output);
    EXPECT_FALSE(first.output.empty());
    EXPECT_EQ(std::wstring::npos, first.output.find_first_not_of(L"0123456789"));
    EXPECT_NE(L'0', first.output[0]);
    EXPECT_EQ(first.output, expand(L"{time}").output);
}

TEST_F(PathSpec, StoredValuesAreAppendedUnchecked) {
    env_write("ZORVEK_ONEFILE_RANDOM", L"not base64!");
    env_write("ZORVEK_ONEFILE_TIME_US", L"7");
    env_write("ZORVEK_ONEFILE_START", L"0012");
    EXPECT_EQ(L"not base64!|7|0012", expand(L"{RANDOM}|{TIME_US}|{TIME}").output);
}

// --- the grammar ---------------------------------------------------------------

struct GrammarCase {
    const wchar_t* spec;
    std::size_t capacity;
    bool result;
    const wchar_t* output;
};

TEST_F(PathSpec, GrammarTable) {
    const GrammarCase cases[] = {
        {L"", path_capacity, true, L""},
        {L"plain text", path_capacity, true, L"plain text"},
        {L"{TEMP}\\x", path_capacity, true, L"C:\\T\\x"},
        {L"{temp}\\x", path_capacity, true, L"C:\\T\\x"},
        {L"{tEmP}", path_capacity, true, L"C:\\T"},
        // Unknown and empty names fail and keep what came before.
        {L"{}", path_capacity, false, L""},
        {L"ab{NOPE}cd", path_capacity, false, L"ab"},
        {L"ab{TEM}", path_capacity, false, L"ab"},
        {L"{TEMPS}", path_capacity, false, L""},
        {L"{PROGRAM_}", path_capacity, false, L""},
        {L"{ TEMP}", path_capacity, false, L""},
        // An open placeholder at the end is dropped; a second '{' restarts it.
        {L"a{TEMP", path_capacity, true, L"a"},
        {L"a{", path_capacity, true, L"a"},
        {L"{A{TEMP}", path_capacity, true, L"C:\\T"},
        {L"{NOPE{TEMP}x", path_capacity, true, L"C:\\Tx"},
        // A '}' outside a placeholder is plain text.
        {L"a}b", path_capacity, true, L"a}b"},
        {L"}{TEMP}}", path_capacity, true, L"}C:\\T}"},
        {L"{TEMP}}}", path_capacity, true, L"C:\\T}}"},
        // Literal text: capacity - 1 units fit, one more fails with the rest kept.
        {L"abcdefg", 8, true, L"abcdefg"},
        {L"abcdefgh", 8, false, L"abcdefg"},
        {L"a", 1, false, L""},
        {L"", 1, true, L""},
        // Literal text after a value counts against what the value left.
        {L"{PRODUCT}ab", 11, true, L"Lumbrickab"},
        {L"{PRODUCT}abc", 11, false, L"Lumbrickab"},
        // Build constants.
        {L"{COMPANY}|{PRODUCT}|{VERSION}|{FILE_VERSION}|{PRODUCT_VERSION}", path_capacity, true,
         L"Vellmore Limited|Lumbrick|1.0.0.0|1.0.0.0|1.0.0.0"},
        {L"{company}{Product}{version}", path_capacity, true, L"Vellmore LimitedLumbrick1.0.0.0"},
        // The PROGRAM family with argument 0 C:\Apps\Tool.EXE.
        {L"{PROGRAM}", path_capacity, true, L"C:\\Apps\\Tool.EXE"},
        {L"<{program_base}>", path_capacity, true, L"<C:\\Apps\\Tool>"},
        {L"<{PROGRAM_DIR}>", path_capacity, true, L"<C:\\Apps>"},
    };
    for (const GrammarCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "spec " << testing::PrintToString(std::wstring(c.spec)) << ", capacity "
                                        << c.capacity);
        Expansion e = expand(c.spec, c.capacity);
        EXPECT_EQ(c.result, e.result);
        EXPECT_EQ(c.output, e.output);
    }
}

TEST_F(PathSpec, LongNamesFailWithoutOverflowingTheScratch) {
    // 1,023 characters is the longest name; none is in the table.
    for (std::size_t length : {1023u, 1024u, 1025u, 5000u}) {
        SCOPED_TRACE(length);
        Expansion e = expand(L"ab{" + repeated(length, L'N') + L"}cd");
        EXPECT_FALSE(e.result);
        EXPECT_EQ(L"ab", e.output);
    }
}

TEST_F(PathSpec, LongOpenNamesFollowTheShortOnesRules) {
    // Dropped at the end of the path spec, and discarded by a later '{'.
    EXPECT_TRUE(expand(L"ab{" + repeated(5000, L'N')).result);
    EXPECT_EQ(L"ab", expand(L"ab{" + repeated(5000, L'N')).output);
    Expansion restarted = expand(L"{" + repeated(5000, L'N') + L"{TEMP}");
    EXPECT_TRUE(restarted.result);
    EXPECT_EQ(L"C:\\T", restarted.output);
}

// --- folders and trailing backslashes -------------------------------------------

TEST_F(PathSpec, TemporaryFolderLosesEveryTrailingBackslash) {
    struct Case {
        const wchar_t* temp;
        const wchar_t* spec;
        const wchar_t* output;
    };
    const Case cases[] = {
        {L"C:\\T\\", L"{TEMP}\\x", L"C:\\T\\x"},
        {L"C:\\T\\\\\\", L"{TEMP}\\x", L"C:\\T\\x"},
        {L"C:\\", L"{TEMP}\\x", L"C:\\x"},
        {L"C:\\T", L"{TEMP}\\x", L"C:\\T\\x"},
        // The strip can reach backslashes written before the placeholder...
        {L"\\", L"x\\\\{TEMP}y", L"xy"},
        {L"\\", L"x\\{TEMP}y", L"xy"},
        // ...but never goes before the start of the output.
        {L"\\\\", L"\\{TEMP}", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.temp)));
        fake_temp_folder = c.temp;
        Expansion e = expand(c.spec);
        EXPECT_TRUE(e.result);
        EXPECT_EQ(c.output, e.output);
    }
}

TEST_F(PathSpec, TemporaryFolderOfCapacityMinusOneUnitsFits) {
    // "C:\T\" is 5 units: after "ab", 8 units of capacity leave exactly 6.
    Expansion e = expand(L"ab{TEMP}", 8);
    EXPECT_TRUE(e.result);
    EXPECT_EQ(L"abC:\\T", e.output);
}

// An empty value would move the extraction folder to the root of the drive:
// a failed lookup fails the expansion instead.
TEST_F(PathSpec, FailedTemporaryFolderLookupFailsTheExpansion) {
    fake_temp_folder = nullptr;
    fake_temp_error = ERROR_PATH_NOT_FOUND;
    Expansion e = expand(L"a{TEMP}b");
    EXPECT_FALSE(e.result);
    EXPECT_EQ(L"a", e.output);
}

TEST_F(PathSpec, RealTemporaryFolderWithoutItsBackslash) {
    restore_system_calls();
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    ASSERT_GT(length, 1u);
    ASSERT_EQ(L'\\', temp[length - 1]);
    temp[length - 1] = 0;
    EXPECT_EQ(temp, expand(L"{TEMP}").output);
}

using PathSpecDeathTest = PathSpec;

TEST_F(PathSpecDeathTest, TemporaryFolderThatDoesNotFitStopsWithCode2) {
    // "C:\T\" and its terminator need 6 units; after "ab", 7 leave only 5.
    EXPECT_EXIT(
        {
            route_stdout_to_stderr();
            expand(L"ab{TEMP}", 7);
        },
        stopped_with_code_2(), "^Error, temporary folder path is too long\\.\r?\n$");
}

// A TMP too long for the system's own lookup, which then fails outright.
TEST_F(PathSpecDeathTest, TemporaryFolderRefusedAsTooLongStopsWithCode2) {
    EXPECT_EXIT(
        {
            fake_temp_folder = nullptr;
            fake_temp_error = ERROR_FILENAME_EXCED_RANGE;
            route_stdout_to_stderr();
            expand(L"{TEMP}\\x");
        },
        stopped_with_code_2(), "^Error, temporary folder path is too long\\.\r?\n$");
}

TEST_F(PathSpecDeathTest, RealTemporaryFolderThatDoesNotFitStopsWithCode2) {
    EXPECT_EXIT(
        {
            restore_system_calls();
            route_stdout_to_stderr();
            expand(L"{TEMP}", 4);
        },
        stopped_with_code_2(), "^Error, temporary folder path is too long\\.\r?\n$");
}

TEST_F(PathSpec, HomeAndCacheDirUseTheirShellFolders) {
    struct Case {
        const wchar_t* spec;
        int csidl;
    };
    for (const Case& c : {Case{L"{HOME}\\x", CSIDL_PROFILE}, Case{L"{cache_dir}\\x", CSIDL_LOCAL_APPDATA}}) {
        last_csidl = -1;
        Expansion e = expand(c.spec);
        EXPECT_TRUE(e.result);
        EXPECT_EQ(L"C:\\Users\\me\\x", e.output);
        EXPECT_EQ(c.csidl, last_csidl);
        EXPECT_EQ(static_cast<DWORD>(SHGFP_TYPE_CURRENT), last_shell_flags);
    }
}

TEST_F(PathSpec, FailedShellFolderFailsTheExpansion) {
    fake_shell_folder = nullptr;
    Expansion e = expand(L"ab{HOME}cd");
    EXPECT_FALSE(e.result);
    EXPECT_EQ(L"ab", e.output);
}

TEST_F(PathSpec, RealHomeFolderHasNoTrailingBackslash) {
    restore_system_calls();
    Expansion e = expand(L"{HOME}");
    ASSERT_TRUE(e.result);
    ASSERT_FALSE(e.output.empty());
    EXPECT_NE(L'\\', e.output.back());
}

TEST_F(PathSpec, AppendShellFolderMeasuresFromTheStartOfTheText) {
    fake_shell_folder = L"C:\\F";
    wchar_t output[7] = L"ab";
    EXPECT_TRUE(append_shell_folder(output, CSIDL_PROFILE, 7));
    EXPECT_STREQ(L"abC:\\F", output);
}

TEST_F(PathSpec, AppendShellFolderLeavesTheTextOnFailure) {
    fake_shell_folder = nullptr;
    wchar_t output[8] = L"ab";
    EXPECT_FALSE(append_shell_folder(output, CSIDL_PROFILE, 8));
    EXPECT_STREQ(L"ab", output);
}

TEST_F(PathSpecDeathTest, ShellFolderThatDoesNotFitAborts) {
    EXPECT_EXIT(
        {
            fake_shell_folder = L"C:\\F";
            wchar_t output[6] = L"ab";
            append_shell_folder(output, CSIDL_PROFILE, 6);
        },
        aborted, "");
}

// --- the program ----------------------------------------------------------------

TEST_F(PathSpec, ProgramBaseAndDirectory) {
    struct Case {
        const wchar_t* program;
        const wchar_t* base;
        const wchar_t* directory;
    };
    const Case cases[] = {
        {L"C:\\Apps\\Tool.EXE", L"C:\\Apps\\Tool", L"C:\\Apps"},
        {L"tool.EXE", L"tool", L"tool.EXE"},
        {L"tool.exe", L"tool", L"tool.exe"},
        {L"tool.exe.bak", L"tool.exe.bak", L"tool.exe.bak"},
        {L"exe", L"exe", L"exe"},
        {L".exe", L"", L".exe"},
        {L"tool.ex", L"tool.ex", L"tool.ex"},
        {L"toolxexe", L"toolxexe", L"toolxexe"},
        {L"\\tool.exe", L"\\tool", L""},
        {L"a/b.exe", L"a/b", L"a/b.exe"},
        {L"C:\\dir.exe\\tool", L"C:\\dir.exe\\tool", L"C:\\dir.exe"},
        {L"C:\\a\\b\\", L"C:\\a\\b\\", L"C:\\a\\b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.program)));
        use_program(c.program);
        EXPECT_EQ(c.program, expand(L"{PROGRAM}").output);
        EXPECT_EQ(c.base, expand(L"{PROGRAM_BASE}").output);
        EXPECT_EQ(c.directory, expand(L"{PROGRAM_DIR}").output);
    }
}

TEST_F(PathSpec, ProgramOfCapacityMinusOneUnitsFits) {
    // C:\Apps\Tool.EXE is 16 units.
    EXPECT_EQ(L"C:\\Apps\\Tool.EXE", expand(L"{PROGRAM}", 17).output);
    EXPECT_EQ(L"C:\\Apps\\Tool", expand(L"{PROGRAM_BASE}", 17).output);
}

TEST_F(PathSpecDeathTest, ProgramThatDoesNotFitStopsWithCode2) {
    for (const wchar_t* spec : {L"{PROGRAM}", L"{PROGRAM_BASE}", L"{PROGRAM_DIR}"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(spec)));
        EXPECT_EXIT(
            {
                route_stdout_to_stderr();
                expand(spec, 16);
            },
            stopped_with_code_2(), "^Error, program path is too long\\.\r?\n$");
    }
}

TEST_F(PathSpecDeathTest, MissingArgumentZeroAborts) {
    EXPECT_EXIT(
        {
            wchar_t* no_arguments[] = {nullptr};
            set_program_arguments(0, no_arguments);
            expand(L"{PROGRAM}");
        },
        aborted, "");
    EXPECT_EXIT(
        {
            set_program_arguments(0, nullptr);
            expand(L"{PROGRAM_DIR}");
        },
        aborted, "");
}

// --- the process id -------------------------------------------------------------

TEST_F(PathSpec, ParentIdFromTheEnvironmentOrOwnId) {
    const std::wstring own_id = std::to_wstring(GetCurrentProcessId());
    struct Case {
        const wchar_t* parent;  // null: variable absent
        std::wstring output;
    };
    const Case cases[] = {
        {nullptr, own_id},
        {L"", own_id},  // empty counts as absent
        {L"4242", L"4242"},
        {L"0042", L"0042"},  // appended unchanged, leading zeros included
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parent == nullptr ? "absent" : testing::PrintToString(std::wstring(c.parent)));
        SetEnvironmentVariableW(L"ZORVEK_ONEFILE_PARENT", c.parent);
        Expansion e = expand(L"<{PID}>");
        EXPECT_TRUE(e.result);
        EXPECT_EQ(L"<" + c.output + L">", e.output);
    }
}

TEST_F(PathSpecDeathTest, ParentIdWithAnythingButDigitsAborts) {
    for (const wchar_t* parent : {L"12a", L" 42", L"+42", L"-1", L"42 ", L"4 2", L"0x10"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(parent)));
        EXPECT_EXIT(
            {
                SetEnvironmentVariableW(L"ZORVEK_ONEFILE_PARENT", parent);
                expand(L"{PID}");
            },
            aborted, "");
    }
}

// --- values that do not fit -----------------------------------------------------

TEST_F(PathSpec, ValuesOfCapacityMinusOneUnitsFit) {
    env_write("ZORVEK_ONEFILE_RANDOM", L"IQHFT9HQGrI");
    EXPECT_EQ(L"Vellmore Limited", expand(L"{COMPANY}", 17).output);
    EXPECT_EQ(L"IQHFT9HQGrI", expand(L"{RANDOM}", 12).output);
}

TEST_F(PathSpecDeathTest, InternalValuesThatDoNotFitAbort) {
    // Build constants and generated parts: never code 2, never a false result.
    EXPECT_EXIT(expand(L"{COMPANY}", 16), aborted, "");
    EXPECT_EXIT(expand(L"x{VERSION}", 8), aborted, "");
    EXPECT_EXIT(expand(L"{RANDOM}", 11), aborted, "");
    EXPECT_EXIT(expand(L"{TIME_US}", 6), aborted, "");
    EXPECT_EXIT(
        {
            env_write("ZORVEK_ONEFILE_PARENT", L"4242");
            expand(L"{PID}", 4);
        },
        aborted, "");
}

}  // namespace
