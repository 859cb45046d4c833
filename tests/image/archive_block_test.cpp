// The archive bytes, the one zstd frame around them and the block trailer.
#include <gtest/gtest.h>
#include <zstd.h>

#include <random>

#include "image/archive_writer.h"
#include "image/packer.h"
#include "image/payload_block.h"
#include "format/payload_layout.h"
#include "image/image_contract.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

// Decodes with the decoder's default limits, as the launcher does.
std::vector<unsigned char> decompress_frame(const std::vector<unsigned char>& frame) {
    std::vector<unsigned char> out;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    ZSTD_inBuffer input{frame.data(), frame.size(), 0};
    std::vector<unsigned char> window(1 << 17);
    std::size_t result = 1;
    while (result != 0) {
        ZSTD_outBuffer output{window.data(), window.size(), 0};
        result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result)) {
            ADD_FAILURE() << ZSTD_getErrorName(result);
            break;
        }
        out.insert(out.end(), window.begin(), window.begin() + output.pos);
        if (input.pos == input.size && output.pos < window.size() && result != 0) {
            ADD_FAILURE() << "frame is truncated";
            break;
        }
    }
    EXPECT_EQ(input.pos, input.size) << "bytes after the frame";
    ZSTD_freeDCtx(context);
    return out;
}

std::vector<unsigned char> compress_files(const std::vector<AppFile>& files, int level) {
    std::vector<unsigned char> frame;
    std::uint64_t archive_size = 0;
    std::string error;
    EXPECT_TRUE(compress_archive(files, level, frame, archive_size, error)) << error;
    return frame;
}

std::vector<unsigned char> random_bytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<unsigned char> bytes(count);
    for (auto& b : bytes) b = static_cast<unsigned char>(generator() & 0x0F);  // compressible, not trivially
    return bytes;
}

TEST(Archive, ThreeByteFileMatchesTheDocumentedExample) {
    const std::vector<unsigned char> header = entry_header(u"a.dll", 3);
    const std::vector<unsigned char> expected_header = {0x61, 0x00, 0x2E, 0x00, 0x64, 0x00, 0x6C, 0x00, 0x6C, 0x00,
                                                        0x00, 0x00, 0x03, 0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(header, expected_header);

    ScratchFolder scratch;
    write_text(scratch.path / "a.dll", "MZ!");
    const std::vector<unsigned char> archive =
        decompress_frame(compress_files({{u"a.dll", scratch.path / "a.dll", 3}}, 19));
    std::vector<unsigned char> expected = expected_header;
    expected.insert(expected.end(), {'M', 'Z', '!', 0x00, 0x00});
    EXPECT_EQ(archive, expected);
}

TEST(Archive, SizesAndNamesAreLittleEndianUtf16) {
    const std::vector<unsigned char> header = entry_header(u"d\\\u00e9\U0001F600", 0x0102030405060708ull);
    const std::vector<unsigned char> expected = {0x64, 0x00, 0x5C, 0x00, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE,
                                                 0x00, 0x00, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(header, expected);
    EXPECT_EQ(end_marker(), (std::vector<unsigned char>{0, 0}));
}

TEST(Archive, EntriesFollowInTheGivenOrderAndEmptyFilesCarryNoData) {
    ScratchFolder scratch;
    write_text(scratch.path / "first", "xy");
    write_text(scratch.path / "empty", "");
    write_text(scratch.path / "last", "z");
    const std::vector<AppFile> files = {{u"first", scratch.path / "first", 2},
                                        {u"empty", scratch.path / "empty", 0},
                                        {u"sub\\last", scratch.path / "last", 1}};
    std::vector<unsigned char> expected;
    for (const auto& [name, data] :
         {std::pair<std::u16string, std::string>{u"first", "xy"}, {u"empty", ""}, {u"sub\\last", "z"}}) {
        const auto header = entry_header(name, data.size());
        expected.insert(expected.end(), header.begin(), header.end());
        expected.insert(expected.end(), data.begin(), data.end());
    }
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(decompress_frame(compress_files(files, 3)), expected);
}

TEST(Archive, FileThatChangedSizeSincePackingStartedIsRefused) {
    ScratchFolder scratch;
    write_text(scratch.path / "f", "abc");
    for (const std::uint64_t recorded : {2u, 4u}) {
        std::vector<unsigned char> frame;
        std::uint64_t archive_size = 0;
        std::string error;
        EXPECT_FALSE(compress_archive({{u"f", scratch.path / "f", recorded}}, 1, frame, archive_size, error));
        EXPECT_NE(error.find("changed while it was being packed"), std::string::npos) << error;
    }
}

// Frame header: magic, descriptor 0x00, window descriptor 0x88, whatever the
// archive's size or the level. A small archive is where zstd would shrink
// the window if it were told the size.
TEST(Frame, HeaderIsDescriptorZeroAndWindowTwoToThe27) {
    struct Case {
        std::size_t size;
        int level;
    } const cases[] = {{0, 1}, {1, 19}, {100, 22}, {131071, 3}, {131072, 19}, {131073, 1}, {3 << 20, 19}};
    for (const auto& c : cases) {
        ScratchFolder scratch;
        write_bytes(scratch.path / "f", random_bytes(c.size, 7));
        const std::vector<unsigned char> frame = compress_files({{u"f", scratch.path / "f", c.size}}, c.level);
        ASSERT_GE(frame.size(), 6u);
        EXPECT_EQ((std::vector<unsigned char>(frame.begin(), frame.begin() + 6)),
                  (std::vector<unsigned char>{0x28, 0xB5, 0x2F, 0xFD, 0x00, 0x88}))
            << "size " << c.size << " level " << c.level;
        EXPECT_EQ(ZSTD_findFrameCompressedSize(frame.data(), frame.size()), frame.size()) << "exactly one frame";
        EXPECT_EQ(ZSTD_getFrameContentSize(frame.data(), frame.size()), ZSTD_CONTENTSIZE_UNKNOWN);
        EXPECT_EQ(decompress_frame(frame).size(), 2 + 2 + 8 + c.size + 2);
    }
}

TEST(Frame, SameFilesGiveTheSameFrame) {
    ScratchFolder scratch;
    write_bytes(scratch.path / "big", random_bytes(2 << 20, 11));
    write_text(scratch.path / "small", "small");
    const std::vector<AppFile> files = {{u"big", scratch.path / "big", 2u << 20},
                                        {u"small", scratch.path / "small", 5}};
    EXPECT_EQ(compress_files(files, 19), compress_files(files, 19));
}

TEST(Block, TrailerCountsTheBytesBeforeItAndPayloadSizeIsFramePlus13) {
    for (const std::size_t frame_size : {0u, 1u, 7u, 1000u}) {
        const std::vector<unsigned char> frame(frame_size, 0xAB);
        const std::vector<unsigned char> block = payload_block(frame);
        ASSERT_EQ(block.size(), frame_size + 13);
        EXPECT_EQ(payload_size_for_frame(frame_size), block.size());
        EXPECT_EQ((std::vector<unsigned char>(block.begin(), block.begin() + 3)),
                  (std::vector<unsigned char>{'Q', 'Z', 'Y'}));
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), block.begin() + 3));
        EXPECT_EQ(block[3 + frame_size], 0);
        EXPECT_EQ(block[4 + frame_size], 0);
        std::uint64_t trailer = 0;
        for (int i = 7; i >= 0; --i) trailer = trailer << 8 | block[5 + frame_size + i];
        EXPECT_EQ(trailer, 5 + frame_size);
    }
}

TEST(Block, DocumentedSizesForALargeFrame) {
    const std::vector<unsigned char> block = payload_block(std::vector<unsigned char>(27308595));
    EXPECT_EQ(block.size(), 27308608u);
    EXPECT_EQ(payload_size_for_frame(27308595), 0x1a0b240u);
    const std::vector<unsigned char> trailer(block.end() - 8, block.end());
    EXPECT_EQ(trailer, (std::vector<unsigned char>{0x38, 0xB2, 0xA0, 0x01, 0, 0, 0, 0}));  // 27,308,600
}

TEST(Block, PackedFolderUnpacksToItsFilesWithTheLibraryFirst) {
    ScratchFolder scratch;
    make_app_folder(scratch.path);
    PackRequest request;
    request.app_dir = scratch.path;
    PackResult result;
    std::string error;
    ASSERT_TRUE(pack_app_folder(request, result, error)) << error;
    std::vector<ArchiveEntry> entries;
    ASSERT_TRUE(unpack_block(result.block, entries, error)) << error;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, u"app.dll");
    EXPECT_EQ(entries[0].data, read_bytes(fixture("app_library.dll")));
    EXPECT_EQ(entries[1].name, u"data\\table.bin");
    EXPECT_EQ(entries[2].name, u"readme.txt");
    EXPECT_EQ(result.entry_count, 3u);
}

}  // namespace
