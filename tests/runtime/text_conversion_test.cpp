// Narrow-to-wide conversion in the "C" locale, the wide digit class and the
// UTF-8 encoder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "runtime/runtime.h"

namespace {

// Every byte value, alone as the launcher converts it, with a count of 2:
// exactly one code unit of the same value.
TEST(Mbstowcs, EveryByteWidensToItsOwnValue) {
    for (int byte = 1; byte <= 0xFF; ++byte) {
        char narrow[2] = {static_cast<char>(byte), '\0'};
        wchar_t wide[2] = {L'?', L'?'};
        EXPECT_EQ(rt_mbstowcs(wide, narrow, 2), 1u) << byte;
        EXPECT_EQ(static_cast<int>(wide[0]), byte);
        EXPECT_EQ(wide[1], L'\0') << "the terminator is converted when it fits";
    }
}

// The count limits what is written: count < length + 1 leaves no terminator.
TEST(Mbstowcs, CountLimits) {
    const struct {
        size_t count;
        size_t result;
        const wchar_t* written;  // what the destination holds, '#' untouched
    } cases[] = {
        {0, 0, L"#####"}, {1, 1, L"a####"}, {2, 2, L"ab###"}, {3, 3, L"abc##"}, {4, 3, L"abc\0#"}, {5, 3, L"abc\0#"},
    };
    for (const auto& c : cases) {
        wchar_t wide[5] = {L'#', L'#', L'#', L'#', L'#'};
        EXPECT_EQ(rt_mbstowcs(wide, "abc", c.count), c.result) << c.count;
        EXPECT_EQ(std::wstring(wide, 5), std::wstring(c.written, 5)) << c.count;
    }
}

TEST(Mbstowcs, NullDestinationMeasures) {
    EXPECT_EQ(rt_mbstowcs(nullptr, "", 0), 0u);
    EXPECT_EQ(rt_mbstowcs(nullptr, "\xE9t\xE9", 1), 3u);
}

TEST(Iswdigit, LatinOneTable) {
    for (int unit = 0; unit <= 0xFF; ++unit) {
        bool expected = (unit >= '0' && unit <= '9') || unit == 0xB2 || unit == 0xB3 || unit == 0xB9;
        EXPECT_EQ(rt_iswdigit(static_cast<rt_wint>(unit)) != 0, expected) << std::hex << unit;
    }
}

// Above U+00FF the class is the system's character-type data, unit for unit.
TEST(Iswdigit, AboveLatinOneFollowsTheSystemData) {
    int digits = 0;
    for (unsigned unit = 0x100; unit <= 0xFFFF; ++unit) {
        WCHAR text = static_cast<WCHAR>(unit);
        WORD type = 0;
        bool expected = GetStringTypeW(CT_CTYPE1, &text, 1, &type) && (type & C1_DIGIT) != 0;
        ASSERT_EQ(rt_iswdigit(static_cast<rt_wint>(unit)) != 0, expected) << std::hex << unit;
        digits += expected ? 1 : 0;
    }
    EXPECT_GT(digits, 0);
    EXPECT_TRUE(rt_iswdigit(0x0660));  // ARABIC-INDIC DIGIT ZERO
    EXPECT_TRUE(rt_iswdigit(0xFF19));  // FULLWIDTH DIGIT NINE
    EXPECT_FALSE(rt_iswdigit(0x4E00));
    EXPECT_FALSE(rt_iswdigit(0xFFFF));  // WEOF
}

std::string encode(const wchar_t* text, int expected_units) {
    char out[4];
    int units = 0;
    int bytes = rt_encode_utf8(text, out, &units);
    EXPECT_EQ(units, expected_units);
    return std::string(out, static_cast<size_t>(bytes));
}

// The boundaries between encoded lengths, and the surrogate rules.
TEST(Utf8, EncodingBoundaries) {
    const wchar_t u0[] = {0x0001, 0};
    const wchar_t u7f[] = {0x007F, 0};
    const wchar_t u80[] = {0x0080, 0};
    const wchar_t u7ff[] = {0x07FF, 0};
    const wchar_t u800[] = {0x0800, 0};
    const wchar_t ud7ff[] = {0xD7FF, 0};
    const wchar_t ue000[] = {0xE000, 0};
    const wchar_t uffff[] = {0xFFFF, 0};
    const wchar_t first_pair[] = {0xD800, 0xDC00, 0};
    const wchar_t last_pair[] = {0xDBFF, 0xDFFF, 0};
    const wchar_t high_then_letter[] = {0xD800, L'a', 0};
    const wchar_t two_highs[] = {0xD800, 0xD801, 0xDC00, 0};
    const wchar_t low_first[] = {0xDC00, 0xD800, 0};
    EXPECT_EQ(encode(u0, 1), "\x01");
    EXPECT_EQ(encode(u7f, 1), "\x7F");
    EXPECT_EQ(encode(u80, 1), "\xC2\x80");
    EXPECT_EQ(encode(u7ff, 1), "\xDF\xBF");
    EXPECT_EQ(encode(u800, 1), "\xE0\xA0\x80");
    EXPECT_EQ(encode(ud7ff, 1), "\xED\x9F\xBF");
    EXPECT_EQ(encode(ue000, 1), "\xEE\x80\x80");
    EXPECT_EQ(encode(uffff, 1), "\xEF\xBF\xBF");
    EXPECT_EQ(encode(first_pair, 2), "\xF0\x90\x80\x80");
    EXPECT_EQ(encode(last_pair, 2), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(encode(high_then_letter, 1), "\xEF\xBF\xBD");
    EXPECT_EQ(encode(two_highs, 1), "\xEF\xBF\xBD");
    EXPECT_EQ(encode(low_first, 1), "\xEF\xBF\xBD");
}

// Round trip: every code point the encoder produces decodes back through the
// system's own converter.
TEST(Utf8, RoundTripsThroughTheSystemConverter) {
    std::wstring text;
    for (unsigned code = 1; code <= 0x10FFFF; code += 0x101) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        if (code < 0x10000) {
            text += static_cast<wchar_t>(code);
        } else {
            text += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            text += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    std::string encoded;
    for (size_t i = 0; i < text.size();) {
        char out[4];
        int units = 0;
        int bytes = rt_encode_utf8(text.c_str() + i, out, &units);
        encoded.append(out, static_cast<size_t>(bytes));
        i += static_cast<size_t>(units);
    }
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, encoded.data(), static_cast<int>(encoded.size()),
                                     nullptr, 0);
    ASSERT_GT(length, 0);
    std::wstring decoded(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, encoded.data(), static_cast<int>(encoded.size()), decoded.data(),
                        length);
    EXPECT_EQ(decoded, text);
}

}  // namespace
