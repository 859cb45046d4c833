// Whole-file reads and writes for the host tools, with one-line errors.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

bool read_file(const std::filesystem::path& path, std::vector<unsigned char>& bytes, std::string& error);
// Writes a temporary file beside path and renames it over path, so a failed
// run never leaves a half-written output behind.
bool write_file(const std::filesystem::path& path, const void* data, std::size_t size, std::string& error);
bool write_file(const std::filesystem::path& path, const std::vector<unsigned char>& bytes, std::string& error);
bool write_file(const std::filesystem::path& path, std::string_view text, std::string& error);
