// The cached mode's folder: cold and warm starts, every kind of damage, a
// rival that publishes at the very moment of the rename (through the seam),
// the sweep and the locks. A live run's folder left alone is shown end to end
// (tests/e2e/cached_mode_test.cpp). The linked test payload holds one entry,
// app.dll = "hello".
#include "launcher/cache_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "launcher/cache_record.h"
#include "launcher/cache_sweep.h"
#include "launcher/extraction.h"
#include "launcher/folder_lock.h"
#include "platform/system_calls.h"
#include "support/extraction_fixtures.h"
#include "tests/support/scratch_tree.h"

namespace {

using extraction_fixtures::exists;
using extraction_fixtures::read_file;
using extraction_fixtures::write_file;

constexpr wchar_t key[] = L"000000000000000000000000000000aa";
constexpr wchar_t other_key[] = L"000000000000000000000000000000bb";
const payload_fixtures::Bytes hello = {'h', 'e', 'l', 'l', 'o'};

using test_support::names_in;

// One run's state; its locks go when the run "ends" (the object goes).
struct CacheRun {
    std::unique_ptr<RunState> state = std::make_unique<RunState>();
    CachedFolder& folder = state->cached;
    CacheRun() { reset_run_state(*state); }
    ~CacheRun() {
        release_lock(folder.final_lock);
        release_lock(folder.staging_lock);
        reset_run_state(*state);
    }
};

int moves = 0;
std::wstring rival_folder;

BOOL WINAPI counting_MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    ++moves;
    return MoveFileExW(from, to, flags);
}

// A rival run publishes its complete copy just before this run's rename.
BOOL WINAPI rival_first_MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (!rival_folder.empty()) {
        EXPECT_TRUE(MoveFileExW(rival_folder.c_str(), to, 0));
        rival_folder.clear();
    }
    return MoveFileExW(from, to, flags);
}

int refusals_left = 0;

// Windows refuses to rename a folder while a scanner holds a file in it.
BOOL WINAPI busy_MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (refusals_left > 0) {
        --refusals_left;
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return MoveFileExW(from, to, flags);
}

void WINAPI no_Sleep(DWORD) {}

class CacheFolder : public ::testing::Test {
  protected:
    std::wstring root;
    std::wstring final_folder;

    void SetUp() override {
        restore_system_calls();
        root = extraction_fixtures::fresh_test_directory() + L"\\cache";
        final_folder = root + L"\\" + key;
        moves = 0;
    }
    void TearDown() override { restore_system_calls(); }

    std::unique_ptr<CacheRun> open(const wchar_t* build_key = key) {
        auto run = std::make_unique<CacheRun>();
        open_cached_folder(*run->state, root.c_str(), build_key);
        return run;
    }
    std::wstring in_use(const CacheRun& run) const { return run.folder.in_use; }
    // What the cache folder holds besides this build's folder and its lock.
    std::set<std::wstring> leftovers() const {
        std::set<std::wstring> names = names_in(root);
        names.erase(key);
        names.erase(std::wstring(key) + L".lock");
        return names;
    }
};

TEST_F(CacheFolder, ColdStartPublishesWarmStartOnlyChecks) {
    auto cold = open();
    EXPECT_EQ(in_use(*cold), final_folder);
    EXPECT_STREQ(cold->folder.first_entry, L"app.dll");
    EXPECT_EQ(read_file(final_folder + L"\\app.dll"), hello);
    EXPECT_EQ(names_in(final_folder), (std::set<std::wstring>{L"app.dll", L".onefile-record"}));
    EXPECT_TRUE(leftovers().empty());

    sys.MoveFileExW = counting_MoveFileExW;
    auto warm = open();
    EXPECT_EQ(in_use(*warm), final_folder);
    EXPECT_STREQ(warm->folder.first_entry, L"app.dll");
    EXPECT_EQ(moves, 0);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CacheFolder, DamagedFolderNobodyUsesIsRepairedInPlace) {
    const struct {
        const char* what;
        void (*damage)(const std::wstring& folder);
    } cases[] = {
        {"library missing", [](const std::wstring& f) { DeleteFileW((f + L"\\app.dll").c_str()); }},
        {"library cut short",
         [](const std::wstring& f) {
             write_file(f + L"\\app.dll", {'h', 'e'});
         }},
        {"library grown",
         [](const std::wstring& f) {
             write_file(f + L"\\app.dll", {'h', 'e', 'l', 'l', 'o', '!'});
         }},
        {"library is a folder",
         [](const std::wstring& f) {
             DeleteFileW((f + L"\\app.dll").c_str());
             CreateDirectoryW((f + L"\\app.dll").c_str(), nullptr);
         }},
        {"record missing", [](const std::wstring& f) { DeleteFileW((f + L"\\.onefile-record").c_str()); }},
        {"record empty", [](const std::wstring& f) { write_file(f + L"\\.onefile-record", {}); }},
        {"record of another build",
         [](const std::wstring& f) {
             auto record = read_file(f + L"\\.onefile-record");
             record[4 + 31] = 'b';
             write_file(f + L"\\.onefile-record", record);
         }},
        {"record cut short",
         [](const std::wstring& f) {
             auto record = read_file(f + L"\\.onefile-record");
             record.resize(record.size() - 2);
             write_file(f + L"\\.onefile-record", record);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        open();
        c.damage(final_folder);
        auto repaired = open();
        EXPECT_EQ(in_use(*repaired), final_folder);
        EXPECT_EQ(read_file(final_folder + L"\\app.dll"), hello);
        EXPECT_TRUE(leftovers().empty());
        EXPECT_TRUE(folder_matches_record(final_folder.c_str(), key, repaired->folder.first_entry));
    }
}

TEST_F(CacheFolder, RivalThatPublishesFirstWinsAndStagingGoes) {
    open();
    rival_folder = root + L"\\rival";
    write_file(final_folder + L"\\from-the-rival.txt", hello);  // not in the record: extra files are allowed
    ASSERT_TRUE(MoveFileExW(final_folder.c_str(), rival_folder.c_str(), 0));
    sys.MoveFileExW = rival_first_MoveFileExW;
    auto late = open();
    EXPECT_EQ(in_use(*late), final_folder);
    EXPECT_TRUE(exists(final_folder + L"\\from-the-rival.txt"));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(CacheFolder, RenameRefusedForAMomentIsRetriedThenLeftToAPrivateCopy) {
    sys.MoveFileExW = busy_MoveFileExW;
    sys.Sleep = no_Sleep;
    const std::wstring base = root;
    const struct {
        int refusals;
        bool published;
    } cases[] = {{1, true}, {20, true}, {1000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusals);
        root = base + L"\\" + std::to_wstring(c.refusals);
        final_folder = root + L"\\" + key;
        refusals_left = c.refusals;
        auto run = open();
        EXPECT_EQ(in_use(*run) == final_folder, c.published) << in_use(*run);
        EXPECT_EQ(exists(final_folder), c.published);
        EXPECT_EQ(read_file(in_use(*run) + L"\\app.dll"), hello);
    }
}

TEST_F(CacheFolder, SweepRemovesOnlyUnheldFoldersOfTheCachedModesNames) {
    auto own = open();
    const std::wstring other = root + L"\\" + other_key;
    const std::wstring held_other = root + L"\\000000000000000000000000000000cc";
    const std::wstring dead_staging = final_folder + L".staging-999999-0";
    const std::wstring dead_removal = root + L"\\000000000000000000000000000000dd.removing-1-2";
    for (const std::wstring& folder : {other, held_other, dead_staging, dead_removal}) {
        CreateDirectoryW(folder.c_str(), nullptr);
        write_file(folder + L"\\file.dll", hello);
    }
    write_file(root + L"\\000000000000000000000000000000ee.lock", {});  // a lock whose folder is gone
    const std::wstring unrelated[] = {L"notes", L"ABCDEF0123456789ABCDEF0123456789",
                                      L"000000000000000000000000000000ff0", L"0000000000000-ff"};
    for (const std::wstring& name : unrelated) CreateDirectoryW((root + L"\\" + name).c_str(), nullptr);
    HANDLE live_run = open_shared_lock(held_other.c_str());
    ASSERT_NE(live_run, nullptr);

    sweep_cache_folder(own->folder);
    std::set<std::wstring> expected(std::begin(unrelated), std::end(unrelated));
    expected.insert({L"000000000000000000000000000000cc", L"000000000000000000000000000000cc.lock"});
    EXPECT_EQ(leftovers(), expected);
    EXPECT_EQ(read_file(final_folder + L"\\app.dll"), hello);
    release_lock(live_run);
}

TEST(FolderLock, SharedUseExcludesSoleUseAndPrivateNamesAreTakenOnce) {
    const std::wstring folder = extraction_fixtures::fresh_test_directory() + L"\\f";
    HANDLE first = open_shared_lock(folder.c_str());
    HANDLE second = open_shared_lock(folder.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(open_exclusive_lock(folder.c_str()), nullptr);
    release_lock(first);
    EXPECT_EQ(open_exclusive_lock(folder.c_str()), nullptr);
    release_lock(second);
    HANDLE sole = open_exclusive_lock(folder.c_str());
    ASSERT_NE(sole, nullptr);
    EXPECT_EQ(open_shared_lock(folder.c_str()), nullptr);
    release_lock(sole);
    EXPECT_FALSE(exists(folder + L".lock"));  // sole use removes the lock file

    HANDLE mine = create_private_lock(folder.c_str());
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(create_private_lock(folder.c_str()), nullptr);
    EXPECT_EQ(open_exclusive_lock(folder.c_str()), nullptr);
    release_lock(mine);
    EXPECT_FALSE(exists(folder + L".lock"));
    mine = create_private_lock(folder.c_str());
    EXPECT_NE(mine, nullptr);
    release_lock(mine);

    wchar_t path[12];
    EXPECT_TRUE(folder_lock_path(path, L"C:\\abc", 12));  // 6 + 5 units and the terminator
    EXPECT_STREQ(path, L"C:\\abc.lock");
    EXPECT_FALSE(folder_lock_path(path, L"C:\\abcd", 12));
}

}  // namespace
