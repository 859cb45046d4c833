// Which names the packer lets into the archive, how it collects a folder and
// in what order the entries go.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "image/app_folder.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

struct NameCase {
    std::u16string name;
    const char* problem;  // nullptr: accepted; else a fragment of the message
};

std::u16string repeated(char16_t unit, std::size_t count) {
    return std::u16string(count, unit);
}

TEST(EntryNames, AcceptsOrRejectsEachName) {
    const NameCase cases[] = {
        {u"a.dll", nullptr},
        {u"dir\\sub\\file.txt", nullptr},
        {u"caf\u00e9 \u00fcber.txt", nullptr},
        {u".hidden", nullptr},
        {u"..name", nullptr},
        {u"CONSOLE", nullptr},
        {u"COM10", nullptr},
        {u"LPT", nullptr},
        {u"nul_", nullptr},
        {u"xcon.txt", nullptr},
        {repeated(u'a', 1022), nullptr},
        {repeated(u'a', 1023), nullptr},
        {repeated(u'a', 1024), "1024 UTF-16 code units"},
        // A character outside the BMP counts two code units.
        {repeated(u'a', 1021) + u"\U0001F600", nullptr},
        {repeated(u'a', 1022) + u"\U0001F600", "1024 UTF-16 code units"},
        {u"C:x", "drive letter"},
        {u"c:\\x", "drive letter"},
        {u"1:x", "colon"},
        {u"a:b", "drive letter"},  // drive-relative: "a:" then "b"
        {u"ab:c", "colon"},
        {u"dir\\file:stream", "colon"},
        {u"\\a", "begins with a backslash"},
        {u"a\\\\b", "empty component"},
        {u"a\\", "empty component"},
        {u".", "'.' or '..'"},
        {u"..", "'.' or '..'"},
        {u"a\\..\\b", "'.' or '..'"},
        {u".\\a", "'.' or '..'"},
        {u"a\\.", "'.' or '..'"},
        {u"CON", "device 'CON'"},
        {u"con.txt", "device 'con.txt'"},
        {u"dir\\NUL", "device"},
        {u"aux.tar.gz", "device"},
        {u"PRN", "device"},
        {u"COM1", "device"},
        {u"com0", "device"},
        {u"LPT9.log", "device"},
        {u"com\u00b9", "device"},
        {u"CONIN$", "device"},
        {u"conout$.txt", "device"},
        {u"NUL .txt", "device"},
        {u"a?b", "'?'"},
        {u"a*b", "'*'"},
        {u"a<b", "'<'"},
        {u"a>b", "'>'"},
        {u"a|b", "'|'"},
        {u"a\"b", "'\"'"},
        {u"a/b", "'/'"},
        {u"a\x01"
         u"b",
         "control character"},
        {u"a\x1f", "control character"},
        {u"name.", "ending in a dot or a space"},
        {u"name ", "ending in a dot or a space"},
        {u"dir.\\x", "ending in a dot or a space"},
    };
    for (const auto& c : cases) {
        const std::string problem = entry_name_problem(c.name);
        if (c.problem == nullptr) {
            EXPECT_EQ(problem, "") << narrow_text(c.name.substr(0, 40));
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos)
                << narrow_text(c.name.substr(0, 40)) << " -> '" << problem << "'";
        }
    }
}

std::vector<std::u16string> names_of(const std::vector<AppFile>& files) {
    std::vector<std::u16string> names;
    for (const auto& f : files) names.push_back(f.name);
    return names;
}

TEST(CollectAppFolder, NamesAreRelativeWithBackslashesAndSizesAreRecorded) {
    ScratchFolder scratch;
    write_text(scratch.path / "top.txt", "12345");
    write_text(scratch.path / "one" / "two" / "deep.bin", "");
    std::vector<AppFile> files;
    std::string error;
    ASSERT_TRUE(collect_app_folder(scratch.path, files, error)) << error;
    ASSERT_EQ(files.size(), 2u);
    ASSERT_TRUE(order_entries(files, u"top.txt", error)) << error;
    EXPECT_EQ(files[0].name, u"top.txt");
    EXPECT_EQ(files[0].size, 5u);
    EXPECT_EQ(files[1].name, u"one\\two\\deep.bin");
    EXPECT_EQ(files[1].size, 0u);
}

TEST(CollectAppFolder, LibraryFirstThenSortedByCodeUnits) {
    ScratchFolder scratch;
    for (const char* name : {"b.txt", "A.txt", "app.dll", "Z", "sub/z", "sub/a", "zz.dll"})
        write_text(scratch.path / name, "x");
    std::vector<AppFile> files;
    std::string error;
    ASSERT_TRUE(collect_app_folder(scratch.path, files, error)) << error;
    ASSERT_TRUE(order_entries(files, u"zz.dll", error)) << error;
    const std::vector<std::u16string> expected = {u"zz.dll", u"A.txt",  u"Z",     u"app.dll",
                                                  u"b.txt",  u"sub\\a", u"sub\\z"};
    EXPECT_EQ(names_of(files), expected);
}

TEST(CollectAppFolder, OrderDoesNotDependOnCreationOrder) {
    ScratchFolder first, second;
    const char* names[] = {"m", "c", "x/y", "a", "q"};
    for (const char* name : names) write_text(first.path / name, "1");
    for (auto it = std::rbegin(names); it != std::rend(names); ++it) write_text(second.path / *it, "1");
    std::vector<AppFile> a, b;
    std::string error;
    ASSERT_TRUE(collect_app_folder(first.path, a, error) && order_entries(a, u"q", error)) << error;
    ASSERT_TRUE(collect_app_folder(second.path, b, error) && order_entries(b, u"q", error)) << error;
    EXPECT_EQ(names_of(a), names_of(b));
}

TEST(CollectAppFolder, RefusesFoldersWithoutFiles) {
    ScratchFolder scratch;
    std::vector<AppFile> files;
    std::string error;
    EXPECT_FALSE(collect_app_folder(scratch.path, files, error));
    EXPECT_NE(error.find("holds no files"), std::string::npos) << error;
    fs::create_directories(scratch.path / "empty" / "deeper");
    EXPECT_FALSE(collect_app_folder(scratch.path, files, error));
    EXPECT_NE(error.find("holds no files"), std::string::npos) << error;
    EXPECT_FALSE(collect_app_folder(scratch.path / "missing", files, error));
    EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
    write_text(scratch.path / "file", "x");
    EXPECT_FALSE(collect_app_folder(scratch.path / "file", files, error));
    EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
}

TEST(CollectAppFolder, NameLengthLimitCountsTheWholeRelativePath) {
    // Four folders of 250 characters and their separators make 1004 units.
    for (const std::size_t file_length : {18u, 19u, 20u}) {
        ScratchFolder scratch;
        fs::path path = scratch.path;
        for (int i = 0; i < 4; ++i) path /= std::string(250, static_cast<char>('a' + i));
        write_text(path / std::string(file_length, 'f'), "x");
        std::vector<AppFile> files;
        std::string error;
        const bool accepted = collect_app_folder(scratch.path, files, error);
        EXPECT_EQ(accepted, 1004 + file_length <= 1023) << file_length << ": " << error;
        if (!accepted) EXPECT_NE(error.find("1024 UTF-16 code units"), std::string::npos) << error;
    }
}

TEST(CollectAppFolder, FollowsLinksToFilesAndRefusesOtherSpecialEntries) {
    ScratchFolder scratch;
    write_text(scratch.path / "outside" / "real.txt", "abc");
    const fs::path app = scratch.path / "app";
    fs::create_directories(app);
    fs::create_symlink(scratch.path / "outside" / "real.txt", app / "linked.txt");
    std::vector<AppFile> files;
    std::string error;
    ASSERT_TRUE(collect_app_folder(app, files, error)) << error;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, u"linked.txt");
    EXPECT_EQ(files[0].size, 3u);

    fs::create_directory_symlink(scratch.path / "outside", app / "folder-link");
    EXPECT_FALSE(collect_app_folder(app, files, error));
    EXPECT_NE(error.find("link to a folder"), std::string::npos) << error;
    fs::remove(app / "folder-link");

    fs::create_symlink(scratch.path / "nowhere", app / "dangling");
    EXPECT_FALSE(collect_app_folder(app, files, error));
    EXPECT_NE(error.find("broken link"), std::string::npos) << error;
    fs::remove(app / "dangling");

    ASSERT_EQ(mkfifo((app / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(collect_app_folder(app, files, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(CollectAppFolder, RefusesPosixNamesWindowsCannotHold) {
    struct Case {
        std::string name;
        const char* problem;
    } const cases[] = {
        {"back\\slash.txt", "contains a backslash"},
        {std::string("bad\xff.txt"), "not valid UTF-8"},
        {std::string("over\xc0\xaflong"), "not valid UTF-8"},
        {"C:x", "contains a colon"},  // below the top, a colon like any other
        {"nul.txt", "device"},
        {"trailing.", "ending in a dot"},
        {"what?", "'?'"},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch;
        write_text(scratch.path / "sub" / c.name, "x");
        std::vector<AppFile> files;
        std::string error;
        EXPECT_FALSE(collect_app_folder(scratch.path, files, error)) << c.name;
        EXPECT_NE(error.find(c.problem), std::string::npos) << c.name << " -> " << error;
    }
}

TEST(CollectAppFolder, RefusesUnreadableFiles) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    ScratchFolder scratch;
    write_text(scratch.path / "secret.bin", "x");
    fs::permissions(scratch.path / "secret.bin", fs::perms::none);
    std::vector<AppFile> files;
    std::string error;
    EXPECT_FALSE(collect_app_folder(scratch.path, files, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
}

TEST(NameCollisions, NamesThatWouldMeetOnWindowsAreRefused) {
    struct Case {
        std::vector<std::u16string> names;
        bool collides;
    } const cases[] = {
        {{u"a.txt", u"b.txt"}, false},          {{u"A.txt", u"a.txt"}, true},
        {{u"dir\\X.dll", u"DIR\\x.DLL"}, true}, {{u"Data", u"data\\table.bin"}, true},
        {{u"data\\x", u"DATA\\y"}, false},                                        // folders merge, files stay apart
        {{u"caf\u00e9", u"CAF\u00c9"}, true},   {{u"\u0101", u"\u0100"}, true},   // Latin Extended-A pairs
        {{u"\u013a", u"\u0139"}, true},         {{u"\u03c3", u"\u03a3"}, true},   // Greek
        {{u"\u0444", u"\u0424"}, true},                                           // Cyrillic
        {{u"\u0451", u"\u0401"}, true},         {{u"\u00f7", u"\u00d7"}, false},  // division and multiplication signs
        {{u"\u4e00", u"\u4e01"}, false},
    };
    for (const auto& c : cases) {
        std::vector<AppFile> files;
        for (const auto& name : c.names) files.push_back({name, {}, 0});
        std::string error;
        EXPECT_EQ(!check_name_collisions(files, error), c.collides) << narrow_text(c.names[0]) << " " << error;
    }
}

TEST(OrderEntries, LibraryMustBeATopLevelFileOfTheFolder) {
    std::vector<AppFile> files = {{u"sub\\app.dll", {}, 0}, {u"b", {}, 0}};
    std::string error;
    EXPECT_FALSE(order_entries(files, u"sub\\app.dll", error));
    EXPECT_NE(error.find("top level"), std::string::npos) << error;
    EXPECT_FALSE(order_entries(files, u"app.dll", error));
    EXPECT_NE(error.find("is not in the application folder"), std::string::npos) << error;
    EXPECT_FALSE(order_entries(files, u"B", error)) << "names match exactly";
}

}  // namespace
