#include "image/image_contract.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "image/build_constants.h"
#include "image/icon_file.h"
#include "image/payload_archive_reader.h"
#include "format/payload_layout.h"
#include "image/pe_reader.h"
#include "image/text_encoding.h"
#include "image/version_info_reader.h"

const char expected_manifest[] =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)"
    R"(<assemblyIdentity type="win32" name="Mini" version="1.0.0.0"/>)"
    R"(<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>)"
    R"(<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>)"
    R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)"
    R"(<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>)"
    R"(<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>)"
    R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)"
    R"(</application></compatibility>)"
    R"(<application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>)"
    R"(<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>)"
    R"(</windowsSettings></application>)"
    R"(<dependency><dependentAssembly>)"
    R"(<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" )"
    R"(processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>)"
    R"(</dependentAssembly></dependency>)"
    R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>)"
    R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"
    R"(</requestedPrivileges></security></trustInfo>)"
    R"(</assembly>)";

namespace {

constexpr std::uint16_t file_relocs_stripped = 0x0001;
constexpr std::uint16_t file_executable = 0x0002;
constexpr std::uint16_t file_large_address_aware = 0x0020;
// High-entropy VA, dynamic base, NX compatible, terminal-server aware.
constexpr std::uint16_t expected_dll_characteristics = 0x0020 | 0x0040 | 0x0100 | 0x8000;
constexpr std::uint64_t expected_stack_reserve = 0x968000;
constexpr std::uint64_t expected_stack_commit = 0x1000;

constexpr std::uint32_t rt_icon = 3;
constexpr std::uint32_t rt_group_icon = 14;
constexpr std::uint32_t rt_version = 16;
constexpr std::uint32_t rt_manifest = 24;
constexpr unsigned icon_sides[] = {16, 32, 48, 64, 128, 256};

std::string hex(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string narrow(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
}

std::string upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

const char* subsystem_name(std::uint16_t subsystem) {
    return subsystem == subsystem_console ? "console" : subsystem == subsystem_gui ? "GUI" : "known";
}

void expect(std::vector<std::string>& failures, bool holds, const std::string& what) {
    if (!holds) failures.push_back(what);
}

std::uint32_t png_width(const std::vector<unsigned char>& png) {
    if (png.size() < 24) return 0;
    return static_cast<std::uint32_t>(png[16]) << 24 | png[17] << 16 | png[18] << 8 | png[19];
}

const PeResource* find_resource(const std::vector<PeResource>& resources, std::uint32_t type, std::uint32_t id) {
    for (const auto& r : resources) {
        if (r.type == type && r.id == id) return &r;
    }
    return nullptr;
}

void check_fixed_info(const VersionBlock& root, const ContractExpectations& expected,
                      std::vector<std::string>& failures) {
    std::uint32_t f[13] = {};
    for (int i = 0; i < 13; ++i) read_u32(root.value, 4ull * i, f[i]);
    const auto& v = expected.version_parts;
    const std::uint32_t ms = static_cast<std::uint32_t>(v[0]) << 16 | v[1];
    const std::uint32_t ls = static_cast<std::uint32_t>(v[2]) << 16 | v[3];
    expect(failures, root.key == u"VS_VERSION_INFO", "version root key is not VS_VERSION_INFO");
    expect(failures, root.type == 0 && root.value_length == 52 && root.value.size() == 52,
           "version fixed part is not a 52-byte binary value");
    expect(failures, f[0] == 0xFEEF04BD, "version fixed part signature is " + hex(f[0]));
    expect(failures, f[1] == 0, "version fixed part structure version is " + hex(f[1]) + ", not 0");
    expect(failures, f[2] == ms && f[3] == ls, "file version in the fixed part does not match");
    expect(failures, f[4] == ms && f[5] == ls, "product version in the fixed part does not match");
    expect(failures, f[6] == 0x3F, "file flags mask is " + hex(f[6]));
    expect(failures, f[7] == 0, "file flags are " + hex(f[7]));
    expect(failures, f[8] == 4, "file OS is " + hex(f[8]) + ", not VOS__WINDOWS32");
    expect(failures, f[9] == 1, "file type is " + hex(f[9]) + ", not VFT_APP");
    expect(failures, f[10] == 0 && f[11] == 0 && f[12] == 0, "file subtype or date is not 0");
}

void check_string_table(const VersionBlock& table, const ContractExpectations& expected,
                        std::vector<std::string>& failures) {
    const std::u16string keys[] = {u"CompanyName",    u"ProductName", u"FileDescription",  u"LegalCopyright",
                                   u"ProductVersion", u"FileVersion", u"OriginalFilename", u"InternalName"};
    expect(failures, table.key == u"000004b0", "string table is '" + narrow(table.key) + "', not 000004b0");
    if (table.children.size() != 8) {
        failures.push_back("string table has " + std::to_string(table.children.size()) + " entries, not 8");
        return;
    }
    std::map<std::u16string, std::u16string> values;
    for (std::size_t i = 0; i < 8; ++i) {
        const VersionBlock& entry = table.children[i];
        expect(
            failures, entry.key == keys[i],
            "string entry " + std::to_string(i + 1) + " is '" + narrow(entry.key) + "', not '" + narrow(keys[i]) + "'");
        const std::u16string text = text_value(entry);
        expect(failures, entry.type == 1 && entry.value_length == text.size() + 1,
               "string entry '" + narrow(entry.key) + "' has a wrong value length");
        values[entry.key] = text;
    }
    expect(failures, values[u"CompanyName"] == expected.company,
           "CompanyName is '" + narrow(values[u"CompanyName"]) + "'");
    expect(failures, values[u"ProductName"] == expected.product,
           "ProductName is '" + narrow(values[u"ProductName"]) + "'");
    const std::u16string& description = values[u"FileDescription"];
    expect(failures,
           description.find(expected.product) != std::u16string::npos &&
               description.find(expected.company) != std::u16string::npos,
           "FileDescription does not name product and company");
    expect(failures, values[u"LegalCopyright"].find(expected.company) != std::u16string::npos,
           "LegalCopyright does not name the company");
    expect(failures, values[u"ProductVersion"] == expected.version, "ProductVersion is wrong");
    expect(failures, values[u"FileVersion"] == expected.version, "FileVersion is wrong");
    expect(failures, values[u"OriginalFilename"] == expected.product + u".exe", "OriginalFilename is wrong");
    expect(failures, values[u"InternalName"] == expected.product, "InternalName is wrong");
}

void check_version_resource(const std::vector<unsigned char>& data, const ContractExpectations& expected,
                            std::vector<std::string>& failures) {
    VersionBlock root;
    std::string error;
    if (!parse_version_info(data, root, error)) {
        failures.push_back("version resource: " + error);
        return;
    }
    check_fixed_info(root, expected, failures);
    if (root.children.size() != 2 || root.children[0].key != u"StringFileInfo" ||
        root.children[1].key != u"VarFileInfo" || root.children[0].children.size() != 1 ||
        root.children[1].children.size() != 1) {
        failures.push_back("version resource is not StringFileInfo with one table, then VarFileInfo with one entry");
        return;
    }
    check_string_table(root.children[0].children[0], expected, failures);
    const VersionBlock& translation = root.children[1].children[0];
    const std::vector<unsigned char> neutral_unicode = {0x00, 0x00, 0xB0, 0x04};
    expect(failures, translation.key == u"Translation" && translation.type == 0 && translation.value == neutral_unicode,
           "translation is not language 0x0000, code page 1200");
}

void check_icons(const std::vector<PeResource>& resources, const ContractExpectations& expected,
                 std::vector<std::string>& failures) {
    std::vector<std::vector<unsigned char>> images;
    if (!icon_file_images(expected.icon_file, images)) {
        failures.push_back("the expected icon file does not hold six images");
        return;
    }
    std::sort(images.begin(), images.end(), [](const auto& a, const auto& b) { return png_width(a) < png_width(b); });
    const PeResource* group = find_resource(resources, rt_group_icon, 1);
    if (group == nullptr || group->data.size() != 6 + 14 * 6) {
        failures.push_back("icon group 1 is missing or not six entries long");
        return;
    }
    std::uint16_t reserved = 9, type = 0, count = 0;
    read_u16(group->data, 0, reserved);
    read_u16(group->data, 2, type);
    read_u16(group->data, 4, count);
    expect(failures, reserved == 0 && type == 1 && count == 6, "icon group header is not 0, 1, 6");
    for (std::size_t i = 0; i < 6; ++i) {
        const std::uint64_t at = 6 + 14 * i;
        const auto& g = group->data;
        std::uint16_t planes = 9, bits = 0, id = 0;
        std::uint32_t bytes = 0;
        read_u16(g, at + 4, planes);
        read_u16(g, at + 6, bits);
        read_u32(g, at + 8, bytes);
        read_u16(g, at + 12, id);
        const unsigned side = icon_sides[i] == 256 ? 0 : icon_sides[i];
        const std::string which = "icon group entry " + std::to_string(i + 1);
        expect(failures, g[at] == side && g[at + 1] == side, which + " has the wrong size");
        expect(failures, g[at + 2] == 0 && g[at + 3] == 0, which + " has a colour count or reserved byte");
        expect(failures, planes == 0 && bits == 32, which + " is not planes 0, 32 bits");
        expect(failures, id == i + 1, which + " names icon " + std::to_string(id));
        const PeResource* icon = find_resource(resources, rt_icon, static_cast<std::uint32_t>(i + 1));
        if (icon == nullptr) {
            failures.push_back("icon " + std::to_string(i + 1) + " is missing");
            continue;
        }
        expect(failures, bytes == icon->data.size(), which + " gives the wrong byte count");
        expect(failures, icon->data == images[i],
               "icon " + std::to_string(i + 1) + " is not the " + std::to_string(icon_sides[i]) +
                   "-pixel PNG of the icon file");
    }
}

bool same_images(const IconImages& a, const IconImages& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].png != b[i].png) return false;
    }
    return true;
}

bool is_read_only(const PeSection& section) {
    return (section.characteristics & scn_mem_read) && !(section.characteristics & (scn_mem_write | scn_mem_execute));
}

// A block at offset whose PAYLOAD_SIZE, magic and trailer agree, within end.
bool block_fits(const std::vector<unsigned char>& bytes, std::uint64_t offset, std::uint64_t end, std::uint64_t& size) {
    std::uint64_t trailer = 0;
    return std::memcmp(bytes.data() + offset, payload_layout::magic, payload_layout::magic_size) == 0 &&
           read_u64(bytes, offset - 8, size) && size >= payload_layout::block_overhead && size <= end - offset &&
           bytes[offset + size - 10] == 0 && bytes[offset + size - 9] == 0 &&
           read_u64(bytes, offset + size - 8, trailer) && trailer == size - 8;
}

std::u16string version_string(const VersionBlock& table, const std::u16string& key) {
    for (const auto& entry : table.children) {
        if (entry.key == key) return text_value(entry);
    }
    return u"";
}

}  // namespace

bool locate_payload_block(const PeImage& image, std::uint64_t& offset, std::uint64_t& size, std::string& error) {
    const auto& bytes = image.bytes;
    for (const auto& section : image.sections) {
        if (!is_read_only(section)) continue;
        const std::uint64_t begin = section.raw_offset;
        const std::uint64_t end = std::min<std::uint64_t>(
            bytes.size(), begin + std::min(section.raw_size, std::max(section.virtual_size, 1u)));
        // PAYLOAD_SIZE and the block are eight-byte aligned.
        for (std::uint64_t at = (begin + 8 + 7) / 8 * 8; at + payload_layout::block_overhead <= end; at += 8) {
            if (block_fits(bytes, at, end, size)) {
                offset = at;
                return true;
            }
        }
    }
    error = "no payload block found: not a launcher made by onefile-build";
    return false;
}

bool read_build_texts(const PeImage& image, std::u16string& company, std::u16string& product, std::u16string& version,
                      std::string& error) {
    std::vector<PeResource> resources;
    if (!read_resources(image, resources, error)) return false;
    const PeResource* resource = find_resource(resources, rt_version, 1);
    VersionBlock root;
    if (resource == nullptr || !parse_version_info(resource->data, root, error) || root.children.empty() ||
        root.children[0].children.empty()) {
        error = "no readable version resource";
        return false;
    }
    const VersionBlock& table = root.children[0].children[0];
    company = version_string(table, u"CompanyName");
    product = version_string(table, u"ProductName");
    version = version_string(table, u"ProductVersion");
    return true;
}

bool expectations_from_image(const PeImage& image, ContractExpectations& expected, std::string& error) {
    expected = ContractExpectations{};
    std::uint64_t offset = 0, size = 0;
    if (!locate_payload_block(image, offset, size, error)) return false;
    expected.block.assign(image.bytes.begin() + offset, image.bytes.begin() + offset + size);
    std::u16string company, product, version;
    BuildTexts texts;
    if (!read_build_texts(image, company, product, version, error) ||
        !make_build_texts(utf16_to_utf8(company), utf16_to_utf8(product), utf16_to_utf8(version), texts, error)) {
        error = "version resource: " + error;
        return false;
    }
    expected.company = texts.company;
    expected.product = texts.product;
    expected.version = texts.version;
    expected.version_parts = texts.version_parts;
    expected.subsystem = image.subsystem == subsystem_console ? subsystem_console : subsystem_gui;
    std::vector<PeResource> resources;
    if (!read_resources(image, resources, error)) return false;
    IconImages icons;
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const PeResource* icon = find_resource(resources, rt_icon, static_cast<std::uint32_t>(i + 1));
        if (icon == nullptr) {
            error = "icon " + std::to_string(i + 1) + " is missing";
            return false;
        }
        icons[i] = IconImage{icon_sizes[i], icon->data};
    }
    expected.icon_file = icon_file_bytes(icons);
    return true;
}

bool icon_file_images(const std::vector<unsigned char>& icon_file, std::vector<std::vector<unsigned char>>& images) {
    std::string ignored;
    return icon_file_entries(icon_file, images, ignored) && images.size() == icon_sizes.size();
}

bool unpack_block(const std::vector<unsigned char>& block, std::vector<ArchiveEntry>& entries, std::string& error) {
    entries.clear();
    ArchiveReader reader;
    if (!open_archive_reader(block.data(), block.size(), reader, error)) return false;
    ArchiveEntryHeader header;
    bool end = false;
    bool ok = true;
    while (ok && next_archive_entry(reader, header, end, error)) {
        ArchiveEntry entry{header.name, {}};
        // Grown as the bytes arrive: a damaged size must not reserve memory.
        for (std::uint64_t left = header.size; ok && left > 0;) {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, 1 << 20));
            entry.data.resize(entry.data.size() + take);
            ok = read_archive_bytes(reader, entry.data.data() + entry.data.size() - take, take, error);
            left -= take;
        }
        entries.push_back(std::move(entry));
    }
    ok = ok && end && finish_archive(reader, error);
    close_archive_reader(reader);
    return ok;
}

// A signature's certificate table is the one thing allowed after the last
// section: it is not loaded, and it must reach exactly to the end of the file.
void check_file_end(const PeImage& image, std::vector<std::string>& failures) {
    std::uint64_t end = 0;
    for (const auto& s : image.sections) end = std::max<std::uint64_t>(end, std::uint64_t{s.raw_offset} + s.raw_size);
    const PeDirectory certificates =
        image.directories.size() > directory_security ? image.directories[directory_security] : PeDirectory{};
    if (certificates.size != 0) {
        expect(failures,
               certificates.rva >= end && certificates.rva - end < 8 &&
                   std::uint64_t{certificates.rva} + certificates.size == image.bytes.size(),
               "the certificate table does not follow the last section up to the end of the file");
    } else {
        expect(failures, end == image.bytes.size(),
               std::to_string(image.bytes.size() - std::min<std::uint64_t>(end, image.bytes.size())) +
                   " bytes follow the last section");
    }
    expect(failures, image.symbol_table_offset == 0 && image.symbol_count == 0, "the image carries a symbol table");
}

void check_image_settings(const PeImage& image, std::uint16_t subsystem, std::vector<std::string>& failures) {
    expect(failures, image.machine == machine_amd64, "machine is " + hex(image.machine) + ", not x86-64");
    expect(failures, (image.characteristics & file_executable) && !(image.characteristics & file_dll),
           "the image is not an executable");
    expect(failures, !(image.characteristics & file_relocs_stripped), "relocations are marked stripped");
    expect(failures, image.characteristics & file_large_address_aware, "the image is not large-address aware");
    expect(failures, image.subsystem == subsystem,
           "subsystem is " + std::to_string(image.subsystem) + ", not " + subsystem_name(subsystem));
    expect(failures, image.major_os_version == 6 && image.minor_os_version == 0, "OS version is not 6.0");
    expect(failures, image.major_subsystem_version == 6 && image.minor_subsystem_version == 0,
           "subsystem version is not 6.0");
    expect(failures, image.dll_characteristics == expected_dll_characteristics,
           "DLL characteristics are " + hex(image.dll_characteristics) + ", not " + hex(expected_dll_characteristics));
    expect(failures, image.stack_reserve == expected_stack_reserve, "stack reserve is " + hex(image.stack_reserve));
    expect(failures, image.stack_commit == expected_stack_commit, "stack commit is " + hex(image.stack_commit));
    expect(failures, image.time_date_stamp == 0, "the image has a time stamp");
    expect(
        failures,
        image.directories.size() > directory_base_relocation && image.directories[directory_base_relocation].size > 0,
        "the image has no relocations");
    std::vector<std::string> dlls;
    std::string error;
    if (!imported_dlls(image, dlls, error)) {
        failures.push_back("imports: " + error);
        return;
    }
    std::vector<std::string> upper_names;
    for (const auto& name : dlls) upper_names.push_back(upper(name));
    std::sort(upper_names.begin(), upper_names.end());
    std::string listed;
    for (const auto& name : dlls) listed += (listed.empty() ? "" : ", ") + name;
    expect(failures, upper_names == std::vector<std::string>{"KERNEL32.DLL", "SHELL32.DLL"},
           "imports are " + listed + ", not KERNEL32.dll and SHELL32.dll");
}

void check_payload_placement(const PeImage& image, const ContractExpectations& expected,
                             std::vector<std::string>& failures) {
    const auto& bytes = image.bytes;
    const auto& block = expected.block;
    const auto found =
        std::search(bytes.begin(), bytes.end(), std::boyer_moore_horspool_searcher(block.begin(), block.end()));
    if (block.empty() || found == bytes.end()) {
        failures.push_back("the packer's block is not in the image");
        return;
    }
    const std::uint64_t offset = static_cast<std::uint64_t>(found - bytes.begin());
    const PeSection* section = section_at_offset(image, offset);
    if (section == nullptr) {
        failures.push_back("the block lies outside every section");
        return;
    }
    const std::uint64_t loaded_end =
        std::uint64_t{section->raw_offset} + std::min(section->raw_size, section->virtual_size);
    expect(failures, offset + block.size() <= loaded_end, "the block runs past the loaded part of " + section->name);
    expect(failures, is_read_only(*section), "the block lies in " + section->name + ", which is not read-only data");
    std::uint64_t payload_size = 0;
    expect(
        failures, offset >= 8 && read_u64(bytes, offset - 8, payload_size) && payload_size == block.size(),
        "PAYLOAD_SIZE before the block is " + std::to_string(payload_size) + ", not " + std::to_string(block.size()));
    expect(failures, offset >= 8 && section_at_offset(image, offset - 8) == section,
           "PAYLOAD_SIZE is not in the block's section");
    // Unique: a second copy would mean the wrong one might be in use.
    expect(failures,
           std::search(found + 1, bytes.end(), std::boyer_moore_horspool_searcher(block.begin(), block.end())) ==
               bytes.end(),
           "the block appears twice in the image");
    expect(failures, block.size() > 5 && block[3 + 4] == 0x00 && block[3 + 5] == 0x88,
           "the frame header is not descriptor 0x00, window 0x88");
}

void check_resources(const PeImage& image, const ContractExpectations& expected, std::vector<std::string>& failures) {
    std::vector<PeResource> resources;
    std::string error;
    if (!read_resources(image, resources, error)) {
        failures.push_back("resources: " + error);
        return;
    }
    std::vector<std::string> seen;
    for (const auto& r : resources) {
        expect(failures, !r.named, "a resource has a name instead of a number");
        expect(failures, r.language == 0,
               "resource " + std::to_string(r.type) + "/" + std::to_string(r.id) + " is not language neutral");
        seen.push_back(std::to_string(r.type) + "/" + std::to_string(r.id));
    }
    std::sort(seen.begin(), seen.end());
    const std::vector<std::string> wanted = {"14/1", "16/1", "24/1", "3/1", "3/2", "3/3", "3/4", "3/5", "3/6"};
    expect(failures, seen == wanted, "the resources are not exactly version, manifest, icon group and six icons");
    const PeResource* manifest = find_resource(resources, rt_manifest, 1);
    expect(failures,
           manifest != nullptr && std::string(manifest->data.begin(), manifest->data.end()) == expected_manifest,
           "the manifest is not the expected one line");
    const PeResource* version = find_resource(resources, rt_version, 1);
    if (version == nullptr) {
        failures.push_back("the version resource is missing");
    } else {
        check_version_resource(version->data, expected, failures);
    }
    check_icons(resources, expected, failures);
}

std::vector<std::string> check_image_contract(const std::vector<unsigned char>& exe,
                                              const ContractExpectations& expected) {
    std::vector<std::string> failures;
    PeImage image;
    std::string error;
    if (!parse_pe(exe, image, error)) return {"image: " + error};
    check_file_end(image, failures);
    check_image_settings(image, expected.subsystem, failures);
    check_payload_placement(image, expected, failures);
    check_resources(image, expected, failures);
    // The icon file travels in the payload too, with the same PNG bytes.
    std::vector<ArchiveEntry> entries;
    IconImages wanted, packed;
    if (!unpack_block(expected.block, entries, error)) {
        failures.push_back("payload: " + error);
    } else if (parse_icon_file(expected.icon_file, wanted, error)) {
        const bool icon_packed = std::any_of(entries.begin(), entries.end(), [&](const ArchiveEntry& e) {
            std::string ignored;
            return parse_icon_file(e.data, packed, ignored) && same_images(packed, wanted);
        });
        expect(failures, icon_packed, "the icon file is not in the payload");
    }
    return failures;
}
