// The image contract of a finished launcher, checked from the file alone:
// payload placement, resources byte for byte, image settings and the end of
// the file. Each check adds a one-line failure; an empty list is a pass.
// onefile-build --verify, onefile-image-check and the tests share it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct PeImage;

inline constexpr std::uint16_t subsystem_gui = 2;
inline constexpr std::uint16_t subsystem_console = 3;

struct ContractExpectations {
    std::vector<unsigned char> block;      // what the packer wrote
    std::vector<unsigned char> icon_file;  // a six-image icon file with the icons' PNG bytes
    std::u16string company;
    std::u16string product;
    std::u16string version;
    std::array<std::uint16_t, 4> version_parts{};
    std::uint16_t subsystem = subsystem_gui;
};

// The manifest every launcher carries, spelled out here on its own so that a
// change on the build side shows up as a failure.
extern const char expected_manifest[];

std::vector<std::string> check_image_contract(const std::vector<unsigned char>& exe,
                                              const ContractExpectations& expected);

// The parts, for tests that damage one thing at a time.
void check_file_end(const PeImage& image, std::vector<std::string>& failures);
void check_image_settings(const PeImage& image, std::uint16_t subsystem, std::vector<std::string>& failures);
void check_payload_placement(const PeImage& image, const ContractExpectations& expected,
                             std::vector<std::string>& failures);
void check_resources(const PeImage& image, const ContractExpectations& expected, std::vector<std::string>& failures);

// Where the payload block lies in a launcher's file: in a read-only section,
// right after PAYLOAD_SIZE, with a trailer that matches. False when no such
// block is found: the file is not one of ours.
bool locate_payload_block(const PeImage& image, std::uint64_t& offset, std::uint64_t& size, std::string& error);

// What a launcher says about itself: its block, its texts from the version
// resource, its subsystem and its icons, as expectations for the check above.
bool expectations_from_image(const PeImage& image, ContractExpectations& expected, std::string& error);

// The company, product and version texts of the version resource.
bool read_build_texts(const PeImage& image, std::u16string& company, std::u16string& product, std::u16string& version,
                      std::string& error);

// Decompresses a block's frame and splits the archive into (name, bytes);
// false with error for anything that breaks the layout.
struct ArchiveEntry {
    std::u16string name;
    std::vector<unsigned char> data;
};
bool unpack_block(const std::vector<unsigned char>& block, std::vector<ArchiveEntry>& entries, std::string& error);

// The six PNG images of an icon file, in file order, or false.
bool icon_file_images(const std::vector<unsigned char>& icon_file, std::vector<std::vector<unsigned char>>& images);
