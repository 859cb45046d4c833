// The build constants: company, product and version texts that path specs
// reach through {COMPANY}, {PRODUCT}, {VERSION}, {FILE_VERSION} and
// {PRODUCT_VERSION}. onefile-build writes them into a generated read-only
// object as zero-terminated UTF-16 arrays under these symbol names (declared
// for the launcher in paths/path_spec.h); the version resource carries the
// same texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace build_constants {

inline constexpr char company_symbol[] = "onefile_company_name";
inline constexpr char product_symbol[] = "onefile_product_name";
inline constexpr char version_symbol[] = "onefile_version_text";

inline constexpr char default_company[] = "Vellmore Limited";
inline constexpr char default_product[] = "Lumbrick";
inline constexpr char default_version[] = "1.0.0.0";

}  // namespace build_constants

struct BuildTexts {
    std::u16string company;
    std::u16string product;
    std::u16string version;
    std::array<std::uint16_t, 4> version_parts{};  // the version text as numbers
};

// Checks and converts the UTF-8 texts: none empty or longer than 255 UTF-16
// units, none with a control character, the version one to four dot-separated numbers up to 65535.
bool make_build_texts(const std::string& company, const std::string& product, const std::string& version,
                      BuildTexts& texts, std::string& error);
