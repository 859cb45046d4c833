// Signed builds with a certificate made by openssl for this run: every PE
// file inside verifies once unpacked and differs from its original by the
// signature alone, a maker's signature is kept, the application folder stays
// as it was, and every refusal is one line with exit code 2 and no output.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "image/pe_exports.h"
#include "image/image_contract.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

const char signing_tool[] = "/usr/bin/osslsigncode";

struct Credentials {
    ScratchFolder scratch;
    std::string cert = (scratch.path / "c.pem").string(), key = (scratch.path / "c.key").string();
    std::string pkcs12 = (scratch.path / "c.p12").string(), password = (scratch.path / "pass").string();
    bool made = false;
    Credentials() {
        write_text(password, "secret words\n");
        made =
            run_process({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                         cert, "-days", "30", "-subj", "/CN=Onefile Test", "-addext", "extendedKeyUsage=codeSigning"})
                    .exit_code == 0 &&
            run_process({"/usr/bin/openssl", "pkcs12", "-export", "-in", cert, "-inkey", key, "-out", pkcs12,
                         "-passout", "file:" + password})
                    .exit_code == 0;
    }
};

const Credentials& credentials() {
    static const Credentials made;
    return made;
}

bool verifies(const fs::path& file) {
    return run_process({signing_tool, "verify", "-CAfile", credentials().cert, "-in", file.string()}).exit_code == 0;
}

std::map<std::string, std::vector<unsigned char>> folder_snapshot(const fs::path& root) {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = read_bytes(entry.path());
    }
    return files;
}

// PE files at two depths, one its maker signed already, and plain files.
struct SignedBuild {
    ScratchFolder scratch;
    fs::path app = scratch.path / "app", output = scratch.path / "out.exe", block = scratch.path / "saved.block";
    SignedBuild() {
        make_app_folder(app);
        fs::copy_file(fixture("program.exe"), app / "data" / "tool.exe");
        run_process({signing_tool, "sign", "-certs", credentials().cert, "-key", credentials().key, "-in",
                     fixture("plain_library.dll").string(), "-out", (app / "vendor.dll").string()});
    }
    // environment: NAME=VALUE settings for onefile-build alone.
    ProcessResult run(const std::vector<std::string>& signing, const std::vector<std::string>& environment = {}) const {
        std::vector<std::string> argv = {"/usr/bin/env"};
        argv.insert(argv.end(), environment.begin(), environment.end());
        argv.insert(argv.end(),
                    {build_program(), "--kit", stub_kit().string(), "--app-dir", app.string(), "--app-library",
                     "app.dll", "--output", output.string(), "--save-payload-block", block.string()});
        argv.insert(argv.end(), signing.begin(), signing.end());
        return run_process(argv);
    }
};

std::vector<std::string> pem_signing() {
    return {"--sign-cert", credentials().cert, "--sign-key", credentials().key};
}

// Signing changes the PE checksum and the certificate table's directory
// entry and appends the table; nothing else.
void expect_only_the_signature_added(const std::vector<unsigned char>& original,
                                     const std::vector<unsigned char>& signed_copy) {
    ASSERT_GT(signed_copy.size(), original.size());
    const std::size_t optional = original[0x3C] + (original[0x3D] << 8) + 24;
    for (std::size_t i = 0; i < original.size(); ++i) {
        const bool may_differ =
            (i >= optional + 64 && i < optional + 68) || (i >= optional + 144 && i < optional + 152);
        if (!may_differ) ASSERT_EQ(signed_copy[i], original[i]) << "byte " << i;
    }
}

TEST(CodeSigning, EveryPeFileInsideIsSignedAndVerifies) {
    ASSERT_TRUE(credentials().made);
    for (const auto& signing :
         {pem_signing(), std::vector<std::string>{"--sign-pkcs12", credentials().pkcs12, "--sign-password-file",
                                                  credentials().password, "--sign-ca", credentials().cert}}) {
        SCOPED_TRACE(signing[0]);
        SignedBuild build;
        const auto before = folder_snapshot(build.app);
        const ProcessResult result = build.run(signing);
        ASSERT_EQ(result.exit_code, 0) << result.output;
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(folder_snapshot(build.app), before);
        EXPECT_TRUE(verifies(build.output));

        std::vector<ArchiveEntry> entries;
        std::string error;
        ASSERT_TRUE(unpack_block(read_bytes(build.block), entries, error)) << error;
        std::size_t signed_here = 0;
        for (const auto& entry : entries) {
            std::string name = narrow_text(entry.name);
            std::replace(name.begin(), name.end(), '\\', '/');
            SCOPED_TRACE(name);
            if (name == "app.ico") continue;
            const auto& original = before.at(name);
            if (pe_signature_state(original) != PeSignature::unsigned_pe) {
                EXPECT_EQ(entry.data, original);  // plain files, and the maker's signature, as they were
                continue;
            }
            const fs::path unpacked = build.scratch.path / "unpacked" / name;
            write_bytes(unpacked, entry.data);
            EXPECT_TRUE(verifies(unpacked));
            expect_only_the_signature_added(original, entry.data);
            ++signed_here;
        }
        EXPECT_EQ(signed_here, 2u);  // app.dll, data/tool.exe

        // The unsigned image around the same block differs by the signature.
        const auto signed_image = read_bytes(build.output);
        ASSERT_EQ(run_process({build_program(), "--kit", stub_kit().string(), "--payload-block", build.block.string(),
                               "--output", build.output.string()})
                      .exit_code,
                  0);
        expect_only_the_signature_added(read_bytes(build.output), signed_image);
    }
}

TEST(CodeSigning, SigningTimeMakesSignedBuildsRepeatable) {
    ASSERT_TRUE(credentials().made);
    SignedBuild build;
    std::vector<std::vector<unsigned char>> images;
    for (const char* time : {"SOURCE_DATE_EPOCH=1767225600", "SOURCE_DATE_EPOCH=1767225600", "SOURCE_DATE_EPOCH=1"}) {
        ASSERT_EQ(build.run(pem_signing(), {time}).exit_code, 0);
        images.push_back(read_bytes(build.output));
    }
    EXPECT_EQ(images[0], images[1]);
    EXPECT_NE(images[0], images[2]);
}

TEST(CodeSigning, RefusalsAreOneLineAndLeaveNothingBehind) {
    ASSERT_TRUE(credentials().made);
    const Credentials& c = credentials();
    ScratchFolder other;
    write_text(other.path / "wrong", "guess\n");
    run_process({"/usr/bin/openssl", "genrsa", "-out", (other.path / "other.key").string(), "2048"});
    struct Case {
        std::vector<std::string> options;
        std::string environment;
        std::string message;
    } const cases[] = {
        {pem_signing(), "PATH=" + other.path.string(), "signing needs osslsigncode, which is not on PATH"},
        {{"--sign-cert", c.cert, "--sign-key", (other.path / "other.key").string()}, "", "cannot sign '"},
        {{"--sign-cert", c.cert, "--sign-key", c.key + ".none"}, "", "c.key.none' is not a readable file"},
        {{"--sign-pkcs12", c.pkcs12, "--sign-password-file", (other.path / "wrong").string()}, "", "Wrong password"},
        // Checked against the system's roots, a self-signed certificate fails.
        {{"--sign-pkcs12", c.pkcs12, "--sign-password-file", c.password}, "", "does not verify after signing"},
        // Nothing listens there: the server reaches osslsigncode and stops the build.
        {{"--sign-cert", c.cert, "--sign-key", c.key, "--sign-timestamp", "http://127.0.0.1:9/tsa"},
         "",
         "Failed to get data from http://127.0.0.1:9/tsa"},
        {pem_signing(), "SOURCE_DATE_EPOCH=17e8", "SOURCE_DATE_EPOCH '17e8' is not a number of seconds since 1970"},
        {pem_signing(), "SOURCE_DATE_EPOCH=123456789012", "SOURCE_DATE_EPOCH '123456789012'"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.message);
        SignedBuild build;
        const auto before = folder_snapshot(build.app);
        expect_refusal(build.run(test.options, {test.environment.empty() ? "ONEFILE_UNUSED=" : test.environment}),
                       test.message);
        EXPECT_FALSE(fs::exists(build.output));
        EXPECT_FALSE(fs::exists(build.block));
        EXPECT_EQ(folder_snapshot(build.app), before);
    }
}

}  // namespace
