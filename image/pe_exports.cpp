#include "image/pe_exports.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#include "image/pe_reader.h"

namespace {

bool name_at(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::string_view wanted) {
    return offset <= bytes.size() && wanted.size() + 1 <= bytes.size() - offset &&
           std::memcmp(bytes.data() + offset, wanted.data(), wanted.size()) == 0 && bytes[offset + wanted.size()] == 0;
}

}  // namespace

PeSignature pe_signature_state(const std::vector<unsigned char>& header) {
    std::uint64_t coff = 0;
    if (!find_coff_header(header, coff)) return PeSignature::not_pe;
    const std::uint64_t optional = coff + 20;
    std::uint16_t magic = 0;
    if (!read_u16(header, optional, magic) || (magic != optional_magic_pe32 && magic != optional_magic_pe32_plus)) {
        return PeSignature::unsigned_pe;
    }
    // The data directories follow the fields whose width differs between
    // the two formats.
    const std::uint64_t count_at = optional + (magic == optional_magic_pe32_plus ? 108 : 92);
    std::uint32_t directory_count = 0, table_size = 0;
    if (!read_u32(header, count_at, directory_count) || directory_count <= directory_security ||
        !read_u32(header, count_at + 4 + 8 * directory_security + 4, table_size)) {
        return PeSignature::unsigned_pe;
    }
    return table_size != 0 ? PeSignature::signed_pe : PeSignature::unsigned_pe;
}

std::string dll_export_problem(const std::vector<unsigned char>& bytes, std::string_view export_name) {
    PeImage image;
    std::string error;
    const bool parsed = parse_pe(bytes, image, error);
    if (!parsed && error == "not a PE file") return "is not a PE file";
    if (!parsed && error == "truncated file header") return "is a truncated PE file";
    if ((image.characteristics & file_dll) == 0) return "is not a DLL";
    if (image.machine != machine_amd64 || image.optional_magic != optional_magic_pe32_plus) {
        return "is not an x86-64 DLL";
    }
    if (!parsed || image.directories.size() <= directory_export) return "is a truncated PE file";
    const std::string missing = "does not export " + std::string(export_name);
    const PeDirectory exports = image.directories[directory_export];
    std::uint64_t directory = 0;
    if (exports.rva == 0 || exports.size == 0 || !rva_to_offset(image, exports.rva, directory)) return missing;
    std::uint32_t name_count = 0, names_rva = 0;
    std::uint64_t names = 0;
    if (!read_u32(image.bytes, directory + 24, name_count) || !read_u32(image.bytes, directory + 32, names_rva) ||
        (name_count > 0 && !rva_to_offset(image, names_rva, names))) {
        return "has a damaged export table";
    }
    for (std::uint32_t i = 0; i < name_count; ++i) {
        std::uint32_t name_rva = 0;
        std::uint64_t name = 0;
        if (!read_u32(image.bytes, names + 4ull * i, name_rva) || !rva_to_offset(image, name_rva, name)) {
            return "has a damaged export table";
        }
        if (name_at(image.bytes, name, export_name)) return "";
    }
    return missing;
}

bool check_application_library(const std::filesystem::path& path, std::string& error) {
    errno = 0;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        error = "cannot read the application library '" + path.string() +
                "': " + (errno != 0 ? std::strerror(errno) : "open failed");
        return false;
    }
    const std::vector<unsigned char> image((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad()) {
        error = "cannot read the application library '" + path.string() + "'";
        return false;
    }
    const std::string problem = dll_export_problem(image, entry_export_name);
    if (!problem.empty()) {
        error = "application library '" + path.string() + "' " + problem;
        return false;
    }
    return true;
}

bool exports_run_code(const std::filesystem::path& path) {
    std::string ignored;
    return check_application_library(path, ignored);
}
