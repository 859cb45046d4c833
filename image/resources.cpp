#include "image/resources.h"

#include <cstdint>

namespace {

constexpr std::uint32_t fixed_signature = 0xFEEF04BD;
constexpr std::uint32_t fixed_structure_version = 0;
constexpr std::uint32_t file_flags_mask = 0x3F;
constexpr std::uint32_t file_os_windows32 = 4;  // VOS__WINDOWS32
constexpr std::uint32_t file_type_app = 1;      // VFT_APP
constexpr std::uint16_t fixed_info_size = 13 * 4;
constexpr std::uint16_t type_binary = 0;
constexpr std::uint16_t type_text = 1;
constexpr std::uint16_t translation_language = 0x0000;
constexpr std::uint16_t translation_code_page = 1200;  // UTF-16

constexpr std::uint16_t resource_type_icon = 3;
constexpr std::uint16_t resource_type_group_icon = 14;
constexpr std::uint16_t resource_type_version = 16;
constexpr std::uint16_t resource_type_manifest = 24;

void put_u16(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t value) {
    put_u16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put_u16(out, static_cast<std::uint16_t>(value >> 16));
}

void put_text(std::vector<unsigned char>& out, std::u16string_view text) {
    for (char16_t unit : text) put_u16(out, unit);
    put_u16(out, 0);
}

void align4(std::vector<unsigned char>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

// Every block of the version tree starts with wLength, wValueLength, wType
// and its zero-terminated key, padded to four bytes; wLength is filled in by
// block_end once the value and the children are written. Children start on a
// four-byte boundary; a block's length does not count padding after its end.
std::size_t block_begin(std::vector<unsigned char>& out, std::uint16_t value_length, std::uint16_t type,
                        std::u16string_view key) {
    align4(out);
    const std::size_t start = out.size();
    put_u16(out, 0);
    put_u16(out, value_length);
    put_u16(out, type);
    put_text(out, key);
    align4(out);
    return start;
}

void block_end(std::vector<unsigned char>& out, std::size_t start) {
    const std::size_t length = out.size() - start;
    out[start] = static_cast<unsigned char>(length & 0xFF);
    out[start + 1] = static_cast<unsigned char>(length >> 8);
}

std::uint32_t high_low(std::uint16_t high, std::uint16_t low) {
    return static_cast<std::uint32_t>(high) << 16 | low;
}

void put_fixed_info(std::vector<unsigned char>& out, const BuildTexts& texts) {
    const auto& v = texts.version_parts;
    put_u32(out, fixed_signature);
    put_u32(out, fixed_structure_version);
    put_u32(out, high_low(v[0], v[1]));  // file version
    put_u32(out, high_low(v[2], v[3]));
    put_u32(out, high_low(v[0], v[1]));  // product version
    put_u32(out, high_low(v[2], v[3]));
    put_u32(out, file_flags_mask);
    put_u32(out, 0);  // file flags
    put_u32(out, file_os_windows32);
    put_u32(out, file_type_app);
    put_u32(out, 0);  // file subtype
    put_u32(out, 0);  // file date, high
    put_u32(out, 0);  // file date, low
}

void put_string(std::vector<unsigned char>& out, std::u16string_view key, std::u16string_view value) {
    // wValueLength of a text value counts UTF-16 units, terminator included.
    const std::size_t start = block_begin(out, static_cast<std::uint16_t>(value.size() + 1), type_text, key);
    put_text(out, value);
    block_end(out, start);
}

}  // namespace

std::vector<std::pair<std::u16string, std::u16string>> version_strings(const BuildTexts& texts) {
    return {
        {u"CompanyName", texts.company},
        {u"ProductName", texts.product},
        {u"FileDescription", texts.product + u" by " + texts.company},
        {u"LegalCopyright", u"Copyright (C) " + texts.company + u". All rights reserved."},
        {u"ProductVersion", texts.version},
        {u"FileVersion", texts.version},
        {u"OriginalFilename", texts.product + u".exe"},
        {u"InternalName", texts.product},
    };
}

std::vector<unsigned char> version_resource(const BuildTexts& texts) {
    std::vector<unsigned char> out;
    const std::size_t root = block_begin(out, fixed_info_size, type_binary, u"VS_VERSION_INFO");
    put_fixed_info(out, texts);

    const std::size_t string_info = block_begin(out, 0, type_text, u"StringFileInfo");
    const std::size_t table = block_begin(out, 0, type_text, u"000004b0");
    for (const auto& [key, value] : version_strings(texts)) put_string(out, key, value);
    block_end(out, table);
    block_end(out, string_info);

    const std::size_t var_info = block_begin(out, 0, type_text, u"VarFileInfo");
    const std::size_t translation = block_begin(out, 4, type_binary, u"Translation");
    put_u16(out, translation_language);
    put_u16(out, translation_code_page);
    block_end(out, translation);
    block_end(out, var_info);

    block_end(out, root);
    return out;
}

std::string manifest_text() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
           "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
           "<assemblyIdentity type=\"win32\" name=\"Mini\" version=\"1.0.0.0\"/>"
           "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>"
           "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>"
           "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"
           "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>"
           "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>"
           "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"
           "</application></compatibility>"
           "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
           "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>"
           "</windowsSettings></application>"
           "<dependency><dependentAssembly>"
           "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
           "processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
           "</dependentAssembly></dependency>"
           "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"
           "</requestedPrivileges></security></trustInfo>"
           "</assembly>";
}

std::vector<unsigned char> icon_group(const IconImages& images) {
    std::vector<unsigned char> out;
    put_u16(out, 0);  // reserved
    put_u16(out, 1);  // type: icon
    put_u16(out, static_cast<std::uint16_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        // A 256-pixel side does not fit the byte and is stored as 0.
        const auto side = static_cast<unsigned char>(images[i].size >= 256 ? 0 : images[i].size);
        out.push_back(side);  // width
        out.push_back(side);  // height
        out.push_back(0);     // colour count
        out.push_back(0);     // reserved
        put_u16(out, 0);      // planes
        put_u16(out, 32);     // bits per pixel
        put_u32(out, static_cast<std::uint32_t>(images[i].png.size()));
        put_u16(out, static_cast<std::uint16_t>(i + 1));  // RT_ICON id
    }
    return out;
}

std::string icon_image_file(std::size_t index) {
    return "icon" + std::to_string(index + 1) + ".png";
}

std::string resource_script() {
    // Language neutral; the compiler's default would be 0x409.
    std::string script = "LANGUAGE 0, 0\n";
    script += "1 " + std::to_string(resource_type_version) + " \"" + version_file + "\"\n";
    script += "1 " + std::to_string(resource_type_manifest) + " \"" + manifest_file + "\"\n";
    script += "1 " + std::to_string(resource_type_group_icon) + " \"" + icon_group_file + "\"\n";
    for (std::size_t i = 0; i < icon_sizes.size(); ++i) {
        script +=
            std::to_string(i + 1) + " " + std::to_string(resource_type_icon) + " \"" + icon_image_file(i) + "\"\n";
    }
    return script;
}
