// The folder specs onefile-build accepts for --cache-dir and --temp-dir, and
// the content key: what the launcher will expand and name in every run.
#include <gtest/gtest.h>

#include "format/cache_layout.h"
#include "image/launch_mode.h"

namespace {

struct SpecCase {
    const char* spec;
    const char* problem;  // nullptr: accepted
};

TEST(FolderSpec, AcceptsOnlyWhatEveryRunExpandsToTheSameAbsoluteFolder) {
    const std::string at_limit = "C:\\" + std::string(max_folder_spec_units - 3, 'x');
    const std::string past_limit = at_limit + "x";
    const SpecCase cases[] = {
        {"{CACHE_DIR}\\{COMPANY}\\{PRODUCT}", nullptr},
        {"{cache_dir}\\{Product}\\{VERSION}", nullptr},  // names in any letter case
        {"{CACHE_DIRX}", "names an unknown placeholder {CACHE_DIRX}"},
        {"{HOME}\\.apps\\{PRODUCT_VERSION}", nullptr},
        {"{TEMP}", nullptr},
        {"C:\\Apps\\{PRODUCT}", nullptr},
        {"\\\\server\\share\\apps", nullptr},
        {"C:\\a}b", nullptr},
        {at_limit.c_str(), nullptr},
        {past_limit.c_str(), "is longer than 1024 UTF-16 code units"},
        {"", "is empty"},
        {"{CACHE_DIR}\\{NOPE}", "names an unknown placeholder {NOPE}"},
        {"{CACHE_DIR}\\{}", "names an unknown placeholder {}"},
        {"{CACHE_DIR}\\{PID}", "uses {PID}, which changes in every run"},
        {"{CACHE_DIR}\\{random}", "uses {random}, which changes in every run"},
        {"{CACHE_DIR}\\{TIME_US}", "uses {TIME_US}"},
        {"{CACHE_DIR}\\{TIME}", "uses {TIME}"},
        {"{CACHE_DIR}\\{PRODUCT", "has a '{' that is not closed"},
        {"{CACHE_DIR}\\{A{PRODUCT}", "has a '{' that is not closed"},
        {"apps\\{PRODUCT}", "is not absolute after expansion"},
        {"{PRODUCT}\\cache", "is not absolute after expansion"},
        {"{PROGRAM_DIR}\\cache", "is not absolute after expansion"},
        {"\\apps", "is not absolute after expansion"},
        {"C:apps", "is not absolute after expansion"},
        {"C:\\a:b", "holds ':'"},
        {"C:\\a|b", "holds '|'"},
        {"C:\\a?b", "holds '?'"},
        {"C:\\a\tb", "holds a control character"},
        {"{CACHE_DIR}/apps", "holds '/'; separate folders with '\\'"},
        {"{CACHE_DIR}\\..\\apps", "has a '.' or '..' folder"},
        {"C:\\.\\apps", "has a '.' or '..' folder"},
        {"C:\\\xff", "is not valid UTF-8"},
    };
    for (const SpecCase& c : cases) {
        SCOPED_TRACE(c.spec);
        std::u16string out;
        std::string error;
        const bool accepted = check_folder_spec("--cache-dir", c.spec, out, error);
        if (c.problem == nullptr) {
            EXPECT_TRUE(accepted) << error;
            continue;
        }
        EXPECT_FALSE(accepted);
        EXPECT_EQ(error.rfind(std::string("--cache-dir '") + c.spec + "' ", 0), 0u) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(ContentKey, IsTheFirstHalfOfTheBlocksSha256InLowercaseDigits) {
    // Published SHA-256 test vectors, cut to 128 bits.
    const struct {
        std::string bytes;
        const char16_t* key;
    } cases[] = {
        {"", u"e3b0c44298fc1c149afbf4c8996fb924"},
        {"abc", u"ba7816bf8f01cfea414140de5dae2223"},
        {"a", u"ca978112ca1bbdcafac231b39a23dc4d"},
    };
    for (const auto& c : cases) {
        const std::vector<unsigned char> block(c.bytes.begin(), c.bytes.end());
        const std::u16string key = content_key_of(block);
        EXPECT_EQ(key, c.key) << c.bytes;
        EXPECT_TRUE(cache_layout::is_cache_entry_name((key + u'\0').c_str()));
    }
    EXPECT_NE(content_key_of({1, 2, 3}), content_key_of({1, 2, 4}));
}

TEST(ContentKey, NamesTheLauncherSweepsAreExactlyKeyPrefixed) {
    const struct {
        const char16_t* name;
        bool ours;
    } cases[] = {
        {u"0123456789abcdef0123456789abcdef", true},
        {u"0123456789abcdef0123456789abcdef.lock", true},
        {u"0123456789abcdef0123456789abcdef.staging-12-0", true},
        {u"0123456789abcdef0123456789abcdef.removing-12-0.lock", true},
        {u"0123456789abcdef0123456789abcde", false},
        {u"0123456789abcdef0123456789abcdef0", false},
        {u"0123456789ABCDEF0123456789ABCDEF", false},
        {u"0123456789abcdef0123456789abcdeg", false},
        {u"0123456789abcdef0123456789abcdef-x", false},
        {u"onefile_1_2_3", false},
        {u"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cache_layout::is_cache_entry_name(c.name), c.ours);
    }
}

}  // namespace
