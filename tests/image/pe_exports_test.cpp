// Only an x86-64 DLL whose export table names run_code exactly is taken as
// the application library.
#include <gtest/gtest.h>

#include "image/pe_exports.h"
#include "image/pe_reader.h"
#include "support/test_files.h"

namespace {

std::string problem_of(const std::vector<unsigned char>& bytes) {
    return dll_export_problem(bytes, "run_code");
}

TEST(PeExports, AcceptsOnlyTheDllExportingRunCode) {
    struct Case {
        const char* file;
        std::string problem;
    } const cases[] = {
        {"app_library.dll", ""},
        {"plain_library.dll", "does not export run_code"},  // run_codes, Run_code, run_cod
        {"program.exe", "is not a DLL"},
    };
    for (const auto& c : cases) EXPECT_EQ(problem_of(read_bytes(fixture(c.file))), c.problem) << c.file;
}

TEST(PeExports, OtherFilesAreNotPeFiles) {
    EXPECT_EQ(problem_of({}), "is not a PE file");
    EXPECT_EQ(problem_of({'M', 'Z'}), "is not a PE file");
    const std::string text = "just some text that is long enough to have a header offset at 0x3c......";
    EXPECT_EQ(problem_of(std::vector<unsigned char>(text.begin(), text.end())), "is not a PE file");
}

TEST(PeExports, A32BitDllIsRefused) {
    std::vector<unsigned char> image = read_bytes(fixture("app_library.dll"));
    std::uint32_t pe = 0;
    ASSERT_TRUE(read_u32(image, 0x3C, pe));
    image[pe + 4] = 0x4C;  // machine i386
    image[pe + 5] = 0x01;
    EXPECT_EQ(problem_of(image), "is not an x86-64 DLL");
}

TEST(PeExports, ExportedNamesAreFoundByExactName) {
    const std::vector<unsigned char> image = read_bytes(fixture("plain_library.dll"));
    EXPECT_EQ(dll_export_problem(image, "run_codes"), "");
    EXPECT_EQ(dll_export_problem(image, "Run_code"), "");
    EXPECT_EQ(dll_export_problem(image, "run_cod"), "");
    EXPECT_EQ(dll_export_problem(image, "run_co"), "does not export run_co");
}

// Cut anywhere, the file gives an answer and never a read past its end; only
// a cut after the export names can still find run_code.
TEST(PeExports, TruncatedFilesNeverReadPastTheEnd) {
    const std::vector<unsigned char> image = read_bytes(fixture("app_library.dll"));
    for (std::size_t length = 0; length < image.size(); length += 61) {
        const std::vector<unsigned char> cut(image.begin(), image.begin() + length);
        const std::string problem = problem_of(cut);
        if (length < 0x40) EXPECT_EQ(problem, "is not a PE file") << length;
        if (!problem.empty()) continue;
        // Accepted: the export name must lie within the cut.
        const std::string name = "run_code";
        EXPECT_NE(std::search(cut.begin(), cut.end(), name.begin(), name.end()), cut.end()) << length;
    }
}

TEST(PeExports, CheckApplicationLibraryNamesTheFile) {
    std::string error;
    EXPECT_TRUE(check_application_library(fixture("app_library.dll"), error)) << error;
    EXPECT_FALSE(check_application_library(fixture("plain_library.dll"), error));
    EXPECT_NE(error.find("plain_library.dll' does not export run_code"), std::string::npos) << error;
    EXPECT_FALSE(check_application_library(fixture("missing.dll"), error));
    EXPECT_NE(error.find("cannot read the application library"), std::string::npos) << error;
}

// Signed or not is the certificate table's size in either optional header
// format; anything without both signatures is no PE file at all.
TEST(PeExports, SignatureStateReadsTheCertificateTable) {
    const std::vector<unsigned char> dll = read_bytes(fixture("app_library.dll"));
    std::uint32_t pe = 0;
    ASSERT_TRUE(read_u32(dll, 0x3C, pe));
    const std::size_t optional = pe + 24;
    const auto with = [&](std::size_t offset, std::uint32_t value, std::vector<unsigned char> image) {
        for (int i = 0; i < 4; ++i) image[offset + i] = static_cast<unsigned char>(value >> (8 * i));
        return image;
    };
    // PE32's directory count sits four bytes earlier than PE32+'s.
    std::vector<unsigned char> pe32 = with(optional + 92, 16, dll);
    pe32[optional] = 0x0B;
    pe32[optional + 1] = 0x01;
    struct Case {
        const char* what;
        std::vector<unsigned char> image;
        PeSignature state;
    } const cases[] = {
        {"unsigned PE32+", dll, PeSignature::unsigned_pe},
        {"signed PE32+", with(optional + 112 + 36, 0x500, dll), PeSignature::signed_pe},
        {"unsigned PE32", pe32, PeSignature::unsigned_pe},
        {"signed PE32", with(optional + 96 + 36, 0x500, pe32), PeSignature::signed_pe},
        {"header cut before the directories",
         std::vector<unsigned char>(dll.begin(), dll.begin() + static_cast<std::ptrdiff_t>(optional + 100)),
         PeSignature::unsigned_pe},
        {"empty file", {}, PeSignature::not_pe},
        {"text", std::vector<unsigned char>(100, 'x'), PeSignature::not_pe},
    };
    for (const auto& c : cases) EXPECT_EQ(pe_signature_state(c.image), c.state) << c.what;
}

}  // namespace
