// Our own removal of the extraction directory: whole trees with long paths and
// read-only files, the depth limit, links that must not be followed, and what
// stays when something cannot go.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/system_calls.h"
#include "platform/tree_removal.h"
#include "support/process_fixtures.h"

namespace {

using namespace process_fixtures;

// Paths beyond 260 units only work in this form.
std::wstring long_form(const std::wstring& path) {
    return L"\\\\?\\" + path;
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(long_form(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void make_directory(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(long_form(path).c_str(), nullptr)) << GetLastError();
}

void make_file(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    HANDLE file = CreateFileW(long_form(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
    DWORD written = 0;
    WriteFile(file, "data", 4, &written, nullptr);
    CloseHandle(file);
}

class TreeRemovalTest : public ::testing::Test {
  protected:
    void TearDown() override {
        restore_system_calls();
        // Links first (by the removal itself, which never follows them), so
        // the scratch clean-up below cannot reach through one.
        for (const std::wstring& folder : scratch_folders) {
            remove_directory_tree(folder.c_str());
            remove_scratch_tree(folder);
        }
    }

    std::wstring scratch(const std::wstring& prefix) {
        scratch_folders.push_back(make_scratch_directory(prefix));
        return scratch_folders.back();
    }

    std::vector<std::wstring> scratch_folders;
};

// --- whole trees -------------------------------------------------------------

TEST_F(TreeRemovalTest, TreeWithReadOnlyEntriesAndADeepPathIsRemovedWhole) {
    // The same tree, named in each form the removal accepts.
    struct Row {
        const char* name;
        std::wstring (*form)(const std::wstring&);
    } rows[] = {
        {"drive path", [](const std::wstring& path) { return path; }},
        {"trailing backslash", [](const std::wstring& path) { return path + L"\\"; }},
        {"forward slashes",
         [](const std::wstring& path) {
             std::wstring slashed = path;
             for (wchar_t& unit : slashed) {
                 if (unit == L'\\') unit = L'/';
             }
             return slashed;
         }},
        {"already prefixed", [](const std::wstring& path) { return long_form(path); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring root = scratch(L"tree_whole") + L"\\onefile \u00e4\u65e5 1_2_3";
        make_directory(root);
        make_directory(root + L"\\lib");
        make_directory(root + L"\\lib\\read-only folder");
        make_directory(root + L"\\empty");
        make_file(root + L"\\application.dll");
        make_file(root + L"\\lib\\read-only.txt", FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW(long_form(root + L"\\lib\\read-only folder").c_str(), FILE_ATTRIBUTE_READONLY);
        // Two folders of 150 units each: the file's path passes 300 units.
        const std::wstring deep = root + L"\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');
        make_directory(root + L"\\" + std::wstring(150, L'a'));
        make_directory(deep);
        make_file(deep + L"\\deep file.txt");
        ASSERT_GT((deep + L"\\deep file.txt").size(), 300u);
        ASSERT_TRUE(exists(deep + L"\\deep file.txt"));

        remove_directory_tree(row.form(root).c_str());
        EXPECT_FALSE(exists(root));
    }
}

// One chain of 1,025 folders (each named "d") with a file in the last two:
// the folder 1,024 levels down is emptied, the one below it is not.
TEST_F(TreeRemovalTest, FoldersUpTo1024LevelsDownAreEmptiedButNotDeeper) {
    const std::wstring root = scratch(L"tree_depth") + L"\\x";
    make_directory(root);
    std::wstring level_1024;
    std::wstring path = root;
    for (int level = 1; level <= 1025; ++level) {
        path += L"\\d";
        ASSERT_TRUE(CreateDirectoryW(long_form(path).c_str(), nullptr)) << "level " << level << ": " << GetLastError();
        if (level == 1024) level_1024 = path;
    }
    make_file(level_1024 + L"\\at_1024.txt");
    make_file(path + L"\\at_1025.txt");

    remove_directory_tree(root.c_str());
    EXPECT_FALSE(exists(level_1024 + L"\\at_1024.txt"));
    EXPECT_TRUE(exists(path + L"\\at_1025.txt"));
    EXPECT_TRUE(exists(root));

    // Only the content too deep stayed: without it, the rest goes.
    ASSERT_TRUE(DeleteFileW(long_form(path + L"\\at_1025.txt").c_str()));
    remove_directory_tree(root.c_str());
    EXPECT_FALSE(exists(root));
}

// --- nothing to remove -------------------------------------------------------

TEST_F(TreeRemovalTest, MissingDirectoryOrAPlainFileIsLeftAlone) {
    const std::wstring base = scratch(L"tree_missing");
    make_file(base + L"\\sibling.txt");
    remove_directory_tree((base + L"\\never_created").c_str());
    remove_directory_tree((base + L"\\sibling.txt").c_str());
    EXPECT_TRUE(exists(base + L"\\sibling.txt"));
    EXPECT_TRUE(exists(base));
}

// --- what cannot go ----------------------------------------------------------

TEST_F(TreeRemovalTest, FileHeldOpenStaysWithItsFoldersAndEverythingElseGoes) {
    const std::wstring root = scratch(L"tree_open") + L"\\onefile_open";
    make_directory(root);
    make_directory(root + L"\\held");
    make_directory(root + L"\\free");
    make_file(root + L"\\held\\open.dll");
    make_file(root + L"\\held\\closed.txt");
    make_file(root + L"\\free\\closed.txt");
    make_file(root + L"\\top.txt");
    HANDLE open = CreateFileW((root + L"\\held\\open.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, open);

    remove_directory_tree(root.c_str());
    EXPECT_TRUE(exists(root + L"\\held\\open.dll"));
    EXPECT_FALSE(exists(root + L"\\held\\closed.txt"));
    EXPECT_FALSE(exists(root + L"\\free"));
    EXPECT_FALSE(exists(root + L"\\top.txt"));

    CloseHandle(open);
    remove_directory_tree(root.c_str());
    EXPECT_FALSE(exists(root));
}

// --- links are removed, never followed ---------------------------------------

// A junction: a mount-point reparse point on an empty folder.
bool make_junction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        RemoveDirectoryW(link.c_str());
        return false;
    }
    const std::wstring substitute = L"\\??\\" + target;
    const USHORT substitute_bytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const USHORT print_bytes = static_cast<USHORT>(target.size() * sizeof(wchar_t));
    // Tag, data length, reserved; then the mount-point header: offsets and
    // lengths of the substitute and print names, which follow, each ended by a zero.
    std::vector<BYTE> buffer(8 + 8 + substitute_bytes + 2 + print_bytes + 2, 0);
    auto put16 = [&buffer](std::size_t at, USHORT value) { memcpy(&buffer[at], &value, 2); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(&buffer[0], &tag, 4);
    put16(4, static_cast<USHORT>(buffer.size() - 8));
    put16(8, 0);
    put16(10, substitute_bytes);
    put16(12, static_cast<USHORT>(substitute_bytes + 2));
    put16(14, print_bytes);
    memcpy(&buffer[16], substitute.c_str(), substitute_bytes);
    memcpy(&buffer[16 + substitute_bytes + 2], target.c_str(), print_bytes);
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      nullptr, 0, &returned, nullptr);
    CloseHandle(folder);
    if (!made) RemoveDirectoryW(link.c_str());
    return made != FALSE;
}

bool is_working_link(const std::wstring& link, const std::wstring& file_seen_through_it) {
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           exists(file_seen_through_it);
}

// A link to a folder, as a symbolic link or else as a junction; the empty
// text when this system can make neither (with why in `why`).
std::string make_directory_link(const std::wstring& link, const std::wstring& target, const std::wstring& probe) {
    std::string why;
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        if (is_working_link(link, probe)) return "";
        why = exists(link) ? "CreateSymbolicLinkW made a directory link that does not show as a reparse point; "
                           : "CreateSymbolicLinkW reported success but made nothing; ";
        // Never remove it by a walk that could follow it.
        RemoveDirectoryW(link.c_str());
        DeleteFileW(link.c_str());
        if (exists(link)) return why + "and it could not be removed";
    } else {
        why = "CreateSymbolicLinkW failed (" + std::to_string(GetLastError()) + "); ";
    }
    if (make_junction(link, target)) {
        if (is_working_link(link, probe)) return "";
        RemoveDirectoryW(link.c_str());
        return why + "a junction was made but does not work as one";
    }
    return why + "FSCTL_SET_REPARSE_POINT failed (" + std::to_string(GetLastError()) + ")";
}

TEST_F(TreeRemovalTest, LinkInsideToAnOutsideFolderIsRemovedAndItsTargetKept) {
    const std::wstring base = scratch(L"tree_link");
    const std::wstring outside = base + L"\\outside";
    const std::wstring root = base + L"\\onefile_link";
    make_directory(outside);
    make_file(outside + L"\\precious.txt");
    make_directory(root);
    make_file(root + L"\\application.dll");
    const std::string why = make_directory_link(root + L"\\link", outside, root + L"\\link\\precious.txt");
    if (!why.empty()) GTEST_SKIP() << "this system cannot make a directory link: " << why;

    remove_directory_tree(root.c_str());
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(exists(outside + L"\\precious.txt"));
}

TEST_F(TreeRemovalTest, DirectoryThatIsItselfALinkLosesOnlyTheLink) {
    const std::wstring base = scratch(L"tree_top_link");
    const std::wstring outside = base + L"\\outside";
    const std::wstring root = base + L"\\onefile_link";
    make_directory(outside);
    make_file(outside + L"\\precious.txt");
    const std::string why = make_directory_link(root, outside, root + L"\\precious.txt");
    if (!why.empty()) GTEST_SKIP() << "this system cannot make a directory link: " << why;

    remove_directory_tree(root.c_str());
    EXPECT_FALSE(exists(root));
    EXPECT_TRUE(exists(outside + L"\\precious.txt"));
}

// --- a folder swapped for a link during the removal (through the seam) -----

// Wine makes no junctions, so the swap is played through the seam: the handle
// opened on the chosen entry reports what a junction's handle would (a folder
// that is a reparse point), and the folder's real content stands for what
// the junction points to, outside the tree. Deleting the "junction" removes
// nothing on disk, as deleting a real one leaves its target.
std::wstring swapped;  // path of the entry that turned into a link
std::map<HANDLE, std::wstring> opened;
std::vector<std::wstring> opened_paths;
std::vector<std::wstring> links_deleted;

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

bool names(const std::wstring& path, const std::wstring& wanted) {
    return !wanted.empty() && path.size() >= wanted.size() &&
           _wcsicmp(path.c_str() + path.size() - wanted.size(), wanted.c_str()) == 0;
}

HANDLE WINAPI tracking_CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templ) {
    HANDLE handle = CreateFileW(name, access, share, security, disposition, flags, templ);
    opened_paths.push_back(name);
    if (handle != INVALID_HANDLE_VALUE) opened[handle] = name;
    return handle;
}

BOOL WINAPI swapped_GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID out, DWORD size) {
    if (!GetFileInformationByHandleEx(file, kind, out, size)) return FALSE;
    if (kind == FileBasicInfo && names(opened[file], swapped)) {
        static_cast<FILE_BASIC_INFO*>(out)->FileAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return TRUE;
}

BOOL WINAPI swapped_SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID in, DWORD size) {
    if (names(opened[file], swapped)) {
        if (kind == FileDispositionInfo) links_deleted.push_back(opened[file]);
        return TRUE;
    }
    return SetFileInformationByHandle(file, kind, in, size);
}

void play_the_swap_on(const std::wstring& entry) {
    swapped = entry;
    opened.clear();
    opened_paths.clear();
    links_deleted.clear();
    sys.CreateFileW = tracking_CreateFileW;
    sys.GetFileInformationByHandleEx = swapped_GetFileInformationByHandleEx;
    sys.SetFileInformationByHandle = swapped_SetFileInformationByHandle;
}

TEST_F(TreeRemovalTest, FolderSwappedForAJunctionIsRemovedAsALinkAndNothingBehindItIsTouched) {
    // Which entry turns into a link between the listing and its deletion.
    struct Row {
        const char* name;
        const wchar_t* entry;  // below the directory; empty: the directory itself
    } rows[] = {
        {"the directory itself", L""},
        {"a folder at the top", L"\\lib"},
        {"a folder two levels down", L"\\lib\\plugins"},
    };
    int files_behind_links = 0;
    int files_behind_links_removed = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring root = scratch(L"tree_swap") + L"\\onefile_swap";
        for (const wchar_t* folder : {L"", L"\\lib", L"\\lib\\plugins", L"\\lib\\plugins\\deeper"})
            make_directory(root + folder);
        const std::wstring link = root + row.entry;
        const std::wstring files[] = {L"\\application.dll", L"\\lib\\helper.dll", L"\\lib\\plugins\\precious.txt",
                                      L"\\lib\\plugins\\deeper\\precious.txt"};
        for (const std::wstring& file : files) make_file(root + file);

        play_the_swap_on(link);
        remove_directory_tree(root.c_str());
        restore_system_calls();

        EXPECT_EQ(std::vector<std::wstring>{long_form(link)}, links_deleted);
        const std::wstring inside_link = long_form(link) + L"\\";
        for (const std::wstring& path : opened_paths) {
            EXPECT_NE(0u, path.rfind(inside_link, 0)) << "opened behind the link: " << narrow(path);
        }
        // Behind the link everything stays; beside it everything goes.
        for (const std::wstring& file : files) {
            const bool behind = (root + file).rfind(link + L"\\", 0) == 0;
            if (behind) {
                ++files_behind_links;
                if (!exists(root + file)) ++files_behind_links_removed;
            }
            EXPECT_EQ(behind, exists(root + file)) << narrow(file);
        }
    }
    std::printf("a junction swapped in during the removal (3 places): %d of %d files behind it removed\n",
                files_behind_links_removed, files_behind_links);
}

// The attacker's other move: once the removal has gone into a folder, rename
// that folder away (to put a link in its place before the next path below it
// is opened). The held folder cannot be renamed.
std::wstring rename_from;
std::wstring rename_to;
DWORD rename_error = 0;
bool rename_tried = false;

HANDLE WINAPI renaming_CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templ) {
    if (!rename_tried && names(name, L"\\inner\\file.txt")) {
        rename_tried = true;
        rename_error = MoveFileW(long_form(rename_from).c_str(), long_form(rename_to).c_str()) ? 0 : GetLastError();
    }
    return CreateFileW(name, access, share, security, disposition, flags, templ);
}

TEST_F(TreeRemovalTest, FolderBeingEmptiedCannotBeRenamedAway) {
    const std::wstring base = scratch(L"tree_rename");
    const std::wstring root = base + L"\\onefile_rename";
    make_directory(root);
    make_directory(root + L"\\inner");
    make_file(root + L"\\inner\\file.txt");
    rename_from = root + L"\\inner";
    rename_to = base + L"\\moved";
    rename_tried = false;
    sys.CreateFileW = renaming_CreateFileW;

    remove_directory_tree(root.c_str());
    ASSERT_TRUE(rename_tried);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), rename_error);
    EXPECT_FALSE(exists(rename_to));
    EXPECT_FALSE(exists(root));
}

}  // namespace
