#include "image/exe_inspection.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "image/launch_mode.h"
#include "image/file_io.h"
#include "image/image_contract.h"
#include "image/payload_archive_reader.h"
#include "image/pe_reader.h"
#include "image/text_encoding.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t copy_chunk = 1 << 20;

struct Launcher {
    PeImage image;
    std::uint64_t block_offset = 0;
    std::uint64_t block_size = 0;
};

bool read_launcher(const fs::path& exe, Launcher& launcher, std::string& error) {
    std::vector<unsigned char> bytes;
    if (!read_file(exe, bytes, error)) return false;
    if (!parse_pe(std::move(bytes), launcher.image, error) ||
        !locate_payload_block(launcher.image, launcher.block_offset, launcher.block_size, error)) {
        error = "'" + exe.string() + "' is not a launcher made by onefile-build (" + error + ")";
        return false;
    }
    return true;
}

bool open_payload(const fs::path& exe, const Launcher& launcher, ArchiveReader& reader, std::string& error) {
    if (open_archive_reader(launcher.image.bytes.data() + launcher.block_offset, launcher.block_size, reader, error)) {
        return true;
    }
    error = "'" + exe.string() + "': " + error;
    return false;
}

// Every entry until the end marker, then the frame's end; step handles one
// entry and consumes its data.
template <typename Step>
bool walk_entries(const fs::path& exe, ArchiveReader& reader, Step step, std::string& error) {
    ArchiveEntryHeader entry;
    bool end = false;
    bool ok = true;
    while (ok && next_archive_entry(reader, entry, end, error)) ok = step(entry);
    ok = ok && end && finish_archive(reader, error);
    close_archive_reader(reader);
    if (!ok) error = "'" + exe.string() + "': " + error;
    return ok;
}

fs::path entry_path(const fs::path& folder, const std::u16string& name) {
    std::string relative = utf16_to_utf8(name);
    for (auto& c : relative) c = c == '\\' ? '/' : c;
    return folder / relative;
}

// Created exclusively: an entry never replaces a file, not even one an
// earlier entry of the same archive wrote.
bool write_entry(ArchiveReader& reader, const fs::path& path, std::uint64_t size, std::vector<unsigned char>& buffer,
                 std::string& error) {
    std::error_code code;
    fs::create_directories(path.parent_path(), code);
    const int file = code ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) {
        error = "cannot create '" + path.string() + "': " + (code ? code.message() : std::strerror(errno));
        return false;
    }
    bool ok = true;
    for (std::uint64_t left = size; ok && left > 0;) {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        ok = read_archive_bytes(reader, buffer.data(), take, error);
        for (std::size_t done = 0; ok && done < take;) {
            const ssize_t wrote = ::write(file, buffer.data() + done, take - done);
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) {
                error = "cannot write '" + path.string() + "': " + std::strerror(errno);
                ok = false;
            } else {
                done += static_cast<std::size_t>(wrote);
            }
        }
        left -= take;
    }
    if (::close(file) != 0 && ok) {
        error = "cannot write '" + path.string() + "': " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

bool prepare_folder(const fs::path& folder, std::string& error) {
    std::error_code code;
    if (!fs::exists(folder, code)) {
        fs::create_directories(folder, code);
        if (!code) return true;
    } else if (fs::is_directory(folder, code) && fs::is_empty(folder, code)) {
        return true;
    }
    error = "--to '" + folder.string() + "' " + (code ? "cannot be made: " + code.message() : "is not an empty folder");
    return false;
}

const char* subsystem_text(std::uint16_t subsystem) {
    return subsystem == subsystem_console ? "console" : "GUI";
}

}  // namespace

bool list_exe(const fs::path& exe, std::FILE* out, std::string& error) {
    Launcher launcher;
    std::u16string company, product, version;
    if (!read_launcher(exe, launcher, error)) return false;
    if (!read_build_texts(launcher.image, company, product, version, error)) {
        error = "'" + exe.string() + "': " + error;
        return false;
    }
    const std::vector<unsigned char> block(launcher.image.bytes.begin() + launcher.block_offset,
                                           launcher.image.bytes.begin() + launcher.block_offset + launcher.block_size);
    LaunchMode mode;
    const bool cached = read_launch_mode(launcher.image.bytes, content_key_of(block), mode) && !mode.cache_spec.empty();
    std::string lines = "company: " + utf16_to_utf8(company) + "\nproduct: " + utf16_to_utf8(product) +
                        "\nversion: " + utf16_to_utf8(version) +
                        "\nmode: " + (cached ? "cached in " + utf16_to_utf8(mode.cache_spec) : std::string("temp")) +
                        ", " + subsystem_text(launcher.image.subsystem) +
                        " subsystem\ncontent key: " + utf16_to_utf8(content_key_of(block)) + "\n";
    ArchiveReader reader;
    if (!open_payload(exe, launcher, reader, error)) return false;
    // Collected first: a listing that ends in an error prints no entries.
    const bool ok = walk_entries(
        exe, reader,
        [&](const ArchiveEntryHeader& entry) {
            lines += std::to_string(entry.size) + "\t" + utf16_to_utf8(entry.name) + "\n";
            return skip_archive_bytes(reader, entry.size, error);
        },
        error);
    if (ok) std::fputs(lines.c_str(), out);
    return ok;
}

bool extract_exe(const fs::path& exe, const fs::path& folder, std::FILE* out, std::string& error) {
    Launcher launcher;
    ArchiveReader reader;
    if (!read_launcher(exe, launcher, error) || !prepare_folder(folder, error) ||
        !open_payload(exe, launcher, reader, error)) {
        return false;
    }
    std::vector<unsigned char> buffer(copy_chunk);
    std::uint64_t count = 0;
    const bool ok = walk_entries(
        exe, reader,
        [&](const ArchiveEntryHeader& entry) {
            ++count;
            return write_entry(reader, entry_path(folder, entry.name), entry.size, buffer, error);
        },
        error);
    if (ok)
        std::fprintf(out, "%s: %llu entries written to %s\n", exe.string().c_str(),
                     static_cast<unsigned long long>(count), folder.string().c_str());
    return ok;
}

bool verify_exe(const fs::path& exe, std::FILE* out, std::string& error) {
    Launcher launcher;
    ContractExpectations expected;
    if (!read_launcher(exe, launcher, error)) return false;
    if (!expectations_from_image(launcher.image, expected, error)) {
        error = "'" + exe.string() + "': " + error;
        return false;
    }
    const std::vector<std::string> failures = check_image_contract(launcher.image.bytes, expected);
    if (!failures.empty()) {
        error = "'" + exe.string() + "' breaks the image contract: ";
        for (std::size_t i = 0; i < failures.size(); ++i) error += (i == 0 ? "" : "; ") + failures[i];
        return false;
    }
    std::fprintf(out, "%s: the payload decodes completely and the image contract holds (%s subsystem)\n",
                 exe.string().c_str(), subsystem_text(expected.subsystem));
    return true;
}
