#include "image/pe_exports.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr std::uint16_t machine_amd64 = 0x8664;
constexpr std::uint16_t characteristic_dll = 0x2000;
constexpr std::uint16_t optional_magic_pe32_plus = 0x20B;
constexpr std::uint16_t optional_magic_pe32 = 0x10B;
constexpr std::uint32_t certificate_directory = 4;

// Bounds-checked little-endian reads: a truncated or hostile file yields
// false, never a read past the buffer.
struct ImageView {
    const std::vector<unsigned char>& bytes;

    bool has(std::uint64_t offset, std::uint64_t count) const {
        return offset <= bytes.size() && count <= bytes.size() - offset;
    }
    bool u16(std::uint64_t offset, std::uint16_t& value) const {
        if (!has(offset, 2)) return false;
        value = static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
        return true;
    }
    bool u32(std::uint64_t offset, std::uint32_t& value) const {
        if (!has(offset, 4)) return false;
        value = static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
                static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
                static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
        return true;
    }
};

struct Section {
    std::uint32_t virtual_address, virtual_size, raw_offset, raw_size;
};

// File offset of an RVA through the section table, or false when no
// section's raw data holds it.
bool rva_to_offset(const std::vector<Section>& sections, std::uint32_t rva, std::uint64_t& offset) {
    for (const auto& s : sections) {
        const std::uint32_t extent = std::max(s.virtual_size, s.raw_size);
        if (rva >= s.virtual_address && rva - s.virtual_address < extent && rva - s.virtual_address < s.raw_size) {
            offset = static_cast<std::uint64_t>(s.raw_offset) + (rva - s.virtual_address);
            return true;
        }
    }
    return false;
}

bool name_at(const ImageView& view, std::uint64_t offset, std::string_view wanted) {
    return view.has(offset, wanted.size() + 1) &&
           std::memcmp(view.bytes.data() + offset, wanted.data(), wanted.size()) == 0 &&
           view.bytes[offset + wanted.size()] == 0;
}

// Offset of the COFF header behind the MZ and PE signatures.
bool coff_header(const ImageView& view, std::uint64_t& coff) {
    std::uint16_t mz = 0;
    std::uint32_t pe_offset = 0;
    std::uint32_t pe_signature = 0;
    if (!view.u16(0, mz) || mz != 0x5A4D || !view.u32(0x3C, pe_offset) || !view.u32(pe_offset, pe_signature) ||
        pe_signature != 0x00004550) {
        return false;
    }
    coff = static_cast<std::uint64_t>(pe_offset) + 4;
    return true;
}

}  // namespace

PeSignature pe_signature_state(const std::vector<unsigned char>& header) {
    const ImageView view{header};
    std::uint64_t coff = 0;
    if (!coff_header(view, coff)) return PeSignature::not_pe;
    const std::uint64_t optional = coff + 20;
    std::uint16_t magic = 0;
    if (!view.u16(optional, magic) || (magic != optional_magic_pe32 && magic != optional_magic_pe32_plus)) {
        return PeSignature::unsigned_pe;
    }
    // The data directories follow the fields whose width differs between
    // the two formats.
    const std::uint64_t count_at = optional + (magic == optional_magic_pe32_plus ? 108 : 92);
    std::uint32_t directory_count = 0, table_size = 0;
    if (!view.u32(count_at, directory_count) || directory_count <= certificate_directory ||
        !view.u32(count_at + 4 + 8 * certificate_directory + 4, table_size)) {
        return PeSignature::unsigned_pe;
    }
    return table_size != 0 ? PeSignature::signed_pe : PeSignature::unsigned_pe;
}

std::string dll_export_problem(const std::vector<unsigned char>& image, std::string_view export_name) {
    const ImageView view{image};
    std::uint64_t coff = 0;
    if (!coff_header(view, coff)) return "is not a PE file";
    std::uint16_t machine = 0, section_count = 0, optional_size = 0, characteristics = 0, magic = 0;
    if (!view.u16(coff, machine) || !view.u16(coff + 2, section_count) || !view.u16(coff + 16, optional_size) ||
        !view.u16(coff + 18, characteristics)) {
        return "is a truncated PE file";
    }
    if ((characteristics & characteristic_dll) == 0) return "is not a DLL";
    const std::uint64_t optional = coff + 20;
    if (machine != machine_amd64 || !view.u16(optional, magic) || magic != optional_magic_pe32_plus) {
        return "is not an x86-64 DLL";
    }
    std::uint32_t directory_count = 0, export_rva = 0, export_size = 0;
    if (!view.u32(optional + 108, directory_count) || directory_count < 1 || optional_size < 120 ||
        !view.u32(optional + 112, export_rva) || !view.u32(optional + 116, export_size)) {
        return "is a truncated PE file";
    }
    std::vector<Section> sections;
    const std::uint64_t table = optional + optional_size;
    for (std::uint16_t i = 0; i < section_count; ++i) {
        Section s{};
        const std::uint64_t at = table + 40ull * i;
        if (!view.u32(at + 8, s.virtual_size) || !view.u32(at + 12, s.virtual_address) ||
            !view.u32(at + 16, s.raw_size) || !view.u32(at + 20, s.raw_offset)) {
            return "is a truncated PE file";
        }
        sections.push_back(s);
    }
    const std::string missing = "does not export " + std::string(export_name);
    std::uint64_t directory = 0;
    if (export_rva == 0 || export_size == 0 || !rva_to_offset(sections, export_rva, directory)) return missing;
    std::uint32_t name_count = 0, names_rva = 0;
    std::uint64_t names = 0;
    if (!view.u32(directory + 24, name_count) || !view.u32(directory + 32, names_rva) ||
        (name_count > 0 && !rva_to_offset(sections, names_rva, names))) {
        return "has a damaged export table";
    }
    for (std::uint32_t i = 0; i < name_count; ++i) {
        std::uint32_t name_rva = 0;
        std::uint64_t name = 0;
        if (!view.u32(names + 4ull * i, name_rva) || !rva_to_offset(sections, name_rva, name)) {
            return "has a damaged export table";
        }
        if (name_at(view, name, export_name)) return "";
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
