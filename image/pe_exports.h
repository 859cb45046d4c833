// Is a file an x86-64 PE DLL whose export table names run_code? The launcher's
// child loads the application library and looks run_code up by name, so the
// packer refuses anything else up front rather than shipping a launcher that
// can only fail.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view entry_export_name = "run_code";

// "" when image is an x86-64 DLL exporting export_name, else why not.
std::string dll_export_problem(const std::vector<unsigned char>& image, std::string_view export_name);

// Reads path and checks it; error names the file.
bool check_application_library(const std::filesystem::path& path, std::string& error);

// True for a readable file that passes the check (for picking the default).
bool exports_run_code(const std::filesystem::path& path);

// How the signing step sees a file: anything with the MZ and PE signatures is
// a PE file, and one whose certificate table is not empty already carries a
// signature (its maker's, which is kept). header holds at least the file's
// first bytes up to the end of its optional header.
enum class PeSignature { not_pe, unsigned_pe, signed_pe };
PeSignature pe_signature_state(const std::vector<unsigned char>& header);
