// The resource bytes onefile-build generates, read back with the test's own
// readers.
#include <gtest/gtest.h>

#include "image/build_constants.h"
#include "image/resources.h"
#include "image/image_contract.h"
#include "image/pe_reader.h"
#include "image/version_info_reader.h"

namespace {

BuildTexts texts_of(const std::string& company, const std::string& product, const std::string& version) {
    BuildTexts texts;
    std::string error;
    EXPECT_TRUE(make_build_texts(company, product, version, texts, error)) << error;
    return texts;
}

std::vector<std::uint32_t> fixed_part(const VersionBlock& root) {
    std::vector<std::uint32_t> words(13);
    for (std::size_t i = 0; i < words.size(); ++i) read_u32(root.value, 4 * i, words[i]);
    return words;
}

TEST(VersionResource, DefaultTextsReadBackExactly) {
    const BuildTexts texts = texts_of("Vellmore Limited", "Lumbrick", "1.0.0.0");
    const std::vector<unsigned char> bytes = version_resource(texts);
    VersionBlock root;
    std::string error;
    ASSERT_TRUE(parse_version_info(bytes, root, error)) << error;
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    EXPECT_EQ(fixed_part(root),
              (std::vector<std::uint32_t>{0xFEEF04BD, 0, 0x00010000, 0, 0x00010000, 0, 0x3F, 0, 4, 1, 0, 0, 0}));
    ASSERT_EQ(root.children.size(), 2u);
    const VersionBlock& string_info = root.children[0];
    EXPECT_EQ(string_info.key, u"StringFileInfo");
    ASSERT_EQ(string_info.children.size(), 1u);
    const VersionBlock& table = string_info.children[0];
    EXPECT_EQ(table.key, u"000004b0");
    const std::vector<std::pair<std::u16string, std::u16string>> expected = {
        {u"CompanyName", u"Vellmore Limited"},
        {u"ProductName", u"Lumbrick"},
        {u"FileDescription", u"Lumbrick by Vellmore Limited"},
        {u"LegalCopyright", u"Copyright (C) Vellmore Limited. All rights reserved."},
        {u"ProductVersion", u"1.0.0.0"},
        {u"FileVersion", u"1.0.0.0"},
        {u"OriginalFilename", u"Lumbrick.exe"},
        {u"InternalName", u"Lumbrick"},
    };
    ASSERT_EQ(table.children.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(table.children[i].key, expected[i].first) << i;
        EXPECT_EQ(text_value(table.children[i]), expected[i].second) << i;
        EXPECT_EQ(table.children[i].type, 1);
        EXPECT_EQ(table.children[i].value_length, expected[i].second.size() + 1) << i;
    }
    const VersionBlock& var_info = root.children[1];
    EXPECT_EQ(var_info.key, u"VarFileInfo");
    ASSERT_EQ(var_info.children.size(), 1u);
    EXPECT_EQ(var_info.children[0].key, u"Translation");
    EXPECT_EQ(var_info.children[0].value, (std::vector<unsigned char>{0x00, 0x00, 0xB0, 0x04}));
}

TEST(VersionResource, VersionNumbersGoIntoTheFixedPart) {
    const BuildTexts texts = texts_of("C", "P", "2.3.40000.65535");
    VersionBlock root;
    std::string error;
    ASSERT_TRUE(parse_version_info(version_resource(texts), root, error)) << error;
    const auto words = fixed_part(root);
    EXPECT_EQ(words[2], 0x00020003u);
    EXPECT_EQ(words[3], 0x9C40FFFFu);
    EXPECT_EQ(words[4], words[2]);
    EXPECT_EQ(words[5], words[3]);
}

// Every text length lands the next block on a different alignment; each must
// read back with consistent lengths.
TEST(VersionResource, EveryTextLengthKeepsTheBlocksAligned) {
    for (std::size_t length = 1; length <= 9; ++length) {
        const std::string product(length, 'p');
        const std::string company(10 - length, 'c');
        const BuildTexts texts = texts_of(company, product, "1.2");
        VersionBlock root;
        std::string error;
        ASSERT_TRUE(parse_version_info(version_resource(texts), root, error)) << length << ": " << error;
        ASSERT_EQ(root.children.size(), 2u);
        ASSERT_EQ(root.children[0].children.size(), 1u);
        const auto& table = root.children[0].children[0];
        ASSERT_EQ(table.children.size(), 8u);
        EXPECT_EQ(text_value(table.children[1]), std::u16string(length, u'p'));
        EXPECT_EQ(text_value(table.children[6]), std::u16string(length, u'p') + u".exe");
        EXPECT_EQ(text_value(table.children[4]), u"1.2");
    }
}

TEST(VersionResource, NonAsciiTextsAreUtf16) {
    const BuildTexts texts = texts_of("Soci\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80", "Ca\xc3\xb1\xc3\xb3n", "1.0.0.0");
    VersionBlock root;
    std::string error;
    ASSERT_TRUE(parse_version_info(version_resource(texts), root, error)) << error;
    const auto& table = root.children[0].children[0];
    EXPECT_EQ(text_value(table.children[0]), u"Soci\u00e9t\u00e9 \U0001F600");
    EXPECT_EQ(text_value(table.children[1]), u"Ca\u00f1\u00f3n");
}

TEST(BuildTexts, VersionTextIsOneToFourNumbersUpTo65535) {
    struct Case {
        const char* version;
        bool ok;
        std::array<std::uint16_t, 4> parts;
    } const cases[] = {
        {"1.0.0.0", true, {1, 0, 0, 0}},
        {"1", true, {1, 0, 0, 0}},
        {"1.2.3", true, {1, 2, 3, 0}},
        {"65535.65535.65535.65535", true, {65535, 65535, 65535, 65535}},
        {"00001.2", true, {1, 2, 0, 0}},
        {"65536", false, {}},
        {"000001", false, {}},
        {"1.2.3.4.5", false, {}},
        {"1..2", false, {}},
        {".1", false, {}},
        {"1.", false, {}},
        {"", false, {}},
        {"a.b", false, {}},
        {"1.0 ", false, {}},
        {"-1", false, {}},
        {"+1", false, {}},
    };
    for (const auto& c : cases) {
        BuildTexts texts;
        std::string error;
        EXPECT_EQ(make_build_texts("C", "P", c.version, texts, error), c.ok) << c.version << " " << error;
        if (c.ok) EXPECT_EQ(texts.version_parts, c.parts) << c.version;
        if (!c.ok && *c.version != '\0') EXPECT_NE(error.find("--version must be"), std::string::npos) << error;
    }
}

TEST(BuildTexts, NamesMustBeShortPrintableUtf8) {
    struct Case {
        std::string company;
        const char* problem;  // nullptr: accepted
    } const cases[] = {
        {std::string(255, 'c'), nullptr},
        {std::string(256, 'c'), "must be at most 255"},
        {std::string(127, 'c') + "\xf0\x9f\x98\x80", nullptr},  // 129 units
        {"", "must not be empty"},
        {"tab\there", "must not contain control characters"},
        {"bell\x7f", "must not contain control characters"},
        {"bad\xff", "is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        BuildTexts texts;
        std::string error;
        const bool ok = make_build_texts(c.company, "P", "1", texts, error);
        EXPECT_EQ(ok, c.problem == nullptr) << c.company.size() << " " << error;
        if (c.problem != nullptr) {
            EXPECT_NE(error.find(std::string("--company ") + c.problem), std::string::npos) << error;
        }
    }
}

TEST(Manifest, IsTheExpectedSingleLine) {
    const std::string manifest = manifest_text();
    EXPECT_EQ(manifest, expected_manifest);
    EXPECT_EQ(manifest.find('\n'), std::string::npos);
    EXPECT_EQ(manifest.find('\r'), std::string::npos);
}

TEST(IconGroup, SixEntriesWithPlanesZeroAnd256StoredAsZero) {
    IconImages images;
    for (std::size_t i = 0; i < images.size(); ++i) {
        images[i].size = icon_sizes[i];
        images[i].png.assign(100 + i, 0);
    }
    const std::vector<unsigned char> group = icon_group(images);
    std::vector<unsigned char> expected = {0, 0, 1, 0, 6, 0};
    const unsigned char sides[] = {16, 32, 48, 64, 128, 0};
    for (std::size_t i = 0; i < 6; ++i) {
        expected.insert(expected.end(), {sides[i], sides[i], 0, 0, 0, 0, 32, 0, static_cast<unsigned char>(100 + i), 0,
                                         0, 0, static_cast<unsigned char>(i + 1), 0});
    }
    EXPECT_EQ(group, expected);
}

TEST(ResourceScript, NamesEveryResourceByNumberInLanguageNeutral) {
    EXPECT_EQ(resource_script(),
              "LANGUAGE 0, 0\n"
              "1 16 \"version.bin\"\n"
              "1 24 \"manifest.xml\"\n"
              "1 14 \"icon-group.bin\"\n"
              "1 3 \"icon1.png\"\n"
              "2 3 \"icon2.png\"\n"
              "3 3 \"icon3.png\"\n"
              "4 3 \"icon4.png\"\n"
              "5 3 \"icon5.png\"\n"
              "6 3 \"icon6.png\"\n");
}

}  // namespace
