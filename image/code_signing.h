// Authenticode signing through osslsigncode. Windows judges every PE file a
// program loads, not only the executable, so a signed build signs each PE file
// of the application in a staging copy before packing (the application folder
// itself is never touched) and then the finished executable. Every file is
// verified right after it is signed and keeps its final name only once it
// verifies.
#pragma once

#include <filesystem>
#include <string>

struct SigningOptions {
    std::string cert;           // --sign-cert: certificate file, PEM or DER, with its chain
    std::string key;            // --sign-key: its private key
    std::string pkcs12;         // --sign-pkcs12: certificate and key in one file, instead of both
    std::string password_file;  // --sign-password-file: the key's password on the first line
    std::string timestamp_url;  // --sign-timestamp: an RFC 3161 time-stamp server
    std::string trust;          // --sign-ca: what the signed files must verify against
};

// The field a signing option's name fills, or nullptr for another name.
std::string* signing_option_field(SigningOptions& options, const std::string& name);

bool signing_requested(const SigningOptions& options);

// False with a one-line message for signing options that cannot go together.
// A given payload block cannot be signed inside, so it excludes signing.
bool check_signing_options(const SigningOptions& options, bool payload_block_given, std::string& error);

std::string signing_help_text();

// What every signing run needs: the options with absolute file names (the
// tool runs in the work folder), the tool itself, and the signing time.
struct Signer {
    SigningOptions options;
    std::string tool;          // absolute path of osslsigncode
    std::string signing_time;  // seconds since 1970 from SOURCE_DATE_EPOCH, or "" for now
    bool verbose = false;
};

// Finds osslsigncode on PATH and reads SOURCE_DATE_EPOCH; false with a
// one-line message when either is missing or malformed.
bool prepare_signer(const SigningOptions& options, bool verbose, Signer& signer, std::string& error);

// Copies every file of app_dir into staging (a new folder) and signs there
// each PE file that carries no signature yet. work receives the tool's output.
bool stage_signed_copy(const Signer& signer, const std::filesystem::path& app_dir, const std::filesystem::path& staging,
                       const std::filesystem::path& work, std::string& error);

// Signs file in place and verifies it; shown is its name in messages.
bool sign_file(const Signer& signer, const std::filesystem::path& file, const std::string& shown,
               const std::filesystem::path& work, std::string& error);
