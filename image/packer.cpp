#include "image/packer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

#include "image/archive_writer.h"
#include "image/payload_block.h"
#include "image/pe_exports.h"
#include "image/progress.h"
#include "image/text_encoding.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t read_chunk = 1 << 20;

int worker_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

bool ends_with_dll(std::u16string_view name) {
    if (name.size() < 4) return false;
    std::u16string tail(name.substr(name.size() - 4));
    for (auto& unit : tail) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
    return tail == u".dll";
}

// Streams one file into the frame; the size must still be the one recorded
// when the folder was collected, since the header already carries it.
bool add_file_data(FrameCompressor& compressor, const AppFile& file, std::vector<char>& buffer,
                   PackingProgress& progress, std::string& error) {
    errno = 0;
    std::ifstream stream(file.source, std::ios::binary);
    if (!stream) {
        error = "cannot read '" + file.source.string() + "': " + (errno != 0 ? std::strerror(errno) : "open failed");
        return false;
    }
    std::uint64_t remaining = file.size;
    while (remaining > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, buffer.size()));
        stream.read(buffer.data(), static_cast<std::streamsize>(want));
        if (static_cast<std::size_t>(stream.gcount()) != want) {
            error = "'" + file.source.string() + "' changed while it was being packed";
            return false;
        }
        if (!frame_add(compressor, buffer.data(), want)) {
            error = compressor.error;
            return false;
        }
        remaining -= want;
        progress_update(progress, progress.files_done, compressor.bytes_in, compressor.frame.size());
    }
    if (stream.peek() != std::char_traits<char>::eof()) {
        error = "'" + file.source.string() + "' changed while it was being packed";
        return false;
    }
    return true;
}

bool add_bytes(FrameCompressor& compressor, const std::vector<unsigned char>& bytes, std::string& error) {
    if (frame_add(compressor, bytes.data(), bytes.size())) return true;
    error = compressor.error;
    return false;
}

}  // namespace

bool parse_level(const std::string& text, int& level, std::string& error) {
    const bool digits = !text.empty() && text.size() <= 3 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int value = digits ? std::stoi(text) : 0;
    if (!digits || value < min_compression_level || value > max_compression_level) {
        error = "--level must be a whole number from " + std::to_string(min_compression_level) + " to " +
                std::to_string(max_compression_level) + ", not '" + text + "'";
        return false;
    }
    level = value;
    return true;
}

bool choose_application_library(const fs::path& app_dir, const std::vector<AppFile>& files, std::u16string& name,
                                std::string& error) {
    std::vector<std::u16string> candidates;
    for (const auto& file : files) {
        if (file.name.find(u'\\') == std::u16string::npos && ends_with_dll(file.name) &&
            exports_run_code(file.source)) {
            candidates.push_back(file.name);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    if (candidates.size() == 1) {
        name = candidates.front();
        return true;
    }
    if (candidates.empty()) {
        error = "no DLL at the top level of '" + app_dir.string() +
                "' exports run_code; name the application library with --app-library";
        return false;
    }
    error = "several DLLs export run_code (";
    for (std::size_t i = 0; i < candidates.size(); ++i) error += (i ? ", " : "") + quoted_name(candidates[i]);
    error += "); choose one with --app-library";
    return false;
}

bool compress_archive(const std::vector<AppFile>& files, int level, std::vector<unsigned char>& frame,
                      std::uint64_t& archive_size, std::string& error) {
    FrameCompressor compressor;
    if (!frame_begin(compressor, level, worker_count())) {
        error = compressor.error;
        return false;
    }
    PackingProgress progress;
    progress_begin(progress, files.size());
    std::vector<char> buffer(read_chunk);
    bool ok = true;
    for (std::size_t i = 0; ok && i < files.size(); ++i) {
        ok = add_bytes(compressor, entry_header(files[i].name, files[i].size), error) &&
             add_file_data(compressor, files[i], buffer, progress, error);
        if (ok) progress_update(progress, i + 1, compressor.bytes_in, compressor.frame.size());
    }
    ok = ok && add_bytes(compressor, end_marker(), error);
    if (ok && !frame_end(compressor)) {
        error = compressor.error;
        ok = false;
    }
    // The closing flush writes the last of the frame: show the final size.
    if (ok) progress_update(progress, files.size(), compressor.bytes_in, compressor.frame.size());
    progress_end(progress);
    if (!ok) {
        frame_abandon(compressor);
        return false;
    }
    archive_size = compressor.bytes_in;
    frame = std::move(compressor.frame);
    return true;
}

bool pack_app_folder(const PackRequest& request, PackResult& result, std::string& error) {
    std::vector<AppFile> files;
    if (!collect_app_folder(request.app_dir, files, error)) return false;
    for (const auto& extra : request.extra_files) {
        if (!add_extra_file(files, extra.name, extra.source, error)) return false;
    }
    if (!check_name_collisions(files, error)) return false;
    std::u16string library;
    if (request.app_library.empty()) {
        if (!choose_application_library(request.app_dir, files, library, error)) return false;
    } else if (!utf8_to_utf16(request.app_library, library)) {
        error = "--app-library is not valid UTF-8";
        return false;
    }
    if (!order_entries(files, library, error)) return false;
    if (!check_application_library(files.front().source, error)) return false;
    std::vector<unsigned char> frame;
    if (!compress_archive(files, request.level, frame, result.archive_size, error)) return false;
    result.block = payload_block(frame);
    result.entry_count = files.size();
    return true;
}
