// The command line of onefile-build.
#pragma once

#include <string>
#include <vector>

#include "image/build_constants.h"
#include "image/code_signing.h"
#include "image/frame_compressor.h"

struct BuildOptions {
    std::string app_dir;
    std::string output;
    std::string app_library;  // "" = the only top-level DLL exporting run_code
    std::string icon;         // "" = the kit's default icon
    std::string company = build_constants::default_company;
    std::string product = build_constants::default_product;
    std::string version = build_constants::default_version;
    int level = default_compression_level;
    std::string payload_block;  // link this block file as it is
    std::string save_payload_block;
    std::string kit;
    bool console = false;  // link for the console subsystem instead of GUI
    SigningOptions signing;
    bool verbose = false;
    bool help = false;
    // Inspecting a built exe instead of building one: at most one of these.
    std::string list, extract, verify;
    std::string extract_to;
};

// False with a one-line message for an unknown option, a missing value, an
// option given twice, a required option left out, or an inspecting option
// mixed with building ones. --help wins over all.
bool parse_build_options(const std::vector<std::string>& arguments, BuildOptions& options, std::string& error);

std::string build_help_text();
