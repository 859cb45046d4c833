#include "image/pe_reader.h"

namespace {

constexpr std::uint32_t resource_subdirectory_bit = 0x80000000;
constexpr std::uint32_t resource_name_bit = 0x80000000;
constexpr int resource_levels = 3;

bool has(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint64_t count) {
    return offset <= bytes.size() && count <= bytes.size() - offset;
}

struct ResourceWalk {
    const PeImage& image;
    std::uint64_t root = 0;  // file offset of the resource directory
    std::uint64_t end = 0;
    std::vector<PeResource>& out;
    std::string& error;
    int directories_seen = 0;
};

bool walk_directory(ResourceWalk& walk, std::uint32_t relative, int level, PeResource path) {
    // A loop in the tree would never end: no honest tree has this many.
    if (++walk.directories_seen > 10000) {
        walk.error = "resource tree has a loop";
        return false;
    }
    const auto& bytes = walk.image.bytes;
    const std::uint64_t at = walk.root + relative;
    std::uint16_t named = 0, numbered = 0;
    if (at + 16 > walk.end || !read_u16(bytes, at + 12, named) || !read_u16(bytes, at + 14, numbered)) {
        walk.error = "resource directory lies outside the resource section";
        return false;
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(named) + numbered; ++i) {
        std::uint32_t name = 0, target = 0;
        const std::uint64_t entry = at + 16 + 8ull * i;
        if (entry + 8 > walk.end || !read_u32(bytes, entry, name) || !read_u32(bytes, entry + 4, target)) {
            walk.error = "resource entry lies outside the resource section";
            return false;
        }
        PeResource next = path;
        next.named = next.named || (name & resource_name_bit) != 0;
        (level == 0 ? next.type : level == 1 ? next.id : next.language) = name & ~resource_name_bit;
        const bool subdirectory = (target & resource_subdirectory_bit) != 0;
        if (subdirectory != (level + 1 < resource_levels)) {
            walk.error = "resource tree is not three levels deep";
            return false;
        }
        if (subdirectory) {
            if (!walk_directory(walk, target & ~resource_subdirectory_bit, level + 1, next)) return false;
            continue;
        }
        std::uint32_t data_rva = 0, data_size = 0;
        std::uint64_t data = 0;
        if (walk.root + target + 16 > walk.end || !read_u32(bytes, walk.root + target, data_rva) ||
            !read_u32(bytes, walk.root + target + 4, data_size) || !rva_to_offset(walk.image, data_rva, data) ||
            !has(bytes, data, data_size)) {
            walk.error = "resource data lies outside the file";
            return false;
        }
        next.data.assign(bytes.begin() + data, bytes.begin() + data + data_size);
        walk.out.push_back(std::move(next));
    }
    return true;
}

}  // namespace

bool read_u16(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint16_t& value) {
    if (!has(bytes, offset, 2)) return false;
    value = static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
    return true;
}

bool read_u32(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint32_t& value) {
    std::uint16_t low = 0, high = 0;
    if (!read_u16(bytes, offset, low) || !read_u16(bytes, offset + 2, high)) return false;
    value = static_cast<std::uint32_t>(high) << 16 | low;
    return true;
}

bool read_u64(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint64_t& value) {
    std::uint32_t low = 0, high = 0;
    if (!read_u32(bytes, offset, low) || !read_u32(bytes, offset + 4, high)) return false;
    value = static_cast<std::uint64_t>(high) << 32 | low;
    return true;
}

bool find_coff_header(const std::vector<unsigned char>& bytes, std::uint64_t& coff) {
    std::uint16_t mz = 0;
    std::uint32_t pe = 0, signature = 0;
    if (!read_u16(bytes, 0, mz) || mz != 0x5A4D || !read_u32(bytes, 0x3C, pe) || !read_u32(bytes, pe, signature) ||
        signature != 0x4550) {
        return false;
    }
    coff = pe + 4ull;
    return true;
}

bool parse_pe(std::vector<unsigned char> bytes, PeImage& image, std::string& error) {
    image = PeImage{};
    image.bytes = std::move(bytes);
    const auto& b = image.bytes;
    std::uint64_t coff = 0;
    if (!find_coff_header(b, coff)) {
        error = "not a PE file";
        return false;
    }
    const std::uint64_t optional = coff + 20;
    std::uint16_t section_count = 0, optional_size = 0;
    std::uint32_t directory_count = 0;
    bool ok = read_u16(b, coff, image.machine) && read_u16(b, coff + 2, section_count) &&
              read_u32(b, coff + 4, image.time_date_stamp) && read_u32(b, coff + 8, image.symbol_table_offset) &&
              read_u32(b, coff + 12, image.symbol_count) && read_u16(b, coff + 16, optional_size) &&
              read_u16(b, coff + 18, image.characteristics);
    if (!ok) {
        error = "truncated file header";
        return false;
    }
    if (!read_u16(b, optional, image.optional_magic) || image.optional_magic != optional_magic_pe32_plus) {
        error = "not a PE32+ image";
        return false;
    }
    ok = read_u32(b, optional + 36, image.file_alignment) && read_u16(b, optional + 40, image.major_os_version) &&
         read_u16(b, optional + 42, image.minor_os_version) &&
         read_u16(b, optional + 48, image.major_subsystem_version) &&
         read_u16(b, optional + 50, image.minor_subsystem_version) && read_u16(b, optional + 68, image.subsystem) &&
         read_u16(b, optional + 70, image.dll_characteristics) && read_u64(b, optional + 72, image.stack_reserve) &&
         read_u64(b, optional + 80, image.stack_commit) && read_u32(b, optional + 108, directory_count);
    if (!ok || directory_count > 16 || 112 + 8ull * directory_count > optional_size) {
        error = "truncated optional header";
        return false;
    }
    for (std::uint32_t i = 0; i < directory_count; ++i) {
        PeDirectory directory;
        if (!read_u32(b, optional + 112 + 8 * i, directory.rva) ||
            !read_u32(b, optional + 116 + 8 * i, directory.size)) {
            error = "truncated data directories";
            return false;
        }
        image.directories.push_back(directory);
    }
    const std::uint64_t table = optional + optional_size;
    for (std::uint16_t i = 0; i < section_count; ++i) {
        PeSection s;
        const std::uint64_t at = table + 40ull * i;
        if (!has(b, at, 40)) {
            error = "truncated section table";
            return false;
        }
        for (int c = 0; c < 8 && b[at + c] != 0; ++c) s.name += static_cast<char>(b[at + c]);
        read_u32(b, at + 8, s.virtual_size);
        read_u32(b, at + 12, s.virtual_address);
        read_u32(b, at + 16, s.raw_size);
        read_u32(b, at + 20, s.raw_offset);
        read_u32(b, at + 36, s.characteristics);
        image.sections.push_back(s);
    }
    return true;
}

const PeSection* section_at_offset(const PeImage& image, std::uint64_t offset) {
    for (const auto& s : image.sections) {
        if (offset >= s.raw_offset && offset - s.raw_offset < s.raw_size) return &s;
    }
    return nullptr;
}

bool rva_to_offset(const PeImage& image, std::uint32_t rva, std::uint64_t& offset) {
    for (const auto& s : image.sections) {
        if (rva >= s.virtual_address && rva - s.virtual_address < s.raw_size) {
            offset = static_cast<std::uint64_t>(s.raw_offset) + (rva - s.virtual_address);
            return true;
        }
    }
    return false;
}

bool imported_dlls(const PeImage& image, std::vector<std::string>& names, std::string& error) {
    names.clear();
    if (image.directories.size() <= directory_import || image.directories[directory_import].size == 0) return true;
    std::uint64_t at = 0;
    if (!rva_to_offset(image, image.directories[directory_import].rva, at)) {
        error = "import directory lies outside every section";
        return false;
    }
    // Descriptors of 20 bytes, ended by an all-zero one.
    for (;; at += 20) {
        std::uint32_t lookup = 0, name_rva = 0, first_thunk = 0;
        if (!read_u32(image.bytes, at, lookup) || !read_u32(image.bytes, at + 12, name_rva) ||
            !read_u32(image.bytes, at + 16, first_thunk)) {
            error = "import directory runs past the end of the file";
            return false;
        }
        if (lookup == 0 && name_rva == 0 && first_thunk == 0) return true;
        std::uint64_t name = 0;
        if (!rva_to_offset(image, name_rva, name)) {
            error = "import name lies outside every section";
            return false;
        }
        std::string text;
        while (name < image.bytes.size() && image.bytes[name] != 0 && text.size() < 256)
            text += static_cast<char>(image.bytes[name++]);
        names.push_back(text);
    }
}

bool read_resources(const PeImage& image, std::vector<PeResource>& resources, std::string& error) {
    resources.clear();
    if (image.directories.size() <= directory_resource || image.directories[directory_resource].size == 0) return true;
    const PeDirectory& directory = image.directories[directory_resource];
    ResourceWalk walk{image, 0, 0, resources, error};
    if (!rva_to_offset(image, directory.rva, walk.root) || !has(image.bytes, walk.root, directory.size)) {
        error = "resource directory lies outside the file";
        return false;
    }
    walk.end = walk.root + directory.size;
    return walk_directory(walk, 0, 0, PeResource{});
}
