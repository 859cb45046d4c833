// The packer: application folder in, payload block out.
//
//   collect and check the names -> pick and check the application library ->
//   order (library first, the rest sorted) -> archive -> one zstd frame ->
//   block
//
// Every refusal comes back as a one-line message; the callers end with exit
// code 2. The same inputs give the same block, byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/app_folder.h"
#include "image/frame_compressor.h"

struct ExtraFile {
    std::u16string name;  // archive name
    std::filesystem::path source;
};

struct PackRequest {
    std::filesystem::path app_dir;
    std::string app_library;  // UTF-8 name at the top level; "" picks the only DLL exporting run_code
    int level = default_compression_level;
    std::vector<ExtraFile> extra_files;
};

struct PackResult {
    std::vector<unsigned char> block;
    std::uint64_t archive_size = 0;
    std::uint64_t entry_count = 0;
};

bool pack_app_folder(const PackRequest& request, PackResult& result, std::string& error);

// The top-level *.dll files that export run_code; error names the candidates
// when there is not exactly one.
bool choose_application_library(const std::filesystem::path& app_dir, const std::vector<AppFile>& files,
                                std::u16string& name, std::string& error);

// Archive of the files in the order given, compressed into one frame.
bool compress_archive(const std::vector<AppFile>& files, int level, std::vector<unsigned char>& frame,
                      std::uint64_t& archive_size, std::string& error);

// Parses a --level value: a whole number within the compressor's range.
bool parse_level(const std::string& text, int& level, std::string& error);
