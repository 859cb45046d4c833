// The command line of onefile-build.
#include <gtest/gtest.h>

#include "image/build_options.h"

namespace {

struct Parsed {
    bool ok;
    BuildOptions options;
    std::string error;
};

Parsed parse(const std::vector<std::string>& arguments) {
    Parsed parsed;
    parsed.ok = parse_build_options(arguments, parsed.options, parsed.error);
    return parsed;
}

TEST(BuildOptions, DefaultsAndEveryOption) {
    Parsed p = parse({"--app-dir", "app", "--output", "out.exe"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.app_dir, "app");
    EXPECT_EQ(p.options.output, "out.exe");
    EXPECT_EQ(p.options.company, "Vellmore Limited");
    EXPECT_EQ(p.options.product, "Lumbrick");
    EXPECT_EQ(p.options.version, "1.0.0.0");
    EXPECT_EQ(p.options.level, 9);
    EXPECT_EQ(p.options.app_library, "");
    EXPECT_EQ(p.options.icon, "");

    p = parse({"--app-dir=a", "--output=o.exe", "--app-library", "x.dll", "--icon", "i.ico", "--company", "C",
               "--product", "P", "--version", "2.0", "--level", "3", "--kit", "k", "--save-payload-block", "b",
               "--verbose"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.app_dir, "a");
    EXPECT_EQ(p.options.app_library, "x.dll");
    EXPECT_EQ(p.options.icon, "i.ico");
    EXPECT_EQ(p.options.company, "C");
    EXPECT_EQ(p.options.product, "P");
    EXPECT_EQ(p.options.version, "2.0");
    EXPECT_EQ(p.options.level, 3);
    EXPECT_EQ(p.options.kit, "k");
    EXPECT_EQ(p.options.save_payload_block, "b");
    EXPECT_TRUE(p.options.verbose);
}

TEST(BuildOptions, PayloadBlockMakesTheAppFolderOptional) {
    Parsed p = parse({"--payload-block", "damaged.bin", "--output", "o.exe"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.options.payload_block, "damaged.bin");
}

TEST(BuildOptions, HelpWinsOverEverythingElse) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"--help"}, {"--bogus", "--help"}, {"-h"}}) {
        Parsed p = parse(arguments);
        EXPECT_TRUE(p.ok && p.options.help) << arguments[0];
    }
    const std::string help = build_help_text();
    for (const char* option :
         {"--app-dir", "--output", "--app-library", "--icon", "--company", "--product", "--version", "--level",
          "--payload-block", "--kit", "--save-payload-block", "--sign-cert", "--sign-key", "--sign-pkcs12",
          "--sign-password-file", "--sign-timestamp", "--sign-ca", "SOURCE_DATE_EPOCH"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

TEST(BuildOptions, MistakesGetOneClearMessage) {
    struct Case {
        std::vector<std::string> arguments;
        const char* problem;
    } const cases[] = {
        {{"--output", "o.exe"}, "--app-dir DIR is required"},
        {{"--app-dir", "a"}, "--output OUT.exe is required"},
        {{}, "--output OUT.exe is required"},
        {{"--app-dir", "a", "--output"}, "--output needs a value"},
        {{"--app-dir", "a", "--output", "o", "--bogus", "1"}, "unknown option '--bogus'"},
        {{"--app-dir", "a", "--output", "o", "stray"}, "unexpected argument 'stray'"},
        {{"--app-dir", "a", "--app-dir", "b", "--output", "o"}, "--app-dir is given more than once"},
        {{"--app-dir", "a", "--output", "o", "--level", "0"}, "--level must be a whole number from 1 to 22"},
        {{"--app-dir", "a", "--output", "o", "--level", "23"}, "--level must be"},
        {{"--app-dir", "a", "--output", "o", "--level", "-1"}, "--level must be"},
        {{"--app-dir", "a", "--output", "o", "--level", "x"}, "--level must be"},
        {{"--app-dir", "a", "--output", "o", "--level="}, "--level must be"},
        {{"--app-dir", "a", "--output", "o", "--verbose=yes"}, "unknown option '--verbose'"},
        {{"--app-dir", "a", "--output", "o", "--sign-cert", "c"}, "--sign-cert and --sign-key go together"},
        {{"--app-dir", "a", "--output", "o", "--sign-key", "k"}, "--sign-cert and --sign-key go together"},
        {{"--app-dir", "a", "--output", "o", "--sign-cert", "c", "--sign-key", "k", "--sign-pkcs12", "p"},
         "give it instead of --sign-cert and --sign-key"},
        {{"--app-dir", "a", "--output", "o", "--sign-password-file", "f"}, "need --sign-cert and --sign-key or"},
        {{"--app-dir", "a", "--output", "o", "--sign-ca", "c"}, "need --sign-cert and --sign-key or"},
        {{"--payload-block", "b", "--output", "o", "--sign-pkcs12", "p"}, "--payload-block cannot be signed"},
    };
    for (const auto& c : cases) {
        Parsed p = parse(c.arguments);
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.error.find(c.problem), std::string::npos) << "'" << p.error << "' lacks '" << c.problem << "'";
    }
    for (const char* level : {"1", "22"}) {
        Parsed p = parse({"--app-dir", "a", "--output", "o", "--level", level});
        EXPECT_TRUE(p.ok) << level << " " << p.error;
    }
}

}  // namespace
