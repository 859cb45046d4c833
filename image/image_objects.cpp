#include "image/image_objects.h"

#include <cstdio>

namespace {

constexpr char read_only_section[] = "\t.section .rdata,\"dr\"\n";

void append_wide_array(std::string& out, const char* symbol, const std::u16string& text) {
    out += "\t.globl ";
    out += symbol;
    out += "\n\t.balign 2\n";
    out += symbol;
    out += ":\n";
    std::u16string units = text;
    units += u'\0';
    for (std::size_t i = 0; i < units.size(); ++i) {
        char item[16];
        std::snprintf(item, sizeof item, "0x%04x", static_cast<unsigned>(units[i]));
        out += (i % 12 == 0) ? "\t.short " : ", ";
        out += item;
        if (i % 12 == 11 || i + 1 == units.size()) out += "\n";
    }
}

}  // namespace

std::string payload_assembly(std::uint64_t payload_size) {
    std::string out = read_only_section;
    out += "\t.globl PAYLOAD_SIZE\n\t.globl onefile_payload_block\n\t.balign 8\n";
    out += "PAYLOAD_SIZE:\n\t.quad " + std::to_string(payload_size) + "\n";
    out += "onefile_payload_block:\n\t.incbin \"";
    out += payload_block_file;
    out += "\"\n";
    return out;
}

std::string constants_assembly(const BuildTexts& texts) {
    std::string out = read_only_section;
    append_wide_array(out, build_constants::company_symbol, texts.company);
    append_wide_array(out, build_constants::product_symbol, texts.product);
    append_wide_array(out, build_constants::version_symbol, texts.version);
    return out;
}

std::string launch_mode_assembly(const LaunchMode& mode) {
    std::string out = read_only_section;
    append_wide_array(out, cache_spec_symbol, mode.cache_spec);
    append_wide_array(out, temp_spec_symbol, mode.temp_spec);
    append_wide_array(out, content_key_symbol, mode.content_key);
    return out;
}
