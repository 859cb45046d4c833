#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "onefile-image-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Tests take read rights away; give them back so everything can go.
    for (auto it = fs::recursive_directory_iterator(path, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path, ignored);
}

void write_text(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void write_bytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> read_bytes(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

ProcessResult run_process(const std::vector<std::string>& argv) {
    ProcessResult result;
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        dup2(pipe_ends[1], STDERR_FILENO);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        std::vector<char*> vector;
        for (const auto& arg : argv) vector.push_back(const_cast<char*>(arg.c_str()));
        vector.push_back(nullptr);
        execvp(vector[0], vector.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<std::size_t>(got));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void expect_refusal(const ProcessResult& result, const std::string& message) {
    EXPECT_EQ(result.exit_code, 2) << result.output;
    EXPECT_EQ(result.output.rfind("onefile-build: error: ", 0), 0u) << result.output;
    EXPECT_NE(result.output.find(message), std::string::npos) << "'" << result.output << "' lacks '" << message << "'";
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
}

fs::path fixture(const std::string& name) {
    return fs::path(ONEFILE_TEST_FIXTURES) / name;
}
fs::path stub_kit() {
    return ONEFILE_TEST_KIT;
}
fs::path default_icon() {
    return ONEFILE_TEST_DEFAULT_ICON;
}
std::string build_program() {
    return ONEFILE_BUILD_PROGRAM;
}
std::string pack_program() {
    return ONEFILE_PACK_PROGRAM;
}

void make_app_folder(const fs::path& root) {
    fs::create_directories(root / "data");
    fs::copy_file(fixture("app_library.dll"), root / "app.dll");
    write_text(root / "readme.txt", "read me\n");
    write_text(root / "data" / "table.bin", std::string(1000, 'x'));
}

std::string narrow_text(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
}
