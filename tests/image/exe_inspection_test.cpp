// onefile-build --list, --extract and --verify on launchers linked with the
// stand-in kit: folder -> exe -> extract gives the folder's bytes back, also
// for an exe signed with osslsigncode and a certificate made here; anything
// that is not one of ours, or is damaged, is refused with one line and 2.
#include <gtest/gtest.h>

#include "format/cache_layout.h"
#include <zstd.h>

#include <map>

#include "image/archive_writer.h"
#include "image/payload_block.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

// Relative path -> bytes of every file under root.
std::map<std::string, std::vector<unsigned char>> folder_contents(const fs::path& root) {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = read_bytes(entry.path());
    }
    return files;
}

// An application folder with the awkward cases: an empty file, a file one
// byte past the reader's 128 KiB window, non-ASCII names, nested folders.
fs::path make_varied_app(const fs::path& root) {
    make_app_folder(root);
    write_text(root / "empty", "");
    std::vector<unsigned char> big((1 << 17) + 1);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7 + i / 251);
    write_bytes(root / "data" / "big.bin", big);
    fs::create_directories(root / "d\xc3\xa9j\xc3\xa0" / "deep" / "er");
    write_text(root / "d\xc3\xa9j\xc3\xa0" / "deep" / "er" / "\xe6\x97\xa5\xe6\x9c\xac.txt", "nihon\n");
    return root;
}

ProcessResult build(const fs::path& app, const fs::path& out, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {build_program(), "--kit", stub_kit().string(), "--output", out.string()};
    if (!app.empty()) argv.insert(argv.end(), {"--app-dir", app.string()});
    argv.insert(argv.end(), extra.begin(), extra.end());
    return run_process(argv);
}

// A launcher around a hand-made archive, linked as it is.
fs::path launcher_with_archive(const fs::path& scratch, const std::vector<unsigned char>& archive) {
    std::vector<unsigned char> frame(ZSTD_compressBound(archive.size()));
    frame.resize(ZSTD_compress(frame.data(), frame.size(), archive.data(), archive.size(), 3));
    write_bytes(scratch / "hand.block", payload_block(frame));
    const fs::path exe = scratch / "hand.exe";
    const ProcessResult result = build({}, exe, {"--payload-block", (scratch / "hand.block").string()});
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return exe;
}

std::vector<unsigned char> archive_of(const std::vector<std::pair<std::u16string, std::string>>& entries) {
    std::vector<unsigned char> archive;
    for (const auto& [name, data] : entries) {
        const auto header = entry_header(name, data.size());
        archive.insert(archive.end(), header.begin(), header.end());
        archive.insert(archive.end(), data.begin(), data.end());
    }
    const auto end = end_marker();
    archive.insert(archive.end(), end.begin(), end.end());
    return archive;
}

void expect_round_trip(const fs::path& exe, const fs::path& app, const fs::path& to) {
    const ProcessResult extracted = run_process({build_program(), "--extract", exe.string(), "--to", to.string()});
    ASSERT_EQ(extracted.exit_code, 0) << extracted.output;
    auto expected = folder_contents(app);
    expected["app.ico"] = read_bytes(default_icon());  // the icon travels too
    EXPECT_EQ(folder_contents(to), expected);
    const ProcessResult verified = run_process({build_program(), "--verify", exe.string()});
    EXPECT_EQ(verified.exit_code, 0) << verified.output;
    EXPECT_NE(verified.output.find("the image contract holds (GUI subsystem)"), std::string::npos);
}

TEST(ExeInspection, ExtractGivesTheFolderBackByteForByte) {
    ScratchFolder scratch;
    const fs::path app = make_varied_app(scratch.path / "app");
    ASSERT_EQ(build(app, scratch.path / "out.exe").exit_code, 0);
    expect_round_trip(scratch.path / "out.exe", app, scratch.path / "unpacked");
}

TEST(ExeInspection, ListShowsTheBuildThenEveryEntryInArchiveOrder) {
    ScratchFolder scratch;
    make_app_folder(scratch.path / "app");
    ASSERT_EQ(build(scratch.path / "app", scratch.path / "out.exe",
                    {"--company", "Acme", "--product", "Rocket", "--version", "2.5", "--console"})
                  .exit_code,
              0);
    const ProcessResult listed = run_process({build_program(), "--list", (scratch.path / "out.exe").string()});
    ASSERT_EQ(listed.exit_code, 0) << listed.output;
    const std::string head = "company: Acme\nproduct: Rocket\nversion: 2.5\nmode: temp, console subsystem\n";
    EXPECT_EQ(listed.output.substr(0, head.size()), head);
    const std::string entries = listed.output.substr(listed.output.find('\n', head.size() + 13) + 1);
    const auto dll = fs::file_size(scratch.path / "app" / "app.dll");
    const auto icon = fs::file_size(default_icon());
    EXPECT_EQ(entries, std::to_string(dll) + "\tapp.dll\n" + std::to_string(icon) +
                           "\tapp.ico\n1000\tdata\\table.bin\n8\treadme.txt\n");
    // The content key is the block's, the name the cached mode gives its
    // folder: the same folder gives the same key.
    ASSERT_EQ(build(scratch.path / "app", scratch.path / "again.exe",
                    {"--save-payload-block", (scratch.path / "block").string()})
                  .exit_code,
              0);
    const ProcessResult again = run_process({build_program(), "--list", (scratch.path / "again.exe").string()});
    const auto key = [](const std::string& text) {
        return text.substr(text.find("content key: "), 13 + cache_layout::key_length + 1);
    };
    EXPECT_EQ(key(again.output), key(listed.output));
}

TEST(ExeInspection, SignedExeReadsTheSame) {
    ScratchFolder scratch;
    const fs::path app = make_varied_app(scratch.path / "app");
    ASSERT_EQ(build(app, scratch.path / "out.exe").exit_code, 0);
    const std::string key = (scratch.path / "key.pem").string(), cert = (scratch.path / "cert.pem").string();
    const ProcessResult made = run_process({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                                            "-out", cert, "-days", "2", "-subj", "/CN=onefile test"});
    ASSERT_EQ(made.exit_code, 0) << made.output;
    const fs::path signed_exe = scratch.path / "signed.exe";
    const ProcessResult signed_run = run_process({"osslsigncode", "sign", "-certs", cert, "-key", key, "-in",
                                                  (scratch.path / "out.exe").string(), "-out", signed_exe.string()});
    ASSERT_EQ(signed_run.exit_code, 0) << signed_run.output;
    ASSERT_GT(fs::file_size(signed_exe), fs::file_size(scratch.path / "out.exe"));
    expect_round_trip(signed_exe, app, scratch.path / "unpacked");
    const auto listing = [&](const fs::path& exe) { return run_process({build_program(), "--list", exe.string()}); };
    EXPECT_EQ(listing(signed_exe).output, listing(scratch.path / "out.exe").output);
}

TEST(ExeInspection, RefusesWhatIsNotOneOfOursOrIsDamaged) {
    ScratchFolder scratch;
    make_app_folder(scratch.path / "app");
    const fs::path good = scratch.path / "good.exe";
    ASSERT_EQ(build(scratch.path / "app", good, {"--save-payload-block", (scratch.path / "block").string()}).exit_code,
              0);
    const std::vector<unsigned char> exe = read_bytes(good);
    const std::vector<unsigned char> block = read_bytes(scratch.path / "block");
    const auto block_at =
        static_cast<std::size_t>(std::search(exe.begin(), exe.end(), block.begin(), block.end()) - exe.begin());
    auto variant = [&](const std::string& name, auto change) {
        std::vector<unsigned char> bytes = exe;
        change(bytes);
        write_bytes(scratch.path / name, bytes);
        return (scratch.path / name).string();
    };
    write_text(scratch.path / "text.exe", "MZ but nothing else");
    // The frame has no checksum: what surely fails is its first block header
    // (after "QZY", the frame magic, descriptor and window) set to the reserved type.
    const std::string frame_flipped = variant("flipped.exe", [&](auto& b) { b[block_at + 3 + 6] |= 0x06; });
    const std::string cut = variant("cut.exe", [&](auto& b) { b.resize(block_at + block.size() / 2); });
    const std::string appended = variant("appended.exe", [](auto& b) { b.push_back(0); });
    const std::string unsafe = launcher_with_archive(scratch.path, archive_of({{u"app.dll", "x"}, {u"..\\up", "y"}}));
    const std::string long_size = variant("size.exe", [&](auto& b) { b[block_at - 8] ^= 1; });
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    } const cases[] = {
        {{"--list", (scratch.path / "none.exe").string()}, "cannot read"},
        {{"--list", (scratch.path / "text.exe").string()}, "is not a launcher made by onefile-build (not a PE file)"},
        {{"--verify", fixture("program.exe").string()}, "is not a launcher made by onefile-build (no payload block"},
        {{"--list", long_size}, "no payload block found"},
        {{"--list", cut}, "is not a launcher made by onefile-build"},
        {{"--list", frame_flipped}, "the payload frame does not decode"},
        {{"--verify", frame_flipped}, "payload: the payload frame does not decode"},
        {{"--verify", appended}, "1 bytes follow the last section"},
        {{"--list", unsafe}, "unsafe entry name '..\\up'"},
        {{"--extract", unsafe, "--to", (scratch.path / "unsafe").string()}, "unsafe entry name '..\\up'"},
        {{"--extract", good.string(), "--to", (scratch.path / "app").string()}, "is not an empty folder"},
        {{"--extract", good.string()}, "--extract needs --to DIR"},
        {{"--list", good.string(), "--to", "x"}, "--to DIR goes only with --extract"},
        {{"--list", good.string(), "--verify", good.string()}, "--list cannot be combined with --verify"},
        {{"--verify", good.string(), "--output", "x.exe"}, "--verify cannot be combined with --output"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {build_program()};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
        expect_refusal(run_process(argv), c.message);
    }
    // The unsafe entry came after a safe one: nothing climbed out.
    EXPECT_FALSE(fs::exists(scratch.path / "up"));
}

// The names the launcher refuses to write: climbing out, a drive, a device,
// a component that Windows would trim.
TEST(ExeInspection, ExtractRefusesUnsafeNamesAndWritesNothingForThem) {
    ScratchFolder scratch;
    for (const std::u16string name : {u"..\\up", u"C:\\x", u"sub\\nul.txt", u"sub\\trailing. ", u"\\root"}) {
        const fs::path exe = launcher_with_archive(scratch.path, archive_of({{u"app.dll", "x"}, {name, "y"}}));
        const fs::path to = scratch.path / "to";
        fs::remove_all(to);
        SCOPED_TRACE(narrow_text(name));
        expect_refusal(run_process({build_program(), "--extract", exe.string(), "--to", to.string()}),
                       "unsafe entry name '" + narrow_text(name) + "'");
        EXPECT_EQ(folder_contents(to).size(), 1u);
    }
    EXPECT_FALSE(fs::exists(scratch.path / "up"));
}

// An entry never replaces a file: a name given twice stops the extraction.
TEST(ExeInspection, ExtractNeverOverwrites) {
    ScratchFolder scratch;
    const fs::path exe = launcher_with_archive(scratch.path, archive_of({{u"app.dll", "first"}, {u"app.dll", "2nd"}}));
    expect_refusal(run_process({build_program(), "--extract", exe.string(), "--to", (scratch.path / "to").string()}),
                   "cannot create");
    EXPECT_EQ(read_bytes(scratch.path / "to" / "app.dll"), (std::vector<unsigned char>{'f', 'i', 'r', 's', 't'}));
}

}  // namespace
