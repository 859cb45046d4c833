#include "image/file_io.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string reason() {
    return errno != 0 ? std::strerror(errno) : "I/O error";
}

}  // namespace

bool read_file(const fs::path& path, std::vector<unsigned char>& bytes, std::string& error) {
    std::error_code code;
    if (fs::is_directory(path, code)) {
        error = "'" + path.string() + "' is a folder, not a file";
        return false;
    }
    errno = 0;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        error = "cannot read '" + path.string() + "': " + reason();
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    if (stream.bad()) {
        error = "cannot read '" + path.string() + "': " + reason();
        return false;
    }
    return true;
}

bool write_file(const fs::path& path, const void* data, std::size_t size, std::string& error) {
    fs::path temporary = path;
    temporary += ".partial";
    errno = 0;
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        if (stream) stream.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (stream) stream.close();
        if (!stream) {
            error = "cannot write '" + path.string() + "': " + reason();
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code code;
    fs::rename(temporary, path, code);
    if (code) {
        error = "cannot write '" + path.string() + "': " + code.message();
        fs::remove(temporary, code);
        return false;
    }
    return true;
}

bool write_file(const fs::path& path, const std::vector<unsigned char>& bytes, std::string& error) {
    return write_file(path, bytes.data(), bytes.size(), error);
}

bool write_file(const fs::path& path, std::string_view text, std::string& error) {
    return write_file(path, text.data(), text.size(), error);
}
