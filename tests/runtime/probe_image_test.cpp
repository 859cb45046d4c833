// The image settings as they land in a file linked with them: the probe is
// linked exactly like the launcher (ONEFILE_IMAGE_LINK_FLAGS and
// ONEFILE_IMAGE_LINK_LIBRARIES), so its headers show what those flags produce.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring probe_path() {
    wchar_t own[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring path(own, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + ONEFILE_RUNTIME_PROBE_NAME;
}

class ProbeImage : public ::testing::Test {
  protected:
    void SetUp() override {
        HANDLE file =
            CreateFileW(probe_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size{};
        GetFileSizeEx(file, &size);
        bytes_.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ReadFile(file, bytes_.data(), static_cast<DWORD>(bytes_.size()), &read, nullptr);
        CloseHandle(file);
        ASSERT_EQ(read, bytes_.size());
        ASSERT_GE(bytes_.size(), sizeof(IMAGE_DOS_HEADER));
        auto dos = at<IMAGE_DOS_HEADER>(0);
        ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
        nt_offset_ = static_cast<size_t>(dos.e_lfanew);
        nt_ = at<IMAGE_NT_HEADERS64>(nt_offset_);
        ASSERT_EQ(nt_.Signature, IMAGE_NT_SIGNATURE);
        size_t first_section =
            nt_offset_ + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt_.FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt_.FileHeader.NumberOfSections; ++i)
            sections_.push_back(at<IMAGE_SECTION_HEADER>(first_section + i * sizeof(IMAGE_SECTION_HEADER)));
    }

    template <typename T>
    T at(size_t offset) const {
        T value{};
        if (offset + sizeof(T) <= bytes_.size()) std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        return value;
    }

    size_t file_offset(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER& section : sections_) {
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData)
                return section.PointerToRawData + (rva - section.VirtualAddress);
        }
        ADD_FAILURE() << "RVA outside every section: " << rva;
        return bytes_.size();
    }

    std::vector<std::string> imported_libraries() const {
        std::vector<std::string> names;
        const IMAGE_DATA_DIRECTORY& directory = nt_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        size_t offset = file_offset(directory.VirtualAddress);
        for (;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            auto descriptor = at<IMAGE_IMPORT_DESCRIPTOR>(offset);
            if (descriptor.Name == 0 || offset >= bytes_.size()) break;
            size_t name = file_offset(descriptor.Name);
            names.emplace_back(reinterpret_cast<const char*>(bytes_.data() + name));
        }
        return names;
    }

    std::vector<unsigned char> bytes_;
    size_t nt_offset_ = 0;
    IMAGE_NT_HEADERS64 nt_{};
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

TEST_F(ProbeImage, ImportsOnlyKernel32AndShell32) {
    std::vector<std::string> names = imported_libraries();
    EXPECT_EQ(names, (std::vector<std::string>{"KERNEL32.dll", "SHELL32.dll"}));
}

TEST_F(ProbeImage, GuiSubsystemX64Version6) {
    EXPECT_EQ(nt_.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt_.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(nt_.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(nt_.OptionalHeader.MajorOperatingSystemVersion, 6);
    EXPECT_EQ(nt_.OptionalHeader.MinorOperatingSystemVersion, 0);
    EXPECT_EQ(nt_.OptionalHeader.MajorSubsystemVersion, 6);
    EXPECT_EQ(nt_.OptionalHeader.MinorSubsystemVersion, 0);
}

TEST_F(ProbeImage, RelocatableWithAslrDepAndTerminalServerAware) {
    const WORD wanted = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                        IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
    EXPECT_EQ(nt_.OptionalHeader.DllCharacteristics & wanted, wanted);
    EXPECT_EQ(nt_.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED, 0);
    EXPECT_GT(nt_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);
}

TEST_F(ProbeImage, StackReserveAndCommit) {
    EXPECT_EQ(nt_.OptionalHeader.SizeOfStackReserve, 0x968000u);
    EXPECT_EQ(nt_.OptionalHeader.SizeOfStackCommit, 0x1000u);
}

// Stripped and reproducible: no symbol table, no time stamp, nothing after the
// last section's data.
TEST_F(ProbeImage, NothingAfterTheLastSectionAndNoTimestamp) {
    EXPECT_EQ(nt_.FileHeader.TimeDateStamp, 0u);
    EXPECT_EQ(nt_.FileHeader.PointerToSymbolTable, 0u);
    EXPECT_EQ(nt_.FileHeader.NumberOfSymbols, 0u);
    size_t end = 0;
    for (const IMAGE_SECTION_HEADER& section : sections_)
        end = std::max<size_t>(end, section.PointerToRawData + section.SizeOfRawData);
    EXPECT_EQ(end, bytes_.size());
}

TEST_F(ProbeImage, SectionsArePageAlignedInTheFile) {
    EXPECT_EQ(nt_.OptionalHeader.FileAlignment, 0x1000u);
    for (const IMAGE_SECTION_HEADER& section : sections_)
        EXPECT_EQ(section.PointerToRawData % 0x1000, 0u) << reinterpret_cast<const char*>(section.Name);
}

}  // namespace
