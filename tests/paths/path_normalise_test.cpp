// Path normalisation against real files in a scratch folder, and with faked
// system calls for the failures and forms Wine does not produce by itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "paths/path_normalise.h"
#include "support/test_support.h"

namespace {

constexpr DWORD path_capacity = 4096;

std::wstring temp_folder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length);
}

std::wstring current_directory() {
    wchar_t directory[path_capacity];
    GetCurrentDirectoryW(path_capacity, directory);
    return directory;
}

std::wstring short_form(const std::wstring& path) {
    wchar_t result[path_capacity];
    DWORD length = GetShortPathNameW(path.c_str(), result, path_capacity);
    return length == 0 || length >= path_capacity ? L"(none)" : result;
}

void create_file(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << testing::PrintToString(path);
    CloseHandle(file);
}

// GetFinalPathNameByHandleW, faked: writes the chosen text when it fits and
// returns its length, else returns the size it needs; null text: fails.
const wchar_t* fake_final_text = nullptr;

DWORD WINAPI fake_final_path(HANDLE, LPWSTR path, DWORD capacity, DWORD) {
    if (fake_final_text == nullptr) return 0;
    DWORD length = static_cast<DWORD>(wcslen(fake_final_text));
    if (capacity <= length) return length + 1;
    wcscpy(path, fake_final_text);
    return length;
}
FinalPathFunction find_fake_final_path() {
    return fake_final_path;
}
FinalPathFunction find_no_final_path() {
    return nullptr;
}

// GetShortPathNameW, faked in the ways the two-call protocol can go wrong.
enum class ShortMode { answer, fail_first, fail_second, grow };
ShortMode short_mode = ShortMode::answer;
const wchar_t* fake_short_text = L"";
int short_calls = 0;
std::wstring last_short_request;

DWORD WINAPI fake_get_short_path(LPCWSTR path, LPWSTR out, DWORD length) {
    ++short_calls;
    last_short_request = path;
    DWORD needed = static_cast<DWORD>(wcslen(fake_short_text)) + 1;
    if (short_mode == ShortMode::fail_first) return 0;
    if (out == nullptr) return needed;
    if (short_mode == ShortMode::fail_second) return 0;
    if (short_mode == ShortMode::grow) return needed + 5;
    if (length < needed) return needed;
    wcscpy(out, fake_short_text);
    return needed - 1;
}

DWORD WINAPI failing_get_full_path(LPCWSTR, DWORD, LPWSTR, LPWSTR*) {
    return 0;
}

// A scratch folder with a long-named directory and files, and the current
// directory put back afterwards.
class PathNormalise : public WithSystemCalls {
  protected:
    void SetUp() override {
        saved_directory = current_directory();
        work = temp_folder() + L"onefile_path_normalise_test";
        long_directory = work + L"\\Long Directory Name";
        long_file = long_directory + L"\\Long File Name.txt";
        plain_file = work + L"\\f.txt";
        CreateDirectoryW(work.c_str(), nullptr);
        CreateDirectoryW(long_directory.c_str(), nullptr);
        create_file(long_file);
        create_file(plain_file);
        fake_final_text = nullptr;
        short_mode = ShortMode::answer;
        fake_short_text = L"";
        short_calls = 0;
    }
    void TearDown() override {
        SetCurrentDirectoryW(saved_directory.c_str());
        DeleteFileW(long_file.c_str());
        DeleteFileW(plain_file.c_str());
        RemoveDirectoryW(long_directory.c_str());
        RemoveDirectoryW(work.c_str());
        WithSystemCalls::TearDown();
    }

    std::wstring saved_directory;
    std::wstring work;
    std::wstring long_directory;
    std::wstring long_file;
    std::wstring plain_file;
};

using PathNormaliseDeathTest = PathNormalise;

std::wstring resolved(const std::wstring& source, DWORD capacity = path_capacity) {
    std::wstring destination(capacity, L'#');
    resolve_final_path(destination.data(), source.c_str(), capacity, true);
    return destination.c_str();
}

std::wstring resolved_in_place(const std::wstring& source, DWORD capacity = path_capacity) {
    std::wstring buffer(capacity, L'#');
    wcscpy(buffer.data(), source.c_str());
    resolve_final_path(buffer.data(), buffer.data(), capacity, true);
    return buffer.c_str();
}

std::wstring shortened(const std::wstring& path, std::size_t capacity = path_capacity) {
    if (path.size() >= capacity) {
        ADD_FAILURE() << "the path itself must fit its buffer";
        return L"";
    }
    std::wstring buffer(capacity, L'#');
    wcscpy(buffer.data(), path.c_str());
    shorten_directory_part(buffer.data(), capacity);
    return buffer.c_str();
}

// --- make_directory_absolute -----------------------------------------------

constexpr std::size_t extraction_directory_capacity = 4096;
wchar_t extraction_directory[extraction_directory_capacity];

void make_absolute(const std::wstring& directory) {
    wcscpy(extraction_directory, directory.c_str());
    make_directory_absolute(extraction_directory, extraction_directory_capacity);
}

TEST_F(PathNormalise, RelativeExtractionDirectoryBecomesAbsolute) {
    ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
    make_absolute(L"sub\\..\\onefile_x");
    EXPECT_EQ(work + L"\\onefile_x", extraction_directory);
}

TEST_F(PathNormalise, AbsoluteExtractionDirectoryLosesDotComponentsOnly) {
    // No existence check, no change of case.
    make_absolute(L"C:\\Nowhere\\.\\Dir\\..\\Onefile_X");
    EXPECT_STREQ(L"C:\\Nowhere\\Onefile_X", extraction_directory);
}

// A relative path of the given length below C:\ (components of 100 units).
std::wstring relative_path_of_length(std::size_t length) {
    std::wstring path;
    while (path.size() + 100 < length) path += repeated(99, L'd') + L"\\";
    return path + repeated(length - path.size(), L'e');
}

TEST_F(PathNormalise, FullPathOf4095UnitsFits) {
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
    make_absolute(relative_path_of_length(4092));
    EXPECT_EQ(L"C:\\" + relative_path_of_length(4092), extraction_directory);
}

TEST_F(PathNormaliseDeathTest, FullPathOf4096UnitsStopsWithCode2) {
    EXPECT_EXIT(
        {
            SetCurrentDirectoryW(L"C:\\");
            route_stdout_to_stderr();
            make_absolute(relative_path_of_length(4093));
        },
        stopped_with_code_2(), "^Error, extraction folder path is too long\\.\r?\n$");
}

TEST_F(PathNormaliseDeathTest, FailedFullPathLookupAborts) {
    EXPECT_EXIT(
        {
            sys.GetFullPathNameW = failing_get_full_path;
            make_absolute(L"x");
        },
        aborted, "");
}

// --- resolve_final_path ---------------------------------------------------------

TEST_F(PathNormalise, WithoutResolveTheSourceIsCopiedExactly) {
    const std::wstring source = L"C:\\No Such\\..\\file.EXE";
    std::wstring destination(path_capacity, L'#');
    resolve_final_path(destination.data(), source.c_str(), path_capacity, false);
    EXPECT_EQ(source, destination.c_str());
}

TEST_F(PathNormalise, SourcesThatDoNotOpenComeBackUnchanged) {
    for (const std::wstring& source : {work + L"\\missing.exe", long_directory, work + L"\\.\\f.txt\\x"}) {
        SCOPED_TRACE(testing::PrintToString(source));
        EXPECT_EQ(source, resolved(source));
    }
}

TEST_F(PathNormalise, RealFileResolvesToItsPlainDrivePath) {
    // Wine reports \\?\C:\...: the prefix goes, the path stays.
    EXPECT_EQ(long_file, resolved(long_file));
    EXPECT_EQ(long_file, resolved_in_place(long_file));
}

TEST_F(PathNormalise, RealFileReachedThroughItsShortFormGetsItsLongName) {
    std::wstring short_path = short_form(long_file);
    ASSERT_NE(L"(none)", short_path);
    ASSERT_NE(long_file, short_path);
    EXPECT_EQ(long_file, resolved(short_path));
}

TEST_F(PathNormalise, PrefixedSourceComesBackWithoutThePrefix) {
    EXPECT_EQ(long_file, resolved(L"\\\\?\\" + long_file));
    EXPECT_EQ(long_file, resolved_in_place(L"\\\\?\\" + long_file));
}

TEST_F(PathNormalise, MissingFinalPathFunctionLeavesThePlainCopy) {
    sys.find_final_path_function = find_no_final_path;
    const std::wstring prefixed = L"\\\\?\\" + long_file;
    EXPECT_EQ(prefixed, resolved(prefixed));
}

TEST_F(PathNormalise, FailingFinalPathFunctionLeavesThePlainCopy) {
    sys.find_final_path_function = find_fake_final_path;
    fake_final_text = nullptr;
    EXPECT_EQ(plain_file, resolved(plain_file));
}

TEST_F(PathNormalise, PrefixRules) {
    sys.find_final_path_function = find_fake_final_path;
    struct Case {
        const wchar_t* final_path;
        const wchar_t* result;
    };
    const Case cases[] = {
        {L"\\\\?\\C:\\dir\\app.exe", L"C:\\dir\\app.exe"},
        {L"\\\\?\\UNC\\srv\\share\\app.exe", L"\\\\srv\\share\\app.exe"},
        {L"\\\\?\\Volume{0a1b2c3d-0000-0000-0000-100000000000}\\app.exe",
         L"\\\\?\\Volume{0a1b2c3d-0000-0000-0000-100000000000}\\app.exe"},
        {L"\\\\?\\C", L"\\\\?\\C"},
        {L"\\\\?\\", L"\\\\?\\"},
        {L"C:\\dir\\app.exe", L"C:\\dir\\app.exe"},
        {L"\\\\.\\C:\\app.exe", L"\\\\.\\C:\\app.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.final_path)));
        fake_final_text = c.final_path;
        EXPECT_EQ(c.result, resolved(plain_file));
        EXPECT_EQ(c.result, resolved_in_place(plain_file));
    }
}

TEST_F(PathNormalise, PrefixBeforeTheExactSourceGoesOnlyFromASeparateDestination) {
    ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
    sys.find_final_path_function = find_fake_final_path;
    fake_final_text = L"\\\\?\\f.txt";
    EXPECT_EQ(L"f.txt", resolved(L"f.txt"));
    EXPECT_EQ(L"\\\\?\\f.txt", resolved_in_place(L"f.txt"));
}

TEST_F(PathNormalise, FinalPathOfCapacityMinusOneUnitsFits) {
    ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
    sys.find_final_path_function = find_fake_final_path;
    fake_final_text = L"\\\\?\\C:\\abcdefgh";  // 15 units
    EXPECT_EQ(L"C:\\abcdefgh", resolved(L"f.txt", 16));
}

TEST_F(PathNormaliseDeathTest, FinalPathThatDoesNotFitStopsWithCode2) {
    EXPECT_EXIT(
        {
            SetCurrentDirectoryW(work.c_str());
            sys.find_final_path_function = find_fake_final_path;
            fake_final_text = L"\\\\?\\C:\\abcdefghi";  // 16 units
            route_stdout_to_stderr();
            resolved(L"f.txt", 16);
        },
        stopped_with_code_2(), "^Error, executable path is too long\\.\r?\n$");
}

TEST_F(PathNormaliseDeathTest, RealFinalPathThatDoesNotFitStopsWithCode2) {
    EXPECT_EXIT(
        {
            SetCurrentDirectoryW(work.c_str());
            route_stdout_to_stderr();
            resolved(L"f.txt", 8);
        },
        stopped_with_code_2(), "^Error, executable path is too long\\.\r?\n$");
}

// --- shorten_directory_part -------------------------------------------------------

TEST_F(PathNormalise, DirectoryPartIsShortenedAndTheLastComponentKept) {
    const std::wstring expected = short_form(long_directory) + L"\\Long File Name.txt";
    ASSERT_NE(long_file, expected) << "the scratch directory should have a short form";
    EXPECT_EQ(expected, shortened(long_file));
}

TEST_F(PathNormalise, PathEndingInBackslashKeepsIt) {
    EXPECT_EQ(short_form(long_directory) + L"\\", shortened(long_directory + L"\\"));
}

TEST_F(PathNormalise, PathWithoutBackslashIsShortenedWhole) {
    ASSERT_TRUE(SetCurrentDirectoryW(long_directory.c_str()));
    const std::wstring expected = short_form(L"Long File Name.txt");
    ASSERT_NE(L"(none)", expected);
    EXPECT_EQ(expected, shortened(L"Long File Name.txt"));
}

TEST_F(PathNormalise, PathWithoutBackslashGetsNothingAppended) {
    sys.GetShortPathNameW = fake_get_short_path;
    fake_short_text = L"LONGFI~1.TXT";
    EXPECT_EQ(L"LONGFI~1.TXT", shortened(L"Long File Name.txt"));
    EXPECT_EQ(L"Long File Name.txt", last_short_request);
}

TEST_F(PathNormalise, MissingDirectoryLeavesThePathUnchanged) {
    const std::wstring path = work + L"\\No Such Directory\\Long File Name.txt";
    EXPECT_EQ(path, shortened(path));
}

TEST_F(PathNormalise, FailureOnEitherCallKeepsTheLongDirectory) {
    sys.GetShortPathNameW = fake_get_short_path;
    fake_short_text = L"C:\\SHORT~1";
    for (ShortMode mode : {ShortMode::fail_first, ShortMode::fail_second}) {
        short_mode = mode;
        short_calls = 0;
        EXPECT_EQ(L"C:\\Long Directory\\app.exe", shortened(L"C:\\Long Directory\\app.exe"));
        EXPECT_EQ(mode == ShortMode::fail_first ? 1 : 2, short_calls);
    }
}

// A short form can be longer than the long one (a fake makes it so): the
// result C:\d\a.exe (10 units) must still fit its capacity of 12.
TEST_F(PathNormalise, ResultOfCapacityMinusOneUnitsFits) {
    sys.GetShortPathNameW = fake_get_short_path;
    fake_short_text = L"C:\\dd";
    EXPECT_EQ(L"C:\\dd\\a.exe", shortened(L"C:\\d\\a.exe", 12));
}

TEST_F(PathNormaliseDeathTest, ResultThatDoesNotFitStopsWithCode2) {
    // The re-appended last component, then the short form itself.
    for (const wchar_t* short_text : {L"C:\\ddd", L"C:\\ddddddddd"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(short_text)));
        EXPECT_EXIT(
            {
                sys.GetShortPathNameW = fake_get_short_path;
                fake_short_text = short_text;
                route_stdout_to_stderr();
                shortened(L"C:\\d\\a.exe", 12);
            },
            stopped_with_code_2(), "^Error, executable path is too long\\.\r?\n$");
    }
}

TEST_F(PathNormaliseDeathTest, PathGrowingBetweenTheTwoCallsAborts) {
    EXPECT_EXIT(
        {
            sys.GetShortPathNameW = fake_get_short_path;
            fake_short_text = L"C:\\SHORT~1";
            short_mode = ShortMode::grow;
            shortened(L"C:\\Long Directory\\app.exe");
        },
        aborted, "");
}

}  // namespace
