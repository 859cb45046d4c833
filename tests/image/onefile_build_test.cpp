// onefile-build end to end with the stand-in kit: the image it links keeps
// the image contract, the same inputs give the same file, and every mistake
// ends with one line and exit code 2 without leaving an output behind.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "image/icon_file.h"
#include "image/icon_source.h"
#include "image/image_contract.h"
#include "image/pe_reader.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

struct Build {
    ScratchFolder scratch;
    fs::path app = scratch.path / "app";
    fs::path output = scratch.path / "out.exe";
    fs::path block = scratch.path / "saved.block";
    Build() { make_app_folder(app); }

    ProcessResult run(std::vector<std::string> extra = {}) const {
        std::vector<std::string> argv = {build_program(), "--kit",    stub_kit().string(), "--app-dir",
                                         app.string(),    "--output", output.string(),     "--save-payload-block",
                                         block.string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return run_process(argv);
    }
};

ContractExpectations default_expectations(const std::vector<unsigned char>& block, const fs::path& icon) {
    ContractExpectations expected;
    expected.block = block;
    expected.icon_file = read_bytes(icon);
    expected.company = u"Vellmore Limited";
    expected.product = u"Lumbrick";
    expected.version = u"1.0.0.0";
    expected.version_parts = {1, 0, 0, 0};
    return expected;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

TEST(OnefileBuild, ImageKeepsTheContract) {
    Build build;
    const ProcessResult result = build.run();
    ASSERT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(result.output, "");
    const auto failures =
        check_image_contract(read_bytes(build.output), default_expectations(read_bytes(build.block), default_icon()));
    EXPECT_TRUE(failures.empty()) << joined(failures);
}

TEST(OnefileBuild, LinkedBlockIsThePackersBlock) {
    Build build;
    // The icon inside the folder is packed as one of its files, so the packer
    // alone sees exactly the same files.
    fs::copy_file(default_icon(), build.app / "app.ico");
    ASSERT_EQ(build.run({"--icon", (build.app / "app.ico").string()}).exit_code, 0);
    const ProcessResult packed = run_process(
        {pack_program(), "--app-dir", build.app.string(), "--output", (build.scratch.path / "packed.block").string()});
    ASSERT_EQ(packed.exit_code, 0) << packed.output;
    const auto block = read_bytes(build.scratch.path / "packed.block");
    EXPECT_EQ(block, read_bytes(build.block));
    const auto failures = check_image_contract(read_bytes(build.output), default_expectations(block, default_icon()));
    EXPECT_TRUE(failures.empty()) << joined(failures);
}

TEST(OnefileBuild, SameInputsGiveTheSameFile) {
    Build build;
    ASSERT_EQ(build.run().exit_code, 0);
    const auto first = read_bytes(build.output);
    ASSERT_EQ(build.run().exit_code, 0);
    EXPECT_EQ(read_bytes(build.output), first);
    // Where the folder lies does not matter, only what it holds.
    fs::create_directories(build.scratch.path / "elsewhere" / "deeper");
    fs::copy(build.app, build.scratch.path / "elsewhere" / "deeper" / "app", fs::copy_options::recursive);
    build.app = build.scratch.path / "elsewhere" / "deeper" / "app";
    ASSERT_EQ(build.run().exit_code, 0);
    EXPECT_EQ(read_bytes(build.output), first);
    // A different level changes the block and so the file.
    ASSERT_EQ(build.run({"--level", "1"}).exit_code, 0);
    EXPECT_NE(read_bytes(build.output), first);
}

TEST(OnefileBuild, TextsGoIntoTheVersionResourceAndTheConstants) {
    Build build;
    ASSERT_EQ(build.run({"--company", "Acme \xc3\x89tudes", "--product", "Widget", "--version", "3.1.4.1"}).exit_code,
              0);
    ContractExpectations expected = default_expectations(read_bytes(build.block), default_icon());
    expected.company = u"Acme \u00c9tudes";
    expected.product = u"Widget";
    expected.version = u"3.1.4.1";
    expected.version_parts = {3, 1, 4, 1};
    const auto image_bytes = read_bytes(build.output);
    const auto failures = check_image_contract(image_bytes, expected);
    EXPECT_TRUE(failures.empty()) << joined(failures);
    // Each constant is a zero-terminated UTF-16 array in read-only data.
    PeImage image;
    std::string error;
    ASSERT_TRUE(parse_pe(image_bytes, image, error)) << error;
    for (const std::u16string& text : {expected.company, expected.product, expected.version}) {
        std::vector<unsigned char> wanted;
        for (char16_t unit : text + u'\0')
            wanted.insert(wanted.end(),
                          {static_cast<unsigned char>(unit & 0xFF), static_cast<unsigned char>(unit >> 8)});
        const auto found = std::search(image_bytes.begin(), image_bytes.end(), wanted.begin(), wanted.end());
        ASSERT_NE(found, image_bytes.end()) << narrow_text(text);
        const PeSection* section = section_at_offset(image, static_cast<std::uint64_t>(found - image_bytes.begin()));
        ASSERT_NE(section, nullptr);
        EXPECT_EQ(section->name, ".rdata") << narrow_text(text);
    }
}

TEST(OnefileBuild, IconFromElsewhereIsPackedAtTheTopLevelByItsName) {
    Build build;
    const fs::path icon = build.scratch.path / "Custom Icon.ico";
    fs::copy_file(default_icon(), icon);
    ASSERT_EQ(build.run({"--icon", icon.string()}).exit_code, 0);
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_TRUE(unpack_block(read_bytes(build.block), entries, error)) << error;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, u"app.dll");
    EXPECT_EQ(entries[1].name, u"Custom Icon.ico");
    EXPECT_EQ(entries[1].data, read_bytes(icon));
}

// Any icon becomes the six-image icon, which the resources and the payload
// both carry under the icon's name with ".ico"; a PNG inside the folder
// stays packed as it is beside it. A made icon never replaces a file of the
// folder.
TEST(OnefileBuild, AnyIconBecomesTheSixImageIconOfResourcesAndPayload) {
    Build build;
    IconImages images;
    std::string error;
    ASSERT_TRUE(make_icon_images(read_bytes(default_icon()), images, error)) << error;
    write_bytes(build.scratch.path / "logo.png", images[5].png);
    write_bytes(build.app / "inside.png", images[4].png);
    for (const fs::path& png : {build.scratch.path / "logo.png", build.app / "inside.png"}) {
        SCOPED_TRACE(png.string());
        ASSERT_EQ(build.run({"--icon", png.string()}).exit_code, 0);
        IconImages made;
        ASSERT_TRUE(make_icon_images(read_bytes(png), made, error)) << error;
        ContractExpectations expected = default_expectations(read_bytes(build.block), default_icon());
        expected.icon_file = icon_file_bytes(made);
        EXPECT_EQ(joined(check_image_contract(read_bytes(build.output), expected)), "");
        std::vector<ArchiveEntry> entries;
        ASSERT_TRUE(unpack_block(read_bytes(build.block), entries, error)) << error;
        const std::u16string name = png.stem().u16string() + u".ico";
        const auto packed = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.name == name; });
        ASSERT_NE(packed, entries.end());
        EXPECT_EQ(packed->data, expected.icon_file);
    }
    std::vector<unsigned char> one_image = read_bytes(default_icon());
    one_image[4] = 1;  // the directory now lists only the 16-pixel image
    write_bytes(build.app / "small.ico", one_image);
    expect_refusal(build.run({"--icon", (build.app / "small.ico").string()}),
                   "the six-image icon made from '" + (build.app / "small.ico").string() +
                       "' would be packed as 'small.ico', which the application folder already holds");
}

TEST(OnefileBuild, DefaultIconIsPackedAsAppIco) {
    Build build;
    ASSERT_EQ(build.run().exit_code, 0);
    std::vector<ArchiveEntry> entries;
    std::string error;
    ASSERT_TRUE(unpack_block(read_bytes(build.block), entries, error)) << error;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].name, u"app.ico");
    EXPECT_EQ(entries[1].data, read_bytes(default_icon()));
}

// A ready-made block is linked as it is, however damaged.
TEST(OnefileBuild, PayloadBlockIsLinkedAsItIs) {
    ScratchFolder scratch;
    for (const std::vector<unsigned char>& damaged :
         {std::vector<unsigned char>{'Q', 'Z', 'X', 1, 2, 3, 4, 5}, std::vector<unsigned char>{'Q', 'Z', 'Y'}}) {
        write_bytes(scratch.path / "damaged.block", damaged);
        const ProcessResult result =
            run_process({build_program(), "--kit", stub_kit().string(), "--payload-block",
                         (scratch.path / "damaged.block").string(), "--output", (scratch.path / "out.exe").string()});
        ASSERT_EQ(result.exit_code, 0) << result.output;
        PeImage image;
        std::string error;
        ASSERT_TRUE(parse_pe(read_bytes(scratch.path / "out.exe"), image, error)) << error;
        std::vector<std::string> failures;
        ContractExpectations expected;
        expected.block = damaged;
        check_payload_placement(image, expected, failures);
        // The frame header check cannot hold for a block without a frame.
        failures.erase(std::remove_if(failures.begin(), failures.end(),
                                      [](const std::string& f) { return f.find("frame header") != std::string::npos; }),
                       failures.end());
        EXPECT_TRUE(failures.empty()) << joined(failures);
    }
}

TEST(OnefileBuild, MistakesEndWithOneLineAndNoOutput) {
    Build build;
    const fs::path cut_icon = build.scratch.path / "cut.ico";
    {
        auto bytes = read_bytes(default_icon());
        bytes.resize(bytes.size() - 1);  // the last image lies past the end
        write_bytes(cut_icon, bytes);
    }
    write_text(build.scratch.path / "not-an-icon.ico", "hello");
    write_bytes(build.scratch.path / "damaged.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
    struct Case {
        const char* what;
        std::vector<std::string> extra;
        const char* message;
    } const cases[] = {
        {"icon cut short", {"--icon", cut_icon.string()}, "cut.ico' is a truncated icon file (image 6 lies past"},
        {"icon that is no icon",
         {"--icon", (build.scratch.path / "not-an-icon.ico").string()},
         "is neither an icon file nor a PNG image"},
        {"damaged PNG", {"--icon", (build.scratch.path / "damaged.png").string()}, "damaged.png' is damaged"},
        {"missing icon", {"--icon", (build.scratch.path / "none.ico").string()}, "cannot read"},
        {"bad version", {"--version", "1.x"}, "--version must be"},
        {"empty product", {"--product", ""}, "--product must not be empty"},
        {"unknown option", {"--colour", "red"}, "unknown option '--colour'"},
        {"missing payload block", {"--payload-block", (build.scratch.path / "none").string()}, "cannot read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_refusal(build.run(c.extra), c.message);
        EXPECT_FALSE(fs::exists(build.output));
        EXPECT_FALSE(fs::exists(build.block));
    }
}

TEST(OnefileBuild, PackerRefusalsPassThrough) {
    Build build;
    write_text(build.app / "aux", "x");
    expect_refusal(build.run(), "names the device 'aux'");
    fs::remove(build.app / "aux");
    fs::copy_file(fixture("app_library.dll"), build.app / "second.dll");
    expect_refusal(build.run(), "several DLLs export run_code ('app.dll', 'second.dll')");
    EXPECT_EQ(build.run({"--app-library", "second.dll"}).exit_code, 0);
    // The default icon's name taken by a different file in the folder.
    write_text(build.app / "APP.ICO", "not the icon");
    expect_refusal(build.run({"--app-library", "second.dll"}), "would be the same file on Windows");
}

TEST(OnefileBuild, OutputFolderMustExist) {
    Build build;
    build.output = build.scratch.path / "missing" / "out.exe";
    expect_refusal(build.run(), "the folder of --output");
    build.output = build.scratch.path;
    expect_refusal(build.run(), "is a folder");
}

TEST(OnefileBuild, KitIsFoundByOptionEnvironmentOrBesideTheProgram) {
    ScratchFolder scratch;
    make_app_folder(scratch.path / "app");
    const std::string out = (scratch.path / "out.exe").string();
    const std::string app = (scratch.path / "app").string();

    expect_refusal(
        run_process({build_program(), "--kit", (scratch.path / "nokit").string(), "--app-dir", app, "--output", out}),
        "nokit' is not a folder");
    fs::copy(stub_kit(), scratch.path / "partial-kit");
    fs::remove(scratch.path / "partial-kit" / "libonefile_runtime.a");
    expect_refusal(
        run_process(
            {build_program(), "--kit", (scratch.path / "partial-kit").string(), "--app-dir", app, "--output", out}),
        "incomplete kit: '" + (scratch.path / "partial-kit" / "libonefile_runtime.a").string() + "' is missing");

    // <bin>/../kit beside a copy of the program.
    fs::create_directories(scratch.path / "dist" / "bin");
    fs::copy_file(build_program(), scratch.path / "dist" / "bin" / "onefile-build");
    fs::copy(stub_kit(), scratch.path / "dist" / "kit");
    ProcessResult result =
        run_process({(scratch.path / "dist" / "bin" / "onefile-build").string(), "--app-dir", app, "--output", out});
    EXPECT_EQ(result.exit_code, 0) << result.output;

    // An installed prefix keeps the kit in lib/onefile/kit, which wins over
    // a (here incomplete) kit folder beside bin.
    fs::create_directories(scratch.path / "prefix" / "bin");
    fs::create_directories(scratch.path / "prefix" / "lib" / "onefile");
    fs::copy_file(build_program(), scratch.path / "prefix" / "bin" / "onefile-build");
    fs::copy(stub_kit(), scratch.path / "prefix" / "lib" / "onefile" / "kit");
    fs::copy(scratch.path / "partial-kit", scratch.path / "prefix" / "kit");
    result =
        run_process({(scratch.path / "prefix" / "bin" / "onefile-build").string(), "--app-dir", app, "--output", out});
    EXPECT_EQ(result.exit_code, 0) << result.output;

    // ONEFILE_KIT wins over the folder beside the program.
    setenv("ONEFILE_KIT", (scratch.path / "partial-kit").c_str(), 1);
    result =
        run_process({(scratch.path / "dist" / "bin" / "onefile-build").string(), "--app-dir", app, "--output", out});
    unsetenv("ONEFILE_KIT");
    EXPECT_EQ(result.exit_code, 2) << result.output;
    EXPECT_NE(result.output.find("partial-kit"), std::string::npos) << result.output;
}

TEST(OnefileBuild, FailingToolLeavesNoOutputAndNoWorkFolder) {
    ScratchFolder scratch;
    make_app_folder(scratch.path / "app");
    fs::copy(stub_kit(), scratch.path / "kit");
    fs::create_directories(scratch.path / "tmp");
    const fs::path out = scratch.path / "out.exe";
    const auto run_with = [&](const std::string& toolchain) {
        write_text(scratch.path / "kit" / "toolchain.txt", toolchain);
        setenv("TMPDIR", (scratch.path / "tmp").c_str(), 1);
        ProcessResult result = run_process({build_program(), "--kit", (scratch.path / "kit").string(), "--app-dir",
                                            (scratch.path / "app").string(), "--output", out.string()});
        unsetenv("TMPDIR");
        return result;
    };
    expect_refusal(run_with("cxx=/bin/false\nwindres=/bin/false\n"), "'/bin/false' failed with exit code 1");
    EXPECT_FALSE(fs::exists(out));
    expect_refusal(run_with("cxx=/nonexistent/g++\nwindres=/bin/false\n"), "cannot start '/nonexistent/g++'");
    EXPECT_FALSE(fs::exists(out));
    expect_refusal(run_with("windres=/bin/false\n"), "must name cxx= and windres=");
    EXPECT_TRUE(fs::is_empty(scratch.path / "tmp"));
}

TEST(OnefileBuild, HelpDocumentsTheInterface) {
    const ProcessResult result = run_process({build_program(), "--help"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.output.find("Usage: onefile-build --app-dir DIR --output OUT.exe"), std::string::npos);
    for (const char* option :
         {"--app-library NAME", "--icon FILE", "--company TEXT", "--product TEXT", "--version TEXT", "--level N",
          "--payload-block FILE", "--console", "--list X.exe", "--extract X.exe --to DIR", "--verify X.exe"}) {
        EXPECT_NE(result.output.find(option), std::string::npos) << option;
    }
}

}  // namespace
