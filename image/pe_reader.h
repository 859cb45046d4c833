// The PE32+ reader of the host tools and the tests: headers, sections, data
// directories, imported DLL names and the resource tree of a file as it lies
// on disk.
// Every read is bounds-checked; a damaged file gives an error, not a crash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Header values the host tools check against.
inline constexpr std::uint16_t machine_amd64 = 0x8664;
inline constexpr std::uint16_t file_dll = 0x2000;
inline constexpr std::uint16_t optional_magic_pe32 = 0x10B;
inline constexpr std::uint16_t optional_magic_pe32_plus = 0x20B;
inline constexpr std::size_t directory_export = 0;

struct PeSection {
    std::string name;
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_offset = 0;
    std::uint32_t raw_size = 0;
    std::uint32_t characteristics = 0;
};

struct PeDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct PeImage {
    std::vector<unsigned char> bytes;
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint32_t time_date_stamp = 0;
    std::uint32_t symbol_table_offset = 0;
    std::uint32_t symbol_count = 0;
    std::uint16_t optional_magic = 0;
    std::uint32_t file_alignment = 0;
    std::uint16_t major_os_version = 0, minor_os_version = 0;
    std::uint16_t major_subsystem_version = 0, minor_subsystem_version = 0;
    std::uint16_t subsystem = 0;
    std::uint16_t dll_characteristics = 0;
    std::uint64_t stack_reserve = 0, stack_commit = 0;
    std::vector<PeDirectory> directories;
    std::vector<PeSection> sections;
};

inline constexpr std::uint32_t scn_mem_execute = 0x20000000;
inline constexpr std::uint32_t scn_mem_read = 0x40000000;
inline constexpr std::uint32_t scn_mem_write = 0x80000000;
inline constexpr std::size_t directory_import = 1;
inline constexpr std::size_t directory_resource = 2;
inline constexpr std::size_t directory_security = 4;
inline constexpr std::size_t directory_base_relocation = 5;

// The offset of the COFF header behind the MZ and PE signatures; false for a
// file that is not a PE file.
bool find_coff_header(const std::vector<unsigned char>& bytes, std::uint64_t& coff);

bool parse_pe(std::vector<unsigned char> bytes, PeImage& image, std::string& error);

// The section whose raw data holds the file offset, or nullptr.
const PeSection* section_at_offset(const PeImage& image, std::uint64_t offset);
bool rva_to_offset(const PeImage& image, std::uint32_t rva, std::uint64_t& offset);

// Names of the DLLs in the import directory, in table order.
bool imported_dlls(const PeImage& image, std::vector<std::string>& names, std::string& error);

struct PeResource {
    std::uint32_t type = 0;
    std::uint32_t id = 0;
    std::uint32_t language = 0;
    bool named = false;  // a level used a name instead of a number
    std::vector<unsigned char> data;
};

// Every leaf of the three-level resource tree (type, id, language).
bool read_resources(const PeImage& image, std::vector<PeResource>& resources, std::string& error);

// Little-endian reads; false past the end.
bool read_u16(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint16_t& value);
bool read_u32(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint32_t& value);
bool read_u64(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint64_t& value);
