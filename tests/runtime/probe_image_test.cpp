// The image settings as they land in a file linked with them: the probe is
// linked exactly like the launcher (ONEFILE_IMAGE_LINK_FLAGS and
// ONEFILE_IMAGE_LINK_LIBRARIES), so its headers show what those flags produce.
// The file is read with the host tools' PE reader; the expected values are
// the platform's own constants.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/pe_reader.h"

namespace {

std::filesystem::path probe_path() {
    wchar_t own[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    return std::filesystem::path(std::wstring(own, length)).parent_path() / ONEFILE_RUNTIME_PROBE_NAME;
}

class ProbeImage : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ifstream file(probe_path(), std::ios::binary);
        ASSERT_TRUE(file) << probe_path();
        std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::string error;
        ASSERT_TRUE(parse_pe(std::move(bytes), image_, error)) << error;
    }

    PeImage image_;
};

TEST_F(ProbeImage, ImportsOnlyKernel32AndShell32) {
    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(imported_dlls(image_, names, error)) << error;
    EXPECT_EQ(names, (std::vector<std::string>{"KERNEL32.dll", "SHELL32.dll"}));
}

TEST_F(ProbeImage, GuiSubsystemX64Version6) {
    EXPECT_EQ(image_.machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(image_.optional_magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(image_.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(image_.major_os_version, 6);
    EXPECT_EQ(image_.minor_os_version, 0);
    EXPECT_EQ(image_.major_subsystem_version, 6);
    EXPECT_EQ(image_.minor_subsystem_version, 0);
}

TEST_F(ProbeImage, RelocatableWithAslrDepAndTerminalServerAware) {
    const WORD wanted = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                        IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
    EXPECT_EQ(image_.dll_characteristics & wanted, wanted);
    EXPECT_EQ(image_.characteristics & IMAGE_FILE_RELOCS_STRIPPED, 0);
    ASSERT_GT(image_.directories.size(), static_cast<std::size_t>(IMAGE_DIRECTORY_ENTRY_BASERELOC));
    EXPECT_GT(image_.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].size, 0u);
}

TEST_F(ProbeImage, StackReserveAndCommit) {
    EXPECT_EQ(image_.stack_reserve, 0x968000u);
    EXPECT_EQ(image_.stack_commit, 0x1000u);
}

// Stripped and reproducible: no symbol table, no time stamp, nothing after the
// last section's data.
TEST_F(ProbeImage, NothingAfterTheLastSectionAndNoTimestamp) {
    EXPECT_EQ(image_.time_date_stamp, 0u);
    EXPECT_EQ(image_.symbol_table_offset, 0u);
    EXPECT_EQ(image_.symbol_count, 0u);
    std::uint64_t end = 0;
    for (const PeSection& section : image_.sections)
        end = std::max<std::uint64_t>(end, std::uint64_t{section.raw_offset} + section.raw_size);
    EXPECT_EQ(end, image_.bytes.size());
}

TEST_F(ProbeImage, SectionsArePageAlignedInTheFile) {
    EXPECT_EQ(image_.file_alignment, 0x1000u);
    for (const PeSection& section : image_.sections) EXPECT_EQ(section.raw_offset % 0x1000, 0u) << section.name;
}

}  // namespace
