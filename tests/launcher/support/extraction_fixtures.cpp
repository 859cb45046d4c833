#include "support/extraction_fixtures.h"

#include "support/process_fixtures.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

namespace extraction_fixtures {

namespace {

constexpr wchar_t root_variable[] = L"ONEFILE_EXTRACTION_TEST_ROOT";

std::wstring made_root;  // set only in the process that created the root

void remove_made_root() {
    if (!made_root.empty()) remove_tree(made_root);
}

std::wstring test_root() {
    wchar_t inherited[MAX_PATH + 1];
    DWORD length = GetEnvironmentVariableW(root_variable, inherited, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) return std::wstring(inherited, length);
    wchar_t temporary[MAX_PATH + 1];
    length = GetTempPathW(MAX_PATH + 1, temporary);
    std::wstring root =
        std::wstring(temporary, length) + L"onefile-extraction-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(root.c_str(), nullptr);
    SetEnvironmentVariableW(root_variable, root.c_str());
    made_root = root;
    std::atexit(remove_made_root);
    return root;
}

}  // namespace

std::wstring fresh_test_directory() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::wstring directory = test_root() + L"\\";
    for (char c : name) directory.push_back(c == '/' ? L'_' : static_cast<wchar_t>(c));
    remove_tree(directory);
    EXPECT_TRUE(CreateDirectoryW(directory.c_str(), nullptr)) << "error " << GetLastError();
    return directory;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

payload_fixtures::Bytes read_file(const std::wstring& path) {
    payload_fixtures::Bytes bytes;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot open for reading, error " << GetLastError();
        return bytes;
    }
    unsigned char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(file);
    return bytes;
}

void write_file(const std::wstring& path, const payload_fixtures::Bytes& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

void remove_tree(const std::wstring& path) {
    process_fixtures::remove_scratch_tree(path);
}

}  // namespace extraction_fixtures
