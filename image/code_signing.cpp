#include "image/code_signing.h"

#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

#include "image/app_folder.h"
#include "image/pe_exports.h"
#include "image/toolchain_link.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr char signing_tool[] = "osslsigncode";
constexpr char signing_time_variable[] = "SOURCE_DATE_EPOCH";
constexpr char signed_suffix[] = ".signed";
// Enough for the DOS stub, the COFF header and the whole optional header.
constexpr std::streamsize pe_header_bytes = 4096;

bool find_on_path(const std::string& name, std::string& found) {
#ifdef _WIN32
    const char separator = ';';
    const std::string file = name + ".exe";
#else
    const char separator = ':';
    const std::string file = name;
#endif
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const std::size_t end = rest.find(separator);
        const std::string folder = rest.substr(0, end);
        rest = end == std::string::npos ? "" : rest.substr(end + 1);
        if (folder.empty()) continue;
        std::error_code code;
        const fs::path candidate = fs::absolute(fs::path(folder) / file, code);
        if (code || !fs::is_regular_file(candidate, code)) continue;
#ifndef _WIN32
        if (access(candidate.c_str(), X_OK) != 0) continue;
#endif
        found = candidate.string();
        return true;
    }
    return false;
}

bool read_signing_time(std::string& seconds, std::string& error) {
    const char* value = std::getenv(signing_time_variable);
    seconds = value != nullptr ? value : "";
    if (seconds.empty()) return true;
    // Eleven digits reach the year 5138; more would only overflow the tool.
    if (seconds.size() > 11 || seconds.find_first_not_of("0123456789") != std::string::npos) {
        error = std::string(signing_time_variable) + " '" + seconds + "' is not a number of seconds since 1970";
        return false;
    }
    return true;
}

bool absolute_file(std::string& name, std::string& error) {
    if (name.empty()) return true;
    std::error_code code;
    const fs::path path = fs::absolute(name, code);
    if (code || !fs::is_regular_file(path, code)) {
        error = "signing file '" + name + "' is not a readable file";
        return false;
    }
    name = path.string();
    return true;
}

// osslsigncode prints its progress, OpenSSL's error queue and a verdict; the
// reason a user can act on is a verifier's "Error:" line, else the first line
// that is none of those.
std::string tool_reason(const std::string& output) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        line = line.substr(first);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        lines.push_back(line);
    }
    for (const auto& line : lines) {
        if (line.rfind("Error: ", 0) == 0) return line.substr(7);
    }
    for (const auto& line : lines) {
        if (line.find(":error:") != std::string::npos || line.rfind("Connecting to ", 0) == 0 || line == "Failed" ||
            line == "Succeeded") {
            continue;
        }
        return line;
    }
    return "no reason given";
}

bool run_signing_tool(const Signer& signer, const std::vector<std::string>& argv, const fs::path& work,
                      const std::string& failure, std::string& error) {
    int status = 0;
    std::string output;
    if (!run_tool_collecting(argv, work, signer.verbose, status, output, error)) return false;
    if (status == 0) return true;
    error = failure + ": " + tool_reason(output);
    return false;
}

std::vector<std::string> sign_command(const Signer& signer, const fs::path& in, const fs::path& out) {
    const SigningOptions& o = signer.options;
    std::vector<std::string> argv = {signer.tool, "sign"};
    if (!o.pkcs12.empty()) {
        argv.insert(argv.end(), {"-pkcs12", o.pkcs12});
    } else {
        argv.insert(argv.end(), {"-certs", o.cert, "-key", o.key});
    }
    if (!o.password_file.empty()) argv.insert(argv.end(), {"-readpass", o.password_file});
    argv.insert(argv.end(), {"-h", "sha256"});
    if (!signer.signing_time.empty()) argv.insert(argv.end(), {"-time", signer.signing_time});
    if (!o.timestamp_url.empty()) argv.insert(argv.end(), {"-ts", o.timestamp_url});
    argv.insert(argv.end(), {"-in", in.string(), "-out", out.string()});
    return argv;
}

// Without --sign-ca the certificate file is the trust anchor (it holds the
// chain up to a self-signed root); a PKCS#12 file is not readable as one, so
// the tool's own store of trusted roots stands in.
std::vector<std::string> verify_command(const Signer& signer, const fs::path& file) {
    const SigningOptions& o = signer.options;
    std::vector<std::string> argv = {signer.tool, "verify"};
    const std::string& trust = !o.trust.empty() ? o.trust : o.cert;
    if (!trust.empty()) argv.insert(argv.end(), {"-CAfile", trust});
    argv.insert(argv.end(), {"-in", file.string()});
    return argv;
}

PeSignature file_signature_state(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::vector<unsigned char> header(static_cast<std::size_t>(pe_header_bytes));
    stream.read(reinterpret_cast<char*>(header.data()), pe_header_bytes);
    header.resize(static_cast<std::size_t>(stream.gcount()));
    return pe_signature_state(header);
}

bool copy_into(const fs::path& source, const fs::path& target, std::string& error) {
    std::error_code code;
    fs::create_directories(target.parent_path(), code);
    if (!code) fs::copy_file(source, target, code);
    if (code) {
        error = "cannot copy '" + source.string() + "' to the signing folder: " + code.message();
        return false;
    }
    return true;
}

}  // namespace

std::string* signing_option_field(SigningOptions& options, const std::string& name) {
    if (name == "--sign-cert") return &options.cert;
    if (name == "--sign-key") return &options.key;
    if (name == "--sign-pkcs12") return &options.pkcs12;
    if (name == "--sign-password-file") return &options.password_file;
    if (name == "--sign-timestamp") return &options.timestamp_url;
    if (name == "--sign-ca") return &options.trust;
    return nullptr;
}

bool signing_requested(const SigningOptions& options) {
    return !options.cert.empty() || !options.key.empty() || !options.pkcs12.empty();
}

bool check_signing_options(const SigningOptions& options, bool payload_block_given, std::string& error) {
    const bool pair = !options.cert.empty() || !options.key.empty();
    if (pair && !options.pkcs12.empty()) {
        error = "--sign-pkcs12 holds the certificate and the key; give it instead of --sign-cert and --sign-key";
    } else if (pair && (options.cert.empty() || options.key.empty())) {
        error = "--sign-cert and --sign-key go together";
    } else if (!signing_requested(options) &&
               (!options.password_file.empty() || !options.timestamp_url.empty() || !options.trust.empty())) {
        error = "--sign-password-file, --sign-timestamp and --sign-ca need --sign-cert and --sign-key or --sign-pkcs12";
    } else if (signing_requested(options) && payload_block_given) {
        error = "--payload-block cannot be signed: the files inside a given block are out of reach";
    } else {
        return true;
    }
    return false;
}

std::string signing_help_text() {
    return R"(
Signing (needs osslsigncode on PATH):
  --sign-cert FILE       code-signing certificate, PEM or DER, with its chain
  --sign-key FILE        its private key
  --sign-pkcs12 FILE     certificate and key in one PKCS#12 file, instead of both
  --sign-password-file FILE
                         the key's password, on the first line of FILE
  --sign-timestamp URL   countersign with this RFC 3161 time-stamp server
  --sign-ca FILE         trusted certificates (PEM) every signed file must
                         verify against (default: the --sign-cert file; with
                         --sign-pkcs12, the system's trusted roots)
  Every PE file of the application without a signature is signed in a copy
  (the folder itself is not changed), then the executable; each is verified.
  SOURCE_DATE_EPOCH, when set, is the signing time: without a time-stamp
  server the same inputs then give the same signed executable.)";
}

bool prepare_signer(const SigningOptions& options, bool verbose, Signer& signer, std::string& error) {
    signer = Signer{};
    signer.options = options;
    signer.verbose = verbose;
    if (!find_on_path(signing_tool, signer.tool)) {
        error = std::string("signing needs ") + signing_tool + ", which is not on PATH (Debian package " +
                signing_tool + ")";
        return false;
    }
    SigningOptions& files = signer.options;
    return read_signing_time(signer.signing_time, error) && absolute_file(files.cert, error) &&
           absolute_file(files.key, error) && absolute_file(files.pkcs12, error) &&
           absolute_file(files.password_file, error) && absolute_file(files.trust, error);
}

bool sign_file(const Signer& signer, const fs::path& file, const std::string& shown, const fs::path& work,
               std::string& error) {
    fs::path signed_file = file;
    signed_file += signed_suffix;
    if (!run_signing_tool(signer, sign_command(signer, file, signed_file), work, "cannot sign " + shown, error) ||
        !run_signing_tool(signer, verify_command(signer, signed_file), work, shown + " does not verify after signing",
                          error)) {
        return false;
    }
    std::error_code code;
    fs::rename(signed_file, file, code);
    if (code) {
        error = "cannot replace " + shown + " by its signed copy: " + code.message();
        return false;
    }
    return true;
}

bool stage_signed_copy(const Signer& signer, const fs::path& app_dir, const fs::path& staging, const fs::path& work,
                       std::string& error) {
    std::vector<AppFile> files;
    if (!collect_app_folder(app_dir, files, error)) return false;
    for (const auto& file : files) {
        const fs::path target = staging / file.source.lexically_relative(app_dir);
        if (!copy_into(file.source, target, error)) return false;
        if (file_signature_state(target) != PeSignature::unsigned_pe) continue;
        if (!sign_file(signer, target, quoted_name(file.name), work, error)) return false;
    }
    return true;
}
