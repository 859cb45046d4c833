#include "launcher/payload_reader.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/payload_fixtures.h"
#include "support/report_capture.h"

namespace {

using namespace payload_fixtures;

constexpr std::uint64_t window = PayloadReader::window_size;
constexpr char header_missing[] = "Error, couldn't find attached data header.\n";
constexpr char undecodable[] = "Error, couldn't decode attached data.\n";

Bytes read_bytes(std::uint64_t count) {
    Bytes bytes(count);
    PayloadReader::read(bytes.data(), count);
    return bytes;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

// Numbered lines: compressible, so the frame is made of compressed blocks.
Bytes numbered_lines(std::size_t size) {
    Bytes text;
    for (int line = 0; text.size() < size; ++line) {
        std::string row = "line " + std::to_string(line) + ": the payload reader hands out bytes\n";
        text.insert(text.end(), row.begin(), row.end());
    }
    text.resize(size);
    return text;
}

// The reader on a block the test owns; closed again after each test.
class PayloadReaderTest : public ::testing::Test {
  protected:
    void open(Bytes block) {
        block_ = std::move(block);
        PayloadReader::open_block(block_.data(), block_.size());
        opened_ = true;
    }
    void TearDown() override {
        if (opened_) PayloadReader::close();
    }

  private:
    Bytes block_;
    bool opened_ = false;
};

// ---- the window rule ------------------------------------------------------------

struct ReadStep {
    std::uint64_t count;
    std::uint64_t calls_after;  // decompression calls made since open, after this read
    const char* why;
};

TEST_F(PayloadReaderTest, DecompressesOnlyIntoADrainedWindow) {
    // Random content is stored in raw blocks of exactly one window each, so
    // every decompression call hands out one whole window.
    Bytes content = random_bytes(4 * window + 100, 1);
    open(block_of(compress_frame(content)));
    const ReadStep steps[] = {
        {0, 0, "zero bytes on the drained window of a fresh reader: no call"},
        {window, 1, "a read that ends exactly at the fill level"},
        {0, 1, "zero bytes on a drained window: no call"},
        {window - 1, 2, "the drained window is refilled before anything else"},
        {2, 3, "two bytes: the last of one window, the first of the next"},
        {window - 1, 3, "the rest of that window, again exactly to the fill level"},
        {window + 100, 5, "more than a window spans several calls"},
    };
    std::size_t offset = 0;
    for (const ReadStep& step : steps) {
        EXPECT_EQ(read_bytes(step.count), slice(content, offset, step.count)) << step.why;
        EXPECT_EQ(PayloadReader::decompression_calls(), step.calls_after) << step.why;
        offset += step.count;
    }
    EXPECT_EQ(offset, content.size());
}

TEST_F(PayloadReaderTest, ACallThatProducesNothingIsFollowedByTheNextWithinTheSameRead) {
    // The decompressor returns at the end of every frame. A skippable frame in
    // front of the frame makes a first call that consumes input and produces
    // no byte; the read must go on with a second call.
    Bytes content = numbered_lines(1000);
    Bytes frames = skippable_frame(16);
    Bytes frame = compress_frame(content);
    frames.insert(frames.end(), frame.begin(), frame.end());
    open(block_of(frames));
    EXPECT_EQ(read_bytes(10), slice(content, 0, 10));
    EXPECT_EQ(PayloadReader::decompression_calls(), 2u);
}

TEST_F(PayloadReaderTest, AFullWindowSendsTheReaderBackEvenWhenTheInputIsUsedUp) {
    // The block ends right after the second of three blocks. The first call
    // fills the window and also consumes the second block, whose bytes stay
    // inside the decompressor with no input left; only the window-filled flag
    // gets them out.
    Bytes content = random_bytes(3 * window, 2);
    Bytes frame = compress_frame(content);
    std::vector<std::size_t> ends = frame_block_ends(frame);
    ASSERT_GE(ends.size(), 4u);  // the header, then three blocks (and maybe an empty last one)
    frame.resize(ends[2]);
    open(block_without_trailer(frame));
    EXPECT_EQ(read_bytes(2 * window), slice(content, 0, 2 * window));
    EXPECT_EQ(PayloadReader::decompression_calls(), 2u);
}

// ---- archives -----------------------------------------------------------------

// Reads the archive the way the main sequence and the extraction do: names a
// code unit at a time, the size, then the data in pieces of at most 32768.
std::vector<Entry> walk_archive() {
    std::vector<Entry> entries;
    for (;;) {
        std::wstring name;
        for (wchar_t unit = 0;;) {
            PayloadReader::read(&unit, sizeof unit);
            if (unit == 0) break;
            name.push_back(unit);
        }
        if (name.empty()) return entries;
        std::uint64_t size = 0;
        PayloadReader::read(&size, sizeof size);
        Bytes data;
        while (data.size() < size) {
            std::uint64_t piece = std::min<std::uint64_t>(size - data.size(), 32768);
            Bytes bytes = read_bytes(piece);
            data.insert(data.end(), bytes.begin(), bytes.end());
        }
        entries.push_back({name, data});
    }
}

void expect_same_entries(const std::vector<Entry>& actual, const std::vector<Entry>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(actual[i].name == expected[i].name) << "entry " << i;
        EXPECT_TRUE(actual[i].data == expected[i].data) << "entry " << i;
    }
}

TEST(PayloadReaderImage, ReadsTheBlockLinkedIntoTheExecutable) {
    PayloadReader::open();
    expect_same_entries(walk_archive(), {{L"app.dll", {'h', 'e', 'l', 'l', 'o'}}});
    PayloadReader::close();
}

TEST_F(PayloadReaderTest, AnArchiveOfOnlyTheEndMarkerGivesOneZeroUnit) {
    open(block_of_archive(archive_of({})));
    wchar_t unit = L'x';
    PayloadReader::read(&unit, sizeof unit);
    EXPECT_EQ(unit, L'\0');
}

TEST_F(PayloadReaderTest, EntriesOfSizeZeroAreFollowedDirectlyByTheNextName) {
    std::vector<Entry> entries = {{L"app.dll", {}}, {L"empty\\a.txt", {}}, {L"b", {1, 2, 3}}, {L"c", {}}};
    open(block_of_archive(archive_of(entries)));
    expect_same_entries(walk_archive(), entries);
}

// Random read sizes over a large archive, as a stream fuzzer would issue them:
// mostly small pieces, now and then zero bytes or several windows at once.
TEST(PayloadReaderRoundTrip, RandomReadSizesGiveTheArchiveByteForByte) {
    for (std::uint32_t seed : {1u, 2u, 3u}) {
        std::vector<Entry> entries;
        std::mt19937 generator(seed);
        for (int i = 0; i < 12; ++i) {
            std::size_t size = generator() % 3 == 0 ? generator() % 64 : generator() % 400000;
            entries.push_back({L"e" + std::to_wstring(i), mixed_bytes(size, seed * 100 + i)});
        }
        Bytes archive = archive_of(entries);
        Bytes block = block_of_archive(archive, seed == 3 ? 9 : 1);
        PayloadReader::open_block(block.data(), block.size());
        std::size_t offset = 0;
        while (offset < archive.size()) {
            std::uint64_t wanted;
            switch (generator() % 8) {
                case 0:
                    wanted = 0;
                    break;
                case 1:
                    wanted = generator() % (3 * window);
                    break;
                default:
                    wanted = 1 + generator() % 64;
                    break;
            }
            wanted = std::min<std::uint64_t>(wanted, archive.size() - offset);
            Bytes got = read_bytes(wanted);
            ASSERT_TRUE(got == slice(archive, offset, wanted)) << "seed " << seed << ", offset " << offset;
            offset += wanted;
        }
        // A call never produces more than one window.
        EXPECT_GE(PayloadReader::decompression_calls(), (archive.size() + window - 1) / window);
        PayloadReader::close();
    }
}

// ---- failures -------------------------------------------------------------------
//
// Each scenario runs in a child process; the table below checks its exit code
// and the one line it writes to standard output.

}  // namespace

// The import slot through which every malloc call of this executable goes
// (the reader's, zstd's, the test's). Watching it needs no change to the code
// under test.
extern "C" void* (*__imp_malloc)(std::size_t);

namespace {

// The magic is checked before anything is allocated. While a watch that ends
// on allocation lives, a large allocation (the reader makes two: the window and
// the decompression context, both well above large_allocation) ends the
// process with code 77, so a reader that allocated first shows as a wrong exit
// code. Small ones pass: the test framework allocates as the process exits.
constexpr std::size_t large_allocation = 65536;

using MallocFunction = void* (*)(std::size_t);
MallocFunction original_malloc = nullptr;
bool end_on_large_allocation = false;
std::size_t large_allocations_seen = 0;
bool window_allocation_seen = false;

void* watching_malloc(std::size_t size) {
    if (size >= large_allocation) {
        if (end_on_large_allocation) ExitProcess(77);
        ++large_allocations_seen;
        window_allocation_seen = window_allocation_seen || size == window;
    }
    return original_malloc(size);
}

void set_malloc_slot(MallocFunction function) {
    DWORD previous = 0;
    VirtualProtect(reinterpret_cast<void*>(&__imp_malloc), sizeof function, PAGE_READWRITE, &previous);
    __imp_malloc = function;
    VirtualProtect(reinterpret_cast<void*>(&__imp_malloc), sizeof function, previous, &previous);
}

class MallocWatch {
  public:
    explicit MallocWatch(bool end) {
        original_malloc = __imp_malloc;
        end_on_large_allocation = end;
        large_allocations_seen = 0;
        window_allocation_seen = false;
        set_malloc_slot(watching_malloc);
    }
    ~MallocWatch() { set_malloc_slot(original_malloc); }
};

TEST(PayloadReaderAllocation, TheWatchSeesBothOfTheReadersAllocations) {
    // Without this the watch in the magic scenarios would prove nothing.
    Bytes block = block_of_archive(archive_of({}));
    {
        MallocWatch watch(false);
        PayloadReader::open_block(block.data(), block.size());
    }
    EXPECT_EQ(large_allocations_seen, 2u);
    EXPECT_TRUE(window_allocation_seen);
    PayloadReader::close();
}

void open_with_magic(const char* magic) {
    Bytes block = block_of_archive(archive_of({}));
    block[0] = static_cast<unsigned char>(magic[0]);
    block[1] = static_cast<unsigned char>(magic[1]);
    block[2] = static_cast<unsigned char>(magic[2]);
    MallocWatch watch(true);
    PayloadReader::open_block(block.data(), block.size());
}

TEST(PayloadReaderScenario, DISABLED_MagicWrongInTheFirstByte) {
    open_with_magic("RZY");
}
TEST(PayloadReaderScenario, DISABLED_MagicWrongInTheSecondByte) {
    open_with_magic("QzY");
}
TEST(PayloadReaderScenario, DISABLED_MagicWrongInTheThirdByte) {
    open_with_magic("QZ\x00");
}

TEST(PayloadReaderScenario, DISABLED_BlockShorterThanTheMagic) {
    const unsigned char block[] = {'Q', 'Z'};
    MallocWatch watch(true);
    PayloadReader::open_block(block, sizeof block);
}

TEST(PayloadReaderScenario, DISABLED_WindowAboveTheLimit) {
    // 0x89: 2^27 + 2^24 bytes, one step above what the decoder accepts by default.
    Bytes block = block_of_archive(archive_of({{L"app.dll", numbered_lines(1000)}}));
    ASSERT_EQ(block[window_descriptor_offset], 0x88);
    block[window_descriptor_offset] = 0x89;
    PayloadReader::open_block(block.data(), block.size());
    read_bytes(1);
}

TEST(PayloadReaderScenario, DISABLED_TruncatedFrame) {
    // The third of three compressed blocks is cut in half; the trailer follows
    // the cut. The two whole blocks are handed out, then the read that needs
    // the missing bytes fails.
    Bytes content = numbered_lines(3 * window);
    Bytes frame = compress_frame(content);
    std::vector<std::size_t> ends = frame_block_ends(frame);
    ASSERT_GE(ends.size(), 4u);
    frame.resize((ends[2] + ends[3]) / 2);
    Bytes block = block_of(frame);
    PayloadReader::open_block(block.data(), block.size());
    ASSERT_TRUE(read_bytes(2 * window) == slice(content, 0, 2 * window));
    read_bytes(1);
}

TEST(PayloadReaderScenario, DISABLED_PayloadSizeStopsInsideTheFrame) {
    Bytes content = numbered_lines(window + 500);
    Bytes block = block_of(compress_frame(content));
    PayloadReader::open_block(block.data(), block.size() / 2);
    read_bytes(content.size());
}

TEST(PayloadReaderScenario, DISABLED_MissingEndMarker) {
    // The trailer after the frame is no frame: its first two bytes are zero.
    Bytes archive;
    append_name(archive, L"app.dll");
    append_u64(archive, 3);
    archive.insert(archive.end(), {'a', 'b', 'c'});
    Bytes block = block_of_archive(archive);
    PayloadReader::open_block(block.data(), block.size());
    ASSERT_TRUE(read_bytes(archive.size()) == archive);
    read_bytes(2);
}

TEST(PayloadReaderScenario, DISABLED_EntryClaimsMoreThanTheFrameHolds) {
    Bytes archive;
    append_name(archive, L"app.dll");
    append_u64(archive, 100000);
    Bytes data = numbered_lines(1000);
    archive.insert(archive.end(), data.begin(), data.end());
    Bytes block = block_of_archive(archive);
    PayloadReader::open_block(block.data(), block.size());
    read_bytes(archive.size() - data.size() + 100000);
}

struct FailureCase {
    const char* scenario;
    const char* message;
};

TEST(PayloadReaderFailures, EndWithExitCodeTwoAndOneLineOnStandardOutput) {
    const FailureCase cases[] = {
        {"DISABLED_MagicWrongInTheFirstByte", header_missing},
        {"DISABLED_MagicWrongInTheSecondByte", header_missing},
        {"DISABLED_MagicWrongInTheThirdByte", header_missing},
        {"DISABLED_BlockShorterThanTheMagic", header_missing},
        {"DISABLED_WindowAboveTheLimit", undecodable},
        {"DISABLED_TruncatedFrame", undecodable},
        {"DISABLED_PayloadSizeStopsInsideTheFrame", undecodable},
        {"DISABLED_MissingEndMarker", undecodable},
        {"DISABLED_EntryClaimsMoreThanTheFrameHolds", undecodable},
    };
    for (const FailureCase& c : cases) {
        report_capture::expect_stop_with_output(std::string("PayloadReaderScenario.") + c.scenario, c.message);
    }
}

}  // namespace
