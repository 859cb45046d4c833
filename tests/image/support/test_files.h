// Files, folders and processes for the host image tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
struct ScratchFolder {
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::filesystem::path path;
};

void write_text(const std::filesystem::path& path, const std::string& text);
void write_bytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> read_bytes(const std::filesystem::path& path);

struct ProcessResult {
    int exit_code = -1;
    std::string output;  // standard output and standard error, interleaved
};

// Runs argv directly (no shell; argv[0] looked up on PATH when it has no
// slash) and collects what it prints.
ProcessResult run_process(const std::vector<std::string>& argv);

// Exit code 2 and exactly one line, "onefile-build: error: ..." holding message.
void expect_refusal(const ProcessResult& result, const std::string& message);

// The cross-compiled fixtures and the stand-in kit.
std::filesystem::path fixture(const std::string& name);
std::filesystem::path stub_kit();
std::filesystem::path default_icon();
std::string build_program();
std::string pack_program();

// An application folder with the fixture library as app.dll, a text file
// and a file one folder down.
void make_app_folder(const std::filesystem::path& root);

// Decodes the UTF-16 of a u16string literal for messages.
std::string narrow_text(const std::u16string& text);
