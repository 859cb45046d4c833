// Signed builds with certificates made by openssl for this run: every PE file
// the executable carries verifies once unpacked, files signed by their maker
// keep that signature, the application folder stays as it was, the signature
// is the only change to the executable, and every refusal is one line with
// exit code 2 and no output left behind.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>

#include "image/pe_exports.h"
#include "support/image_contract.h"
#include "support/pe_reader.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

// One self-signed certificate and one issued by a private CA, made once.
struct Credentials {
    ScratchFolder scratch;
    fs::path dir = scratch.path;
    std::string self_cert = (dir / "self.pem").string(), self_key = (dir / "self.key").string();
    std::string ca_cert = (dir / "ca.pem").string();
    std::string leaf_cert = (dir / "leaf.pem").string(), leaf_key = (dir / "leaf.key").string();
    std::string pkcs12 = (dir / "self.p12").string(), password = (dir / "password.txt").string();
    std::string wrong_password = (dir / "wrong.txt").string();
    bool made = false;

    Credentials() {
        write_text(password, "secret words\n");
        write_text(wrong_password, "guess\n");
        write_text(dir / "leaf.ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=codeSigning\n");
        const std::string openssl = "/usr/bin/openssl";
        const std::vector<std::vector<std::string>> commands = {
            {openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self_key, "-out", self_cert, "-days",
             "30", "-subj", "/CN=Onefile Test Signer", "-addext", "extendedKeyUsage=codeSigning"},
            {openssl, "pkcs12", "-export", "-in", self_cert, "-inkey", self_key, "-out", pkcs12, "-passout",
             "file:" + password},
            {openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", (dir / "ca.key").string(), "-out",
             ca_cert, "-days", "30", "-subj", "/CN=Onefile Test CA"},
            {openssl, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", leaf_key, "-out", (dir / "leaf.csr").string(),
             "-subj", "/CN=Onefile Test Leaf"},
            {openssl, "x509", "-req", "-in", (dir / "leaf.csr").string(), "-CA", ca_cert, "-CAkey",
             (dir / "ca.key").string(), "-CAcreateserial", "-out", leaf_cert, "-days", "30", "-extfile",
             (dir / "leaf.ext").string()},
        };
        for (const auto& command : commands) {
            const ProcessResult result = run_process(command);
            if (result.exit_code != 0) {
                ADD_FAILURE() << command[1] << ": " << result.output;
                return;
            }
        }
        made = true;
    }
};

const Credentials& credentials() {
    static const Credentials made;
    return made;
}

std::string signing_tool() {
    return "/usr/bin/osslsigncode";
}

// Verifies file against the trusted certificates in ca; "" when it does.
std::string verification_failure(const fs::path& file, const std::string& ca) {
    const ProcessResult result = run_process({signing_tool(), "verify", "-CAfile", ca, "-in", file.string()});
    return result.exit_code == 0 ? "" : result.output;
}

std::map<fs::path, std::vector<unsigned char>> folder_snapshot(const fs::path& root) {
    std::map<fs::path, std::vector<unsigned char>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files[entry.path().lexically_relative(root)] = read_bytes(entry.path());
    }
    return files;
}

// An application folder with PE files at two depths (DLLs and an
// executable), one DLL its maker signed already, and plain files.
struct SignedBuild {
    ScratchFolder scratch;
    fs::path app = scratch.path / "app";
    fs::path output = scratch.path / "out.exe";
    fs::path block = scratch.path / "saved.block";

    SignedBuild() {
        make_app_folder(app);
        fs::copy_file(fixture("plain_library.dll"), app / "data" / "helper.dll");
        fs::copy_file(fixture("program.exe"), app / "data" / "tool.exe");
        const ProcessResult signed_by_maker =
            run_process({signing_tool(), "sign", "-certs", credentials().leaf_cert, "-key", credentials().leaf_key,
                         "-in", fixture("plain_library.dll").string(), "-out", (app / "vendor.dll").string()});
        EXPECT_EQ(signed_by_maker.exit_code, 0) << signed_by_maker.output;
    }

    ProcessResult run(const std::vector<std::string>& signing) const {
        std::vector<std::string> argv = {
            build_program(), "--kit",   stub_kit().string(), "--app-dir",     app.string(),
            "--app-library", "app.dll", "--output",          output.string(), "--save-payload-block",
            block.string()};
        argv.insert(argv.end(), signing.begin(), signing.end());
        return run_process(argv);
    }

    std::vector<std::string> self_signed() const {
        return {"--sign-cert", credentials().self_cert, "--sign-key", credentials().self_key};
    }
};

// Authenticode leaves the image alone but for the checksum and the
// certificate table's directory entry, and appends the table.
void expect_only_the_signature_added(const std::vector<unsigned char>& unsigned_image,
                                     const std::vector<unsigned char>& signed_image) {
    ASSERT_GT(signed_image.size(), unsigned_image.size());
    std::uint32_t pe = 0;
    ASSERT_TRUE(read_u32(unsigned_image, 0x3C, pe));
    const std::uint64_t optional = pe + 24;
    const std::uint64_t checksum = optional + 64, certificate_entry = optional + 112 + 4 * 8;
    for (std::uint64_t i = 0; i < unsigned_image.size(); ++i) {
        const bool may_differ =
            (i >= checksum && i < checksum + 4) || (i >= certificate_entry && i < certificate_entry + 8);
        if (!may_differ) ASSERT_EQ(signed_image[i], unsigned_image[i]) << "byte " << i;
    }
}

// Sets a variable for onefile-build and puts back what was there before.
struct EnvironmentVariable {
    std::string name;
    bool had = false;
    std::string before;
    EnvironmentVariable(std::string name_, const std::string& value) : name(std::move(name_)) {
        const char* old = getenv(name.c_str());
        had = old != nullptr;
        before = had ? old : "";
        setenv(name.c_str(), value.c_str(), 1);
    }
    ~EnvironmentVariable() {
        if (had) {
            setenv(name.c_str(), before.c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
};

TEST(CodeSigning, EveryPeFileInsideVerifiesOnceUnpacked) {
    ASSERT_TRUE(credentials().made);
    SignedBuild build;
    const auto before = folder_snapshot(build.app);
    const ProcessResult result = build.run(build.self_signed());
    ASSERT_EQ(result.exit_code, 0) << result.output;
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(folder_snapshot(build.app), before);
    EXPECT_EQ(verification_failure(build.output, credentials().self_cert), "");

    // The block saved is the one inside the executable.
    PeImage image;
    std::string error;
    ASSERT_TRUE(parse_pe(read_bytes(build.output), image, error)) << error;
    std::vector<std::string> failures;
    ContractExpectations expected;
    expected.block = read_bytes(build.block);
    check_payload_placement(image, expected, failures);
    EXPECT_TRUE(failures.empty()) << failures.front();

    std::vector<ArchiveEntry> entries;
    ASSERT_TRUE(unpack_block(expected.block, entries, error)) << error;
    const std::map<std::u16string, fs::path> original = {
        {u"app.dll", "app.dll"},
        {u"data\\helper.dll", "data/helper.dll"},
        {u"data\\tool.exe", "data/tool.exe"},
        {u"vendor.dll", "vendor.dll"},
        {u"readme.txt", "readme.txt"},
        {u"data\\table.bin", "data/table.bin"},
    };
    std::size_t signed_here = 0;
    for (const auto& entry : entries) {
        SCOPED_TRACE(narrow_text(entry.name));
        if (entry.name == u"app.ico") continue;
        ASSERT_EQ(original.count(entry.name), 1u);
        const auto& source = before.at(original.at(entry.name));
        const PeSignature state = pe_signature_state(source);
        if (state != PeSignature::unsigned_pe) {
            EXPECT_EQ(entry.data, source);  // plain files, and the maker's signature, as they were
            continue;
        }
        const fs::path unpacked = build.scratch.path / "unpacked" / std::to_string(signed_here++);
        write_bytes(unpacked, entry.data);
        EXPECT_EQ(verification_failure(unpacked, credentials().self_cert), "");
        expect_only_the_signature_added(source, entry.data);
    }
    EXPECT_EQ(signed_here, 3u);

    const auto signed_image = read_bytes(build.output);
    ASSERT_EQ(build.run({}).exit_code, 0);
    const auto block_with_signed_files = expected.block;
    EXPECT_NE(read_bytes(build.block), block_with_signed_files);
    // Same block inside, so the images compare byte for byte but for the
    // signature.
    write_bytes(build.scratch.path / "signed.block", block_with_signed_files);
    ASSERT_EQ(run_process({build_program(), "--kit", stub_kit().string(), "--payload-block",
                           (build.scratch.path / "signed.block").string(), "--output", build.output.string()})
                  .exit_code,
              0);
    expect_only_the_signature_added(read_bytes(build.output), signed_image);
}

TEST(CodeSigning, SigningTimeMakesSignedBuildsRepeatable) {
    ASSERT_TRUE(credentials().made);
    SignedBuild build;
    std::vector<unsigned char> first;
    {
        EnvironmentVariable time("SOURCE_DATE_EPOCH", "1767225600");
        ASSERT_EQ(build.run(build.self_signed()).exit_code, 0);
        first = read_bytes(build.output);
        ASSERT_EQ(build.run(build.self_signed()).exit_code, 0);
        EXPECT_EQ(read_bytes(build.output), first);
    }
    EnvironmentVariable time("SOURCE_DATE_EPOCH", "1767225601");
    ASSERT_EQ(build.run(build.self_signed()).exit_code, 0);
    EXPECT_NE(read_bytes(build.output), first);
}

TEST(CodeSigning, EveryFormOfCredentialsSigns) {
    ASSERT_TRUE(credentials().made);
    const Credentials& c = credentials();
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string ca;
    } const cases[] = {
        {"PKCS#12 with its password",
         {"--sign-pkcs12", c.pkcs12, "--sign-password-file", c.password, "--sign-ca", c.self_cert},
         c.self_cert},
        {"certificate issued by a CA",
         {"--sign-cert", c.leaf_cert, "--sign-key", c.leaf_key, "--sign-ca", c.ca_cert},
         c.ca_cert},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        SignedBuild build;
        const ProcessResult result = build.run(test.options);
        ASSERT_EQ(result.exit_code, 0) << result.output;
        EXPECT_EQ(verification_failure(build.output, test.ca), "");
    }
}

TEST(CodeSigning, RefusalsAreOneLineAndLeaveNothingBehind) {
    ASSERT_TRUE(credentials().made);
    const Credentials& c = credentials();
    ScratchFolder empty_path;
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::string message;
        std::string variable = "", value = "";
    } const cases[] = {
        {"no osslsigncode",
         {"--sign-cert", c.self_cert, "--sign-key", c.self_key},
         "signing needs osslsigncode, which is not on PATH",
         "PATH",
         empty_path.path.string()},
        {"key of another certificate", {"--sign-cert", c.self_cert, "--sign-key", c.leaf_key}, "cannot sign '"},
        {"missing key file",
         {"--sign-cert", c.self_cert, "--sign-key", c.dir.string() + "/none.key"},
         "none.key' is not a readable file"},
        {"wrong password", {"--sign-pkcs12", c.pkcs12, "--sign-password-file", c.wrong_password}, "(Wrong password?)"},
        {"issuer not trusted",
         {"--sign-cert", c.leaf_cert, "--sign-key", c.leaf_key},
         "does not verify after signing: unable to get local issuer certificate"},
        {"PKCS#12 checked against the system's roots",
         {"--sign-pkcs12", c.pkcs12, "--sign-password-file", c.password},
         "does not verify after signing: self-signed certificate"},
        // Nothing listens there: the server named reaches osslsigncode and
        // its failure stops the build.
        {"time-stamp server unreachable",
         {"--sign-cert", c.self_cert, "--sign-key", c.self_key, "--sign-timestamp", "http://127.0.0.1:9/tsa"},
         "Failed to get data from http://127.0.0.1:9/tsa"},
        {"signing time not a number",
         {"--sign-cert", c.self_cert, "--sign-key", c.self_key},
         "SOURCE_DATE_EPOCH '17e8' is not a number of seconds since 1970",
         "SOURCE_DATE_EPOCH",
         "17e8"},
        {"signing time too far",
         {"--sign-cert", c.self_cert, "--sign-key", c.self_key},
         "SOURCE_DATE_EPOCH '123456789012'",
         "SOURCE_DATE_EPOCH",
         "123456789012"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        SignedBuild build;
        const auto before = folder_snapshot(build.app);
        ProcessResult result;
        if (test.variable.empty()) {
            result = build.run(test.options);
        } else {
            EnvironmentVariable variable(test.variable, test.value);
            result = build.run(test.options);
        }
        expect_refusal(result, test.message);
        EXPECT_FALSE(fs::exists(build.output));
        EXPECT_FALSE(fs::exists(build.block));
        EXPECT_EQ(folder_snapshot(build.app), before);
    }
}

}  // namespace
