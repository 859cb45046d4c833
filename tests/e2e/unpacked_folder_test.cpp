// The extraction folder holds the application folder exactly while the
// application runs, and is gone once the launcher has ended.

#include <gtest/gtest.h>

#include "e2e_launchers.h"

namespace {

std::string describe(const TreeListing& listing) {
    std::string text;
    for (const auto& [name, entry] : listing)
        text += "  " + to_utf8(name) + (entry.is_folder ? "\\" : " " + std::to_string(entry.size)) + "\n";
    return text;
}

bool is_top_level_icon(const std::wstring& name) {
    return name.find(L'\\') == std::wstring::npos && name.size() > 4 &&
           _wcsicmp(name.c_str() + name.size() - 4, L".ico") == 0;
}

TEST(Extraction, TreeMatchesTheApplicationFolderWhileTheApplicationRuns) {
    TreeListing staged;
    ASSERT_TRUE(list_tree(probe_app_folder(), staged));
    // The folder has what the tests rely on; a change to make_tree.py must
    // not quietly drop a limit case.
    for (const wchar_t* name : {L"empty.bin", L"chunk_exact.bin", L"chunk_plus_one.bin", L"level1\\level2",
                                L"level1\\level2\\empty_deep.bin", L"level1\\level2\\window_plus_one.bin"})
        ASSERT_TRUE(staged.count(name)) << to_utf8(name);
    EXPECT_EQ(staged[L"chunk_exact.bin"].size, 32768u);
    EXPECT_EQ(staged[L"chunk_plus_one.bin"].size, 32769u);

    Scratch scratch;
    const RunResult result = run(scratch.launch(probe_launcher()));
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));

    EXPECT_TRUE(report.listing_ok);
    // onefile-build adds the launcher's icon file to the payload as an
    // ordinary entry at the top level.
    TreeListing unpacked = report.extraction_folder;
    int icons = 0;
    for (auto it = unpacked.begin(); it != unpacked.end();) {
        if (!staged.count(it->first) && is_top_level_icon(it->first)) {
            ++icons;
            it = unpacked.erase(it);
        } else {
            ++it;
        }
    }
    EXPECT_EQ(icons, 1) << describe(report.extraction_folder);
    EXPECT_EQ(unpacked, staged) << "unpacked:\n" << describe(unpacked) << "staged:\n" << describe(staged);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_FALSE(path_exists(folder_of(report.library_path)));
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

// The control case for make_blocks.py: its frame writer and archive layout
// give a block the launcher accepts, so the damaged blocks fail for the
// damage alone.
TEST(Extraction, HandMadeBlockUnpacksExactly) {
    TreeListing staged;
    ASSERT_TRUE(list_tree(probe_app_folder(), staged));

    Scratch scratch;
    const RunResult result = run(scratch.launch(block_launcher(L"handmade")));
    ProbeReport report;
    ASSERT_TRUE(read_report(scratch.report_path(), report));

    EXPECT_EQ(report.extraction_folder.size(), 4u) << describe(report.extraction_folder);
    EXPECT_EQ(report.extraction_folder[L"probe_app.dll"], staged[L"probe_app.dll"]);
    EXPECT_TRUE(report.extraction_folder[L"hand"].is_folder);
    EXPECT_EQ(report.extraction_folder[L"hand\\made.txt"].size, 14u);
    EXPECT_EQ(report.extraction_folder[L"empty.bin"].size, 0u);
    EXPECT_FALSE(report.extraction_folder[L"empty.bin"].is_folder);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_TRUE(onefile_entries(scratch.tmp()).empty());
}

}  // namespace
