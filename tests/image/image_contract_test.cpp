// The contract checker finds each broken rule: a launcher that keeps the
// contract passes, and the same launcher with one thing changed fails with
// the message for that thing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "image/image_contract.h"
#include "image/pe_reader.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

struct Built {
    std::vector<unsigned char> exe;
    ContractExpectations expected;
};

// One launcher for all cases, made once with the stand-in kit.
const Built& built() {
    static const Built result = [] {
        Built b;
        ScratchFolder scratch;
        make_app_folder(scratch.path / "app");
        const ProcessResult run = run_process(
            {build_program(), "--kit", stub_kit().string(), "--app-dir", (scratch.path / "app").string(), "--output",
             (scratch.path / "out.exe").string(), "--save-payload-block", (scratch.path / "block").string()});
        EXPECT_EQ(run.exit_code, 0) << run.output;
        b.exe = read_bytes(scratch.path / "out.exe");
        b.expected.block = read_bytes(scratch.path / "block");
        b.expected.icon_file = read_bytes(default_icon());
        b.expected.company = u"Vellmore Limited";
        b.expected.product = u"Lumbrick";
        b.expected.version = u"1.0.0.0";
        b.expected.version_parts = {1, 0, 0, 0};
        return b;
    }();
    return result;
}

std::uint64_t optional_header(const std::vector<unsigned char>& exe) {
    std::uint32_t pe = 0;
    read_u32(exe, 0x3C, pe);
    return pe + 24ull;
}

std::uint64_t find(const std::vector<unsigned char>& exe, const std::vector<unsigned char>& wanted) {
    const auto at = std::search(exe.begin(), exe.end(), wanted.begin(), wanted.end());
    EXPECT_NE(at, exe.end());
    return static_cast<std::uint64_t>(at - exe.begin());
}

std::vector<unsigned char> ascii(const char* text) {
    return {text, text + std::strlen(text)};
}

void put_u16(std::vector<unsigned char>& exe, std::uint64_t at, std::uint16_t value) {
    exe[at] = static_cast<unsigned char>(value & 0xFF);
    exe[at + 1] = static_cast<unsigned char>(value >> 8);
}

void put_u32(std::vector<unsigned char>& exe, std::uint64_t at, std::uint32_t value) {
    put_u16(exe, at, static_cast<std::uint16_t>(value & 0xFFFF));
    put_u16(exe, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint64_t section_header(const std::vector<unsigned char>& exe, const std::string& name) {
    std::vector<unsigned char> wanted = ascii(name.c_str());
    wanted.resize(8, 0);
    return find(exe, wanted);
}

TEST(ImageContract, LauncherFromOnefileBuildPasses) {
    const auto failures = check_image_contract(built().exe, built().expected);
    std::string text;
    for (const auto& f : failures) text += f + "\n";
    EXPECT_TRUE(failures.empty()) << text;
}

TEST(ImageContract, EachBrokenRuleIsReported) {
    using Exe = std::vector<unsigned char>;
    struct Case {
        const char* what;
        std::function<void(Exe&)> damage;
        const char* failure;
    } const cases[] = {
        {"byte appended", [](Exe& e) { e.push_back(0); }, "1 bytes follow the last section"},
        {"time stamp", [](Exe& e) { put_u32(e, optional_header(e) - 16, 0x5F000000); }, "has a time stamp"},
        {"console subsystem", [](Exe& e) { put_u16(e, optional_header(e) + 68, 3); }, "subsystem is 3, not GUI"},
        {"certificate table inside the file",
         [](Exe& e) {
             put_u32(e, optional_header(e) + 112 + 8 * 4, 0x400);
             put_u32(e, optional_header(e) + 112 + 8 * 4 + 4, 16);
         },
         "the certificate table does not follow the last section up to the end of the file"},
        {"certificate table short of the end",
         [](Exe& e) {
             put_u32(e, optional_header(e) + 112 + 8 * 4, static_cast<std::uint32_t>(e.size()));
             put_u32(e, optional_header(e) + 112 + 8 * 4 + 4, 16);
             e.resize(e.size() + 24);
         },
         "the certificate table does not follow the last section up to the end of the file"},
        {"OS version 5.1",
         [](Exe& e) {
             put_u16(e, optional_header(e) + 40, 5);
             put_u16(e, optional_header(e) + 42, 1);
         },
         "OS version is not 6.0"},
        {"subsystem version 5.2", [](Exe& e) { put_u16(e, optional_header(e) + 48, 5); },
         "subsystem version is not 6.0"},
        {"no NX", [](Exe& e) { put_u16(e, optional_header(e) + 70, 0x8060); }, "DLL characteristics are 0x8060"},
        {"stack reserve", [](Exe& e) { put_u32(e, optional_header(e) + 72, 0x100000); }, "stack reserve is 0x100000"},
        {"stack commit", [](Exe& e) { put_u32(e, optional_header(e) + 80, 0x2000); }, "stack commit is 0x2000"},
        {"no relocations", [](Exe& e) { put_u32(e, optional_header(e) + 112 + 8 * 5 + 4, 0); }, "no relocations"},
        {"third import",
         [](Exe& e) {
             const auto at = find(e, ascii("SHELL32.dll"));
             e[at + 6] = '3';
         },
         "imports are KERNEL32.dll, SHELL33.dll"},
        {"block byte", [](Exe& e) { e[find(e, built().expected.block) + 20] ^= 0xFF; }, "block is not in the image"},
        {"PAYLOAD_SIZE", [](Exe& e) { e[find(e, built().expected.block) - 8] ^= 1; }, "PAYLOAD_SIZE before the block"},
        {"writable .rdata", [](Exe& e) { e[section_header(e, ".rdata") + 39] |= 0x80; }, "not read-only data"},
        {"manifest", [](Exe& e) { e[find(e, ascii("asInvoker"))] = 'b'; }, "manifest is not the expected one line"},
        {"fixed part structure version",
         [](Exe& e) {
             put_u32(e, find(e, {0xBD, 0x04, 0xEF, 0xFE}) + 4, 0x00010000);
         },
         "structure version is 0x10000, not 0"},
        {"string key",
         [](Exe& e) {
             const std::vector<unsigned char> key = {'I', 0, 'n', 0, 't', 0, 'e', 0, 'r', 0, 'n', 0};
             e[find(e, key)] = 'X';
         },
         "string entry 8 is 'Xnternal"},
        {"translation",
         [](Exe& e) {
             e[find(e, {0x00, 0x00, 0xB0, 0x04}) + 0] = 0x09;
         },
         "translation is not"},
        {"icon pixels",
         [](Exe& e) {
             std::vector<std::vector<unsigned char>> images;
             icon_file_images(built().expected.icon_file, images);
             // The icons are stored twice: in the resources and in the compressed
             // payload; only the resource copy is visible uncompressed.
             e[find(e, images[0]) + 40] ^= 0xFF;
         },
         "icon 1 is not the 16-pixel PNG"},
        {"icon group planes",
         [](Exe& e) {
             // Group entry 1: 16, 16, 0, 0, planes.
             const auto at = find(e, {0, 0, 1, 0, 6, 0, 16, 16, 0, 0, 0, 0, 32, 0});
             e[at + 10] = 1;
         },
         "icon group entry 1 is not planes 0, 32 bits"},
    };
    for (const auto& c : cases) {
        Exe exe = built().exe;
        c.damage(exe);
        const auto failures = check_image_contract(exe, built().expected);
        std::string text;
        for (const auto& f : failures) text += f + "\n";
        EXPECT_NE(text.find(c.failure), std::string::npos) << c.what << ":\n" << text;
    }
}

TEST(ImageContract, ExpectedTextsMustMatch) {
    ContractExpectations other = built().expected;
    other.company = u"Someone Else";
    const auto failures = check_image_contract(built().exe, other);
    std::string text;
    for (const auto& f : failures) text += f + "\n";
    EXPECT_NE(text.find("CompanyName is 'Vellmore Limited'"), std::string::npos) << text;
    EXPECT_NE(text.find("LegalCopyright does not name the company"), std::string::npos) << text;
}

// A console launcher keeps every setting but the subsystem; the check is told
// which one to expect.
TEST(ImageContract, SubsystemIsTheExpectedOne) {
    ContractExpectations console = built().expected;
    console.subsystem = subsystem_console;
    const auto failures = check_image_contract(built().exe, console);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "subsystem is 2, not console");
}

TEST(ImageContract, DamagedFilesGiveErrorsNotCrashes) {
    for (std::size_t length : {0u, 2u, 0x40u, 0x100u, 0x400u}) {
        std::vector<unsigned char> cut(built().exe.begin(), built().exe.begin() + std::min(length, built().exe.size()));
        EXPECT_FALSE(check_image_contract(cut, built().expected).empty()) << length;
    }
}

}  // namespace
