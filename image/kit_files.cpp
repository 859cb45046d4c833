#include "image/kit_files.h"

#include <cstdlib>
#include <system_error>

#include "image/file_io.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

bool executable_path(fs::path& path) {
    std::error_code code;
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return false;
    buffer.resize(length);
    path = buffer;
#else
    path = fs::read_symlink("/proc/self/exe", code);
#endif
    return !code && !path.empty();
}

std::vector<std::string> lines_of(const std::vector<unsigned char>& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && bytes[i] != '\n') {
            line += static_cast<char>(bytes[i]);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') lines.push_back(line);
        line.clear();
    }
    return lines;
}

bool read_lines(const fs::path& path, std::vector<std::string>& lines, std::string& error) {
    std::vector<unsigned char> bytes;
    if (!read_file(path, bytes, error)) {
        error = "incomplete kit: " + error;
        return false;
    }
    lines = lines_of(bytes);
    return true;
}

bool read_toolchain(const fs::path& path, Kit& kit, std::string& error) {
    std::vector<std::string> lines;
    if (!read_lines(path, lines, error)) return false;
    for (const auto& line : lines) {
        const auto equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "cxx") kit.cxx = value;
        if (key == "windres") kit.windres = value;
    }
    if (kit.cxx.empty() || kit.windres.empty()) {
        error = "kit file '" + path.string() + "' must name cxx= and windres=";
        return false;
    }
    return true;
}

}  // namespace

bool locate_kit(const std::string& option, fs::path& dir, std::string& error) {
    if (!option.empty()) {
        dir = option;
        return true;
    }
    const char* environment = std::getenv(kit_environment_variable);
    if (environment != nullptr && *environment != '\0') {
        dir = environment;
        return true;
    }
    fs::path self;
    if (!executable_path(self)) {
        error = "cannot find the launcher kit: give --kit DIR or set ONEFILE_KIT";
        return false;
    }
    // build/dist keeps the kit in <prefix>/kit; an installed prefix keeps it
    // in <prefix>/lib/onefile/kit, where nothing else may claim a top folder.
    const fs::path prefix = self.parent_path().parent_path();
    std::error_code code;
    dir = fs::is_directory(prefix / kit_install_folder, code) ? prefix / kit_install_folder : prefix / "kit";
    return true;
}

bool load_kit(const fs::path& dir, Kit& kit, std::string& error) {
    std::error_code code;
    if (!fs::is_directory(dir, code)) {
        error = "launcher kit '" + dir.string() + "' is not a folder (give --kit DIR or set ONEFILE_KIT)";
        return false;
    }
    kit = Kit{};
    kit.dir = fs::absolute(dir, code);
    for (const char* name : kit_library_files) {
        const fs::path library = kit.dir / name;
        if (!fs::is_regular_file(library, code)) {
            error = "incomplete kit: '" + library.string() + "' is missing";
            return false;
        }
        kit.libraries.push_back(library);
    }
    kit.default_icon = kit.dir / kit_default_icon;
    return read_toolchain(kit.dir / "toolchain.txt", kit, error) &&
           read_lines(kit.dir / "link-flags.txt", kit.link_flags, error) &&
           read_lines(kit.dir / "link-libraries.txt", kit.link_libraries, error);
}
