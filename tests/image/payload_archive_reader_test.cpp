// The host's archive reader on hand-made archives: it accepts what the
// launcher unpacks and names where a damaged archive breaks off.
#include <gtest/gtest.h>
#include <zstd.h>

#include <string>
#include <vector>

#include "image/archive_writer.h"
#include "image/payload_archive_reader.h"
#include "image/payload_block.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes entry(const std::u16string& name, const std::string& data) {
    return entry_header(name, data.size()) + Bytes(data.begin(), data.end());
}

Bytes cut(Bytes bytes, std::size_t dropped) {
    bytes.resize(bytes.size() - dropped);
    return bytes;
}

// "name:data;" for every entry, then "end", or the first error.
std::string walk(const Bytes& archive) {
    Bytes frame(ZSTD_compressBound(archive.size()));
    frame.resize(ZSTD_compress(frame.data(), frame.size(), archive.data(), archive.size(), 3));
    const Bytes block = payload_block(frame);
    ArchiveReader reader;
    std::string error;
    std::string walked;
    if (!open_archive_reader(block.data(), block.size(), reader, error)) return error;
    ArchiveEntryHeader header;
    bool end = false;
    while (next_archive_entry(reader, header, end, error)) {
        std::string data(header.size, '\0');
        if (!read_archive_bytes(reader, reinterpret_cast<unsigned char*>(data.data()), header.size, error)) break;
        walked += std::string(header.name.begin(), header.name.end()) + ":" + data + ";";
    }
    if (end && finish_archive(reader, error)) walked += "end";
    close_archive_reader(reader);
    return error.empty() ? walked : error;
}

TEST(PayloadArchiveReader, WalksWholeArchivesAndNamesWhereADamagedOneBreaksOff) {
    const Bytes two = entry(u"app.dll", "MZ") + entry(u"sub\\b.txt", "bee");
    const std::u16string longest(1023, u'n');
    const std::string longest_text(1023, 'n');
    const struct {
        const char* name;
        Bytes archive;
        std::string walked;
    } cases[] = {
        {"two entries", two + end_marker(), "app.dll:MZ;sub\\b.txt:bee;end"},
        {"empty entry", entry(u"a", "") + end_marker(), "a:;end"},
        {"only the end marker", end_marker(), "end"},
        {"longest name", entry(longest, "x") + end_marker(), longest_text + ":x;end"},
        {"name one unit longer", entry(longest + u"n", "x") + end_marker(),
         "an entry name is longer than 1023 UTF-16 code units"},
        {"no end marker", two, "the payload archive ends inside a name"},
        {"cut inside a name", cut(entry_header(u"app.dll", 2), 9), "the payload archive ends inside a name"},
        {"cut inside a size", cut(entry_header(u"app.dll", 2), 3), "the payload archive ends inside an entry size"},
        {"cut inside the data", cut(entry(u"app.dll", "MZ"), 1), "the payload archive ends inside an entry's data"},
        {"unsafe name", entry(u"..\\up", "x") + end_marker(), "unsafe entry name '..\\up'"},
        {"bytes after the end marker", end_marker() + Bytes{1}, "bytes follow the payload archive's end marker"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.walked, walk(c.archive).substr(0, c.walked.size()));
    }
}

}  // namespace
