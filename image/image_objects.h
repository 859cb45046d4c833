// The generated assembler sources that put the payload block and the build
// constants into the image's read-only data (.rdata):
//
//   PAYLOAD_SIZE            u64, 8-aligned, directly followed by
//   onefile_payload_block   the block, pulled in with .incbin
//   onefile_company_name, onefile_product_name, onefile_version_text
//                           zero-terminated UTF-16 arrays
//
// .incbin keeps a 100 MB block fast to build: the assembler copies the bytes
// and nothing is turned into text. PAYLOAD_SIZE lies right before the block so
// that a check of the finished image can find both.
#pragma once

#include <cstdint>
#include <string>

#include "image/build_constants.h"
#include "image/launch_mode.h"

inline constexpr char payload_block_file[] = "payload.block";
inline constexpr char payload_source_file[] = "payload.s";
inline constexpr char constants_source_file[] = "constants.s";

// Includes payload_block_file, looked up from the assembler's working folder.
std::string payload_assembly(std::uint64_t payload_size);
std::string constants_assembly(const BuildTexts& texts);
std::string launch_mode_assembly(const LaunchMode& mode);
