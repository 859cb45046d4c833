// Every input the launcher could not unpack safely is refused by the packer
// with one line on standard error and exit code 2, and no block is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

struct Refusal {
    const char* what;
    std::function<void(const fs::path& app)> arrange;
    std::vector<std::string> extra_arguments;
    const char* message;
};

void expect_one_error_line(const ProcessResult& result, const char* program, const char* message) {
    EXPECT_EQ(result.exit_code, 2) << result.output;
    EXPECT_EQ(result.output.rfind(std::string(program) + ": error: ", 0), 0u) << result.output;
    EXPECT_NE(result.output.find(message), std::string::npos) << "'" << result.output << "' lacks '" << message << "'";
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
}

TEST(PackerRefusals, EachBadInputGetsExitCodeTwoAndOneLine) {
    const auto library = [](const fs::path& app) { fs::copy_file(fixture("app_library.dll"), app / "app.dll"); };
    const Refusal refusals[] = {
        {"empty folder", [](const fs::path&) {}, {}, "holds no files"},
        {"only empty folders",
         [](const fs::path& app) { fs::create_directories(app / "a" / "b"); },
         {},
         "holds no files"},
        {"name of 1024 units",
         [&](const fs::path& app) {
             library(app);
             fs::path path = app;
             for (int i = 0; i < 4; ++i) path /= std::string(250, 'd');
             write_text(path / std::string(20, 'f'), "x");
         },
         {},
         "is 1024 UTF-16 code units long; at most 1023 fit"},
        {"device name",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "sub" / "con.txt", "x");
         },
         {},
         "names the device 'con.txt'"},
        {"drive letter",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "C:evil", "x");
         },
         {},
         "begins with a drive letter"},
        {"colon",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "ab:c", "x");
         },
         {},
         "contains a colon"},
        {"backslash",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "..\\up", "x");
         },
         {},
         "contains a backslash"},
        {"trailing dot",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "name.", "x");
         },
         {},
         "ending in a dot"},
        {"not UTF-8",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "\xfe", "x");
         },
         {},
         "not valid UTF-8"},
        {"case clash",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "a.txt", "1");
             write_text(app / "A.TXT", "2");
         },
         {},
         "would be the same file on Windows"},
        {"folder link",
         [&](const fs::path& app) {
             library(app);
             fs::create_directory_symlink(app.parent_path(), app / "loop");
         },
         {},
         "is a link to a folder"},
        {"fifo",
         [&](const fs::path& app) {
             library(app);
             mkfifo((app / "pipe").c_str(), 0600);
         },
         {},
         "is not a regular file"},
        {"missing library",
         library,
         {"--app-library", "nothere.dll"},
         "'nothere.dll' is not in the application folder"},
        {"library in a subfolder",
         [&](const fs::path& app) {
             fs::create_directories(app / "bin");
             fs::copy_file(fixture("app_library.dll"), app / "bin" / "app.dll");
         },
         {"--app-library", "bin/app.dll"},
         "must lie at the top level"},
        {"library is text",
         [&](const fs::path& app) {
             library(app);
             write_text(app / "readme.txt", "hello");
         },
         {"--app-library", "readme.txt"},
         "readme.txt' is not a PE file"},
        {"library without run_code",
         [&](const fs::path& app) { fs::copy_file(fixture("plain_library.dll"), app / "plain.dll"); },
         {"--app-library", "plain.dll"},
         "plain.dll' does not export run_code"},
        {"library is a program",
         [&](const fs::path& app) { fs::copy_file(fixture("program.exe"), app / "program.exe"); },
         {"--app-library", "program.exe"},
         "program.exe' is not a DLL"},
        {"no candidate",
         [&](const fs::path& app) {
             write_text(app / "readme.txt", "x");
             fs::copy_file(fixture("plain_library.dll"), app / "plain.dll");
             fs::create_directories(app / "sub");
             fs::copy_file(fixture("app_library.dll"), app / "sub" / "deep.dll");
         },
         {},
         "no DLL at the top level"},
        {"two candidates",
         [&](const fs::path& app) {
             library(app);
             fs::copy_file(fixture("app_library.dll"), app / "other.DLL");
         },
         {},
         "several DLLs export run_code ('app.dll', 'other.DLL'); choose one with --app-library"},
        {"level too high", library, {"--level", "23"}, "--level must be a whole number from 1 to 22"},
        {"level zero", library, {"--level", "0"}, "--level must be"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        ScratchFolder scratch;
        const fs::path app = scratch.path / "app";
        fs::create_directories(app);
        refusal.arrange(app);
        std::vector<std::string> argv = {pack_program(), "--app-dir", app.string(), "--output",
                                         (scratch.path / "block").string()};
        argv.insert(argv.end(), refusal.extra_arguments.begin(), refusal.extra_arguments.end());
        expect_one_error_line(run_process(argv), "onefile-pack", refusal.message);
        EXPECT_FALSE(fs::exists(scratch.path / "block"));
        EXPECT_FALSE(fs::exists(scratch.path / "block.partial"));
    }
}

TEST(PackerRefusals, MissingFolderAndUnreadableLibrary) {
    ScratchFolder scratch;
    expect_one_error_line(run_process({pack_program(), "--app-dir", (scratch.path / "nope").string(), "--output",
                                       (scratch.path / "b").string()}),
                          "onefile-pack", "is not a folder");
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    fs::copy_file(fixture("app_library.dll"), scratch.path / "app.dll");
    fs::permissions(scratch.path / "app.dll", fs::perms::none);
    expect_one_error_line(
        run_process({pack_program(), "--app-dir", scratch.path.string(), "--output", (scratch.path / "b").string()}),
        "onefile-pack", "cannot read");
}

TEST(PackerRefusals, ChosenLibraryOverridesTheOnlyCandidateRule) {
    ScratchFolder scratch;
    const fs::path app = scratch.path / "app";
    fs::create_directories(app);
    fs::copy_file(fixture("app_library.dll"), app / "one.dll");
    fs::copy_file(fixture("app_library.dll"), app / "two.dll");
    const ProcessResult result = run_process({pack_program(), "--app-dir", app.string(), "--output",
                                              (scratch.path / "block").string(), "--app-library", "two.dll"});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(result.output, "");  // quiet when not on a terminal
    const auto block = read_bytes(scratch.path / "block");
    ASSERT_GT(block.size(), 13u);
}

TEST(PackerOutput, TwoRunsGiveTheSameBlock) {
    ScratchFolder scratch;
    make_app_folder(scratch.path / "app");
    for (const char* name : {"one", "two"}) {
        const ProcessResult result = run_process(
            {pack_program(), "--app-dir", (scratch.path / "app").string(), "--output", (scratch.path / name).string()});
        ASSERT_EQ(result.exit_code, 0) << result.output;
    }
    EXPECT_EQ(read_bytes(scratch.path / "one"), read_bytes(scratch.path / "two"));
}

}  // namespace
