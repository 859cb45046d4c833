// Launchers around damaged payload blocks (damaged_blocks.py makes and links
// them), each run once with a temporary folder and a current folder of its
// own. Every run must end in one of the outcomes its damage allows, within
// the hang limit, and leave nothing outside its temporary folder but what
// the outcome allows inside it.
//
// Flips inside the zstd frame may still decode (the frame carries no
// checksum), so such a run may go on: it may unpack a wrong name (refused, or
// failing to open) or wrong bytes. Damage to the application library itself
// may even make the library fail to load or fail while it runs; those
// outcomes are accepted only when a reference decode of the same block shows
// the first archive entry changed, and only when the parent still cleaned
// up, which it does only after its child has ended.

#include <gtest/gtest.h>

#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "launcher_run.h"

namespace {

constexpr DWORD hang_limit_ms = 20000;
constexpr DWORD probe_exit_code = 42;

enum class Outcome {
    header,           // "couldn't find attached data header"
    decode,           // "couldn't decode attached data"
    unsafe_name,      // a decoded name the launcher refuses
    name_too_long,    // a decoded name over 1,023 units
    no_library,       // the child found no first entry
    open_failure,     // a decoded name Windows cannot create
    unpack_failure,   // a write that failed
    load_failure,     // the damaged library does not load
    entry_point,      // the damaged library lacks run_code
    runs,             // the application ran and returned its code
    application_end,  // any other end: the damaged library failed while running
    hung,             // still running at the hang limit
};

const char* name_of(Outcome outcome) {
    switch (outcome) {
        case Outcome::header:
            return "header message";
        case Outcome::decode:
            return "decode message";
        case Outcome::unsafe_name:
            return "unsafe entry name message";
        case Outcome::name_too_long:
            return "entry name too long message";
        case Outcome::no_library:
            return "no application library message";
        case Outcome::open_failure:
            return "open failure message";
        case Outcome::unpack_failure:
            return "unpack failure message";
        case Outcome::load_failure:
            return "load DLL message (damaged library)";
        case Outcome::entry_point:
            return "entry point message (damaged library)";
        case Outcome::runs:
            return "application ran";
        case Outcome::application_end:
            return "damaged library ended its own way";
        case Outcome::hung:
            return "hung in the damaged library";
    }
    return "?";
}

struct Case {
    std::string name;
    std::string expected;  // header, decode, runs, no_library, any
    std::string what;
};

using Bytes = std::string;

std::wstring damage_dir() {
    return build_path(E2E_DAMAGE_DIR);
}

bool read_manifest(std::vector<Case>& cases) {
    std::string text;
    if (!read_file(damage_dir() + L"\\manifest.tsv", text)) return false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t first = line.find('\t');
        const size_t second = line.find('\t', first + 1);
        if (first == std::string::npos || second == std::string::npos) return false;
        cases.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1), line.substr(second + 1)});
    }
    return !cases.empty();
}

// The archive as far as zstd decodes the block's frame, the way the launcher
// feeds it: the whole rest of the block as input, the output taken in
// windows, stopping at the first error or at the end of the frame.
Bytes reference_decode(const Bytes& block) {
    Bytes archive;
    if (block.size() < 3) return archive;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    ZSTD_inBuffer input{block.data() + 3, block.size() - 3, 0};
    std::vector<char> window(131072);
    for (int idle = 0; idle < 16;) {
        ZSTD_outBuffer output{window.data(), window.size(), 0};
        const size_t result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result)) break;
        archive.append(window.data(), output.pos);
        if (result == 0) break;
        idle = output.pos == 0 ? idle + 1 : 0;
    }
    ZSTD_freeDCtx(context);
    return archive;
}

// Bytes of the first entry (name, terminator, size, data), or 0 when the
// archive does not hold one whole.
size_t first_entry_length(const Bytes& archive) {
    size_t at = 0;
    while (at + 1 < archive.size() && (archive[at] != 0 || archive[at + 1] != 0)) at += 2;
    if (at == 0 || at + 10 > archive.size()) return 0;
    std::uint64_t size = 0;
    memcpy(&size, archive.data() + at + 2, sizeof size);
    const size_t length = at + 10 + size;
    return size <= archive.size() && length <= archive.size() ? length : 0;
}

// Entries before the end marker; -1 when the archive ends first.
int entry_count(const Bytes& archive) {
    size_t at = 0;
    for (int count = 0;; ++count) {
        const size_t name = at;
        while (at + 1 < archive.size() && (archive[at] != 0 || archive[at + 1] != 0)) at += 2;
        if (at + 1 >= archive.size()) return -1;
        if (at == name) return count;
        std::uint64_t size = 0;
        if (at + 10 > archive.size()) return -1;
        memcpy(&size, archive.data() + at + 2, sizeof size);
        if (size > archive.size() - at - 10) return -1;
        at += 10 + size;
    }
}

int files_below(const std::wstring& folder) {
    TreeListing listing;
    list_tree(folder, listing);
    int files = 0;
    for (const auto& [name, entry] : listing) files += entry.is_folder ? 0 : 1;
    return files;
}

bool matches(const std::string& text, const char* pattern) {
    return std::regex_match(text, std::regex(pattern));
}

Outcome classify(const RunResult& r, bool ended, const std::wstring& tmp) {
    if (!ended) return Outcome::hung;
    if (r.exit_code == probe_exit_code && r.out.empty() && r.err.empty()) return Outcome::runs;
    if (r.exit_code != 2) return Outcome::application_end;
    if (r.err.empty()) {
        if (r.out == "Error, couldn't find attached data header.\n") return Outcome::header;
        if (r.out == "Error, couldn't decode attached data.\n") return Outcome::decode;
        if (r.out == "Error, attached data holds an entry name that is too long.\n") return Outcome::name_too_long;
        if (r.out == "Error, attached data holds no application library.\n") return Outcome::no_library;
        if (r.out == "Error, DLL entry point not found.\n") return Outcome::entry_point;
        if (matches(r.out, "Error, attached data holds an unsafe entry name '[^\n]*'\\.\n"))
            return Outcome::unsafe_name;
    }
    if (r.out.empty()) {
        const std::string folder = to_utf8(tmp) + "\\onefile_" + std::to_string(r.pid) + "_";
        if (r.err.rfind("Error, failed to open '" + folder, 0) == 0 &&
            matches(r.err, "Error, failed to open '[^\n]*' for writing\\.\n"))
            return Outcome::open_failure;
        if (matches(r.err, "Error, load DLL\\. \\(\\[Error [0-9]+\\] [^\r\n]+\\)\n")) return Outcome::load_failure;
        if (matches(r.err, "Error, couldn't unpack file to target path\\. \\(\\[Error [0-9]+\\] [^\r\n]+\\)\n"))
            return Outcome::unpack_failure;
    }
    return Outcome::application_end;
}

// What a run left in its own folders, and whether that is all in order.
struct Leftovers {
    std::vector<std::wstring> extraction_folders;  // onefile_<pid>_* in tmp
    std::vector<std::wstring> strays;              // anything else anywhere
};

std::vector<std::wstring> names_in(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::wstring drive_root_of(const std::wstring& path) {
    return path.substr(0, path.find(L'\\') + 1);
}

Leftovers leftovers(const std::wstring& root, DWORD pid) {
    Leftovers left;
    const std::wstring own_prefix = L"onefile_" + decimal(pid) + L"_";
    for (const std::wstring& name : names_in(root))
        if (name != L"tmp" && name != L"cwd") left.strays.push_back(root + L"\\" + name);
    for (const std::wstring& name : names_in(root + L"\\cwd"))
        if (name != L"canary" && name != L"canary.txt") left.strays.push_back(root + L"\\cwd\\" + name);
    if (!current_folder_intact(root + L"\\cwd")) left.strays.push_back(L"(deleted the canaries of its current folder)");
    for (const std::wstring& name : names_in(root + L"\\tmp")) {
        const std::wstring path = root + L"\\tmp\\" + name;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        (folder && name.rfind(own_prefix, 0) == 0 ? left.extraction_folders : left.strays).push_back(path);
    }
    // An empty temporary path would put the folder at the drive's root.
    const std::wstring drive = drive_root_of(root);
    for (const std::wstring& name : onefile_entries(drive))
        if (name.rfind(own_prefix, 0) == 0) left.strays.push_back(drive + name);
    return left;
}

bool is_message_of_extraction(Outcome o) {
    return o == Outcome::decode || o == Outcome::unsafe_name || o == Outcome::name_too_long ||
           o == Outcome::open_failure || o == Outcome::unpack_failure;
}

// What the reference decode says of a damaged block.
struct Decoded {
    bool library_damaged = false;  // the first entry differs from the undamaged one
    int entries = -1;              // entries before the end marker; -1: none reached
};

// Empty when the run is in order, else what is wrong with it.
std::string judge(const Case& c, Outcome outcome, const Leftovers& left, const Decoded& decoded) {
    if (!left.strays.empty()) return "touched something outside its extraction folder: " + to_utf8(left.strays[0]);
    if (left.extraction_folders.size() > 1) return "left more than one extraction folder";
    const bool nothing_left = left.extraction_folders.empty();
    if (outcome == Outcome::header || outcome == Outcome::runs || outcome == Outcome::no_library) {
        if (!nothing_left) return "left its extraction folder";
    }
    if (c.expected == "header") return outcome == Outcome::header ? "" : "expected the header message";
    if (c.expected == "decode") return outcome == Outcome::decode ? "" : "expected the decode message";
    if (c.expected == "runs") return outcome == Outcome::runs ? "" : "expected a normal run";
    if (c.expected == "no_library") return outcome == Outcome::no_library ? "" : "expected no application library";
    if (c.expected != "any") return "unknown expectation in the manifest";
    if (outcome == Outcome::header) return "the header message for damage behind the magic";
    if (is_message_of_extraction(outcome) || outcome == Outcome::runs || outcome == Outcome::no_library) return "";
    // What is left (a library that does not load or lacks run_code, any other
    // end, a hang) only the damaged library explains, and only in the child:
    // the parent must have unpacked everything first.
    if (!decoded.library_damaged) return "an end only a damaged library explains, but the library decodes intact";
    if (outcome == Outcome::hung) {
        if (nothing_left || files_below(left.extraction_folders[0]) != decoded.entries)
            return "hung before it had unpacked everything, so not in its child";
        return "";
    }
    return nothing_left ? "" : "the parent did not clean up, so the end is not its child's";
}

struct Tally {
    std::map<Outcome, int> outcomes;
    std::map<std::string, int> expected;
    int tried = 0;
    int failed = 0;
    ULONGLONG slowest_ms = 0;
    std::string slowest;
};

TEST(DamagedPayload, EveryDamagedBlockEndsCleanly) {
    std::vector<Case> cases;
    ASSERT_TRUE(read_manifest(cases)) << "no manifest in " << to_utf8(damage_dir())
                                      << ": the e2e_damaged_blocks test makes it";
    std::string original_block;
    ASSERT_TRUE(read_file(damage_dir() + L"\\original.block", original_block));
    const Bytes original = reference_decode(original_block);
    const size_t first_length = first_entry_length(original);
    ASSERT_GT(first_length, 0u) << "the undamaged block does not decode";
    const Bytes original_first = original.substr(0, first_length);

    Scratch scratch;
    Tally tally;
    std::vector<Case> all{{"original", "runs", "the undamaged block"}};
    all.insert(all.end(), cases.begin(), cases.end());
    for (const Case& c : all) {
        const std::wstring exe = damage_dir() + L"\\" + from_utf8(c.name) + L".exe";
        const std::wstring block_path = damage_dir() + L"\\" + from_utf8(c.name) + L".block";
        const std::wstring root = scratch.root() + L"\\" + from_utf8(c.name);
        const std::wstring tmp = root + L"\\tmp";
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr) && CreateDirectoryW(tmp.c_str(), nullptr) &&
                    make_current_folder(root + L"\\cwd"));
        Launch launch;
        launch.program = exe;
        launch.environment = {{L"TMP", tmp}, {L"TEMP", tmp}, {L"PROBE_EXIT_CODE", decimal(probe_exit_code)}};
        launch.current_directory = root + L"\\cwd";

        RunResult result;
        bool ended = false;
        for (int attempt = 0; attempt < wine_start_attempts; ++attempt) {
            Running running;
            std::wstring error;
            result = RunResult{};
            ASSERT_TRUE(start(launch, running, &error))
                << c.name << ": " << to_utf8(error) << " (ctest makes the launchers first, in e2e_damaged_blocks)";
            ended = finish(running, result, hang_limit_ms);
            if (!ended || !wine_refused_child_start(result)) break;
        }

        const Outcome outcome = classify(result, ended, tmp);
        Bytes block;
        read_file(block_path, block);
        const Bytes archive = reference_decode(block);
        const Decoded decoded{archive.compare(0, first_length, original_first) != 0, entry_count(archive)};
        const Leftovers left = leftovers(root, result.pid);
        const std::string wrong = judge(c, outcome, left, decoded);

        ++tally.tried;
        ++tally.outcomes[outcome];
        ++tally.expected[c.expected];
        if (result.elapsed_ms > tally.slowest_ms) {
            tally.slowest_ms = result.elapsed_ms;
            tally.slowest = c.name;
        }
        if (!wrong.empty()) {
            ++tally.failed;
            ADD_FAILURE() << c.name << " (" << c.what << "): " << wrong << "\n  outcome: " << name_of(outcome)
                          << ", exit code 0x" << std::hex << result.exit_code << std::dec << " after "
                          << result.elapsed_ms << " ms\n  stdout: \"" << result.out << "\"\n  stderr: \""
                          << result.err.substr(0, 400) << "\"";
            continue;  // its folders and launcher stay for a look
        }
        remove_tree(root);
        if (c.name != "original") {
            remove_tree(exe);
            remove_tree(block_path);
        }
    }

    std::printf("%d damaged blocks tried (and the undamaged one), %s\n", tally.tried - 1,
                tally.failed == 0 ? "all ended cleanly" : "SOME DID NOT END CLEANLY");
    std::printf("  by damage:");
    for (const auto& [expected, count] : tally.expected) std::printf(" %s %d;", expected.c_str(), count);
    std::printf("\n  by outcome:\n");
    for (const auto& [outcome, count] : tally.outcomes) std::printf("    %4d  %s\n", count, name_of(outcome));
    std::printf("  longest run: %llu ms (%s)\n", tally.slowest_ms, tally.slowest.c_str());
    std::fflush(stdout);
    EXPECT_EQ(tally.failed, 0);
    EXPECT_GE(tally.tried, 200);
}

}  // namespace
