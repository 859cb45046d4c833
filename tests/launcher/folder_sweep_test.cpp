// The sweep of ended runs' folders: which names are runs' folders, what a
// sweep removes and leaves (never a live run's, held by its marker), and its
// bounds.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "launcher/folder_sweep.h"
#include "launcher/run_folder_name.h"
#include "launcher/run_marker.h"
#include "platform/system_calls.h"
#include "support/process_fixtures.h"

namespace {

using namespace process_fixtures;

TEST(RunFolderName, OnlyNamesTheExtractionDirectorySpecGivesAreRunFolders) {
    struct Row {
        const wchar_t* name;
        bool is_run_folder;
    } rows[] = {
        {L"onefile_1234_000042_AbC-_0123xy", true},
        {L"onefile_4294967295_999999_zzzzzzzzzzz", true},    // ten digits of id
        {L"onefile_1_000000____________", true},             // '_' is a base64url character
        {L"onefile_12345678901_000000_AAAAAAAAAAA", false},  // eleven digits of id
        {L"onefile__000000_AAAAAAAAAAA", false},             // no id
        {L"onefile_12_00000_AAAAAAAAAAA", false},            // five digits of time
        {L"onefile_12_0000000_AAAAAAAAAAA", false},          // seven
        {L"onefile_12_000000_AAAAAAAAAA", false},            // ten random characters
        {L"onefile_12_000000_AAAAAAAAAAAA", false},          // twelve
        {L"onefile_12_000000_AAAAAAAAA+A", false},           // not base64url
        {L"onefile_12_000000_AAAAAAAAAAA.live", false},      // a marker
        {L"OneFile_12_000000_AAAAAAAAAAA", false},
        {L"onefile_cache", false},
        {L"onefile_", false},
        {L"", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.is_run_folder, is_run_folder_name(row.name)) << testing::PrintToString(std::wstring(row.name));
    }
}

// --- the sweep ---------------------------------------------------------------

SweepBuffers buffers;

class SweepTest : public ::testing::Test {
  protected:
    void SetUp() override { base = make_scratch_directory(L"sweep"); }
    void TearDown() override {
        restore_system_calls();
        for (HANDLE marker : held) CloseHandle(marker);
        remove_scratch_tree(base);
    }

    std::wstring run_folder(int serial) const {
        wchar_t random[12];
        swprintf(random, 12, L"R%010d", serial);
        return base + L"\\onefile_" + std::to_wstring(4000 + serial) + L"_123456_" + random;
    }
    static std::wstring marker_of(const std::wstring& folder) { return folder + L".live"; }

    // A folder with a little content, like an unpacked application.
    void make_folder(const std::wstring& folder) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((folder + L"\\lib").c_str(), nullptr));
        write_scratch_file(folder + L"\\app.dll", "MZ");
        write_scratch_file(folder + L"\\lib\\data.bin", "data");
    }
    // A run that is over: its folder and a marker that nobody holds.
    void make_ended_run(const std::wstring& folder) {
        HANDLE marker = hold_run_marker(marker_of(folder).c_str());
        ASSERT_NE(INVALID_HANDLE_VALUE, marker);
        make_folder(folder);
        CloseHandle(marker);
    }
    void make_live_run(const std::wstring& folder) {
        HANDLE marker = hold_run_marker(marker_of(folder).c_str());
        ASSERT_NE(INVALID_HANDLE_VALUE, marker);
        held.push_back(marker);
        make_folder(folder);
    }

    std::wstring base;
    std::vector<HANDLE> held;
};

TEST_F(SweepTest, RemovesOnlyEndedRunsFoldersAndTheirMarkers) {
    const std::wstring own = run_folder(0);
    const std::wstring ended = run_folder(1);
    const std::wstring live = run_folder(2);
    const std::wstring unmarked = run_folder(3);
    const std::wstring stuck = run_folder(4);
    const std::wstring not_named_like_a_run = base + L"\\onefile_cache";
    const std::wstring file_named_like_a_run = run_folder(5);
    make_live_run(own);
    make_ended_run(ended);
    make_live_run(live);
    make_folder(unmarked);
    make_ended_run(stuck);
    HANDLE open_inside =
        CreateFileW((stuck + L"\\app.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, open_inside);
    make_ended_run(not_named_like_a_run);
    write_scratch_file(file_named_like_a_run, "not a folder");
    write_scratch_file(marker_of(file_named_like_a_run), "");

    EXPECT_EQ(1, sweep_ended_runs(own.c_str(), buffers));

    struct Row {
        const wchar_t* what;
        const std::wstring& path;
        bool stays;
        bool marker_stays;
    } rows[] = {
        {L"this run's own folder", own, true, true},
        {L"an ended run", ended, false, false},
        {L"a live run", live, true, true},
        {L"a folder without a marker", unmarked, true, false},
        {L"an ended run with a file still open", stuck, true, true},
        {L"a folder not named like a run's", not_named_like_a_run, true, true},
        {L"a file named like a run's folder", file_named_like_a_run, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.what)));
        EXPECT_EQ(row.stays, path_exists(row.path));
        EXPECT_EQ(row.marker_stays, path_exists(marker_of(row.path)));
        if (row.stays && path_exists(row.path + L"\\lib")) EXPECT_TRUE(path_exists(row.path + L"\\lib\\data.bin"));
    }

    // The stuck folder goes at a later start, once nothing holds its file.
    CloseHandle(open_inside);
    EXPECT_EQ(1, sweep_ended_runs(own.c_str(), buffers));
    EXPECT_FALSE(path_exists(stuck));
    EXPECT_FALSE(path_exists(marker_of(stuck)));
}

TEST_F(SweepTest, OneSweepRemovesAtMostSixteenFolders) {
    struct Row {
        int ended;
        int removed;
    } rows[] = {{sweep_removal_limit - 1, sweep_removal_limit - 1},
                {sweep_removal_limit, sweep_removal_limit},
                {sweep_removal_limit + 1, sweep_removal_limit}};
    int serial = 100;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ended);
        for (int i = 0; i < row.ended; ++i) make_ended_run(run_folder(serial++));
        const int removed = sweep_ended_runs(run_folder(0).c_str(), buffers);
        EXPECT_EQ(row.removed, removed);
        // What is left goes at the next start.
        EXPECT_EQ(row.ended - removed, sweep_ended_runs(run_folder(0).c_str(), buffers));
    }
}

TEST_F(SweepTest, AMarkerWhoseFolderIsGoneGoesOnceNobodyHoldsIt) {
    const std::wstring orphan = run_folder(1);    // ended between its folder and its marker
    const std::wstring starting = run_folder(2);  // holds its marker, folder not made yet
    HANDLE marker = hold_run_marker(marker_of(orphan).c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, marker);
    CloseHandle(marker);
    HANDLE starting_marker = hold_run_marker(marker_of(starting).c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, starting_marker);
    held.push_back(starting_marker);
    write_scratch_file(base + L"\onefile_cache.live", "");  // not named like a run's marker

    EXPECT_EQ(0, sweep_ended_runs(run_folder(0).c_str(), buffers));  // counts folders only
    EXPECT_FALSE(path_exists(marker_of(orphan)));
    EXPECT_TRUE(path_exists(marker_of(starting)));
    EXPECT_TRUE(path_exists(base + L"\onefile_cache.live"));
}

int marker_opens = 0;
HANDLE WINAPI counting_CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templ) {
    const std::wstring path = name;
    if (path.size() > 5 && path.compare(path.size() - 5, 5, L".live") == 0) ++marker_opens;
    return CreateFileW(name, access, share, security, disposition, flags, templ);
}

TEST_F(SweepTest, OneSweepLooksAtMostAtSixtyFourFolders) {
    for (int i = 1; i <= sweep_look_limit + 6; ++i) make_live_run(run_folder(i));
    marker_opens = 0;
    sys.CreateFileW = counting_CreateFileW;
    EXPECT_EQ(0, sweep_ended_runs(run_folder(0).c_str(), buffers));
    EXPECT_EQ(sweep_look_limit, marker_opens);
}

}  // namespace
