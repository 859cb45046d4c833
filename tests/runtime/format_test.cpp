// The formatter behind every printf of the image: directives as C defines them,
// wide text as UTF-8, snprintf's limits, and the sink contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/runtime.h"

namespace {

// Formats with rt_vsnprintf into a roomy buffer; checks the returned length.
std::string format(const char* pattern, ...) {
    char buffer[1024];
    va_list arguments;
    va_start(arguments, pattern);
    int length = rt_vsnprintf(buffer, sizeof buffer, pattern, arguments);
    va_end(arguments);
    EXPECT_EQ(length, static_cast<int>(std::string(buffer).size())) << pattern;
    return buffer;
}

// The launcher's own directives, exactly as it uses them.
TEST(Format, LauncherDirectives) {
    EXPECT_EQ(format("%s ([Error %ld] %s)\n", "Error, load DLL.", 126L, "The module was not found."),
              "Error, load DLL. ([Error 126] The module was not found.)\n");
    EXPECT_EQ(format("%ld", -2147483647L - 1), "-2147483648");
    EXPECT_EQ(format("%06ld", 0L), "000000");
    EXPECT_EQ(format("%06ld", 999999L), "999999");
    EXPECT_EQ(format("%06ld", 1234567L), "1234567");  // a width never cuts
    EXPECT_EQ(format("%lld", 0x7FFFFFFFFFFFFFFFLL), "9223372036854775807");
    EXPECT_EQ(format("%lld", -0x7FFFFFFFFFFFFFFFLL - 1), "-9223372036854775808");
    EXPECT_EQ(format("%lu", 4294967295UL), "4294967295");
    EXPECT_EQ(format("Error, failed to open '%ls' for writing.\n", L"C:\\t\\a.dll"),
              "Error, failed to open 'C:\\t\\a.dll' for writing.\n");
}

TEST(Format, CheapDirectives) {
    EXPECT_EQ(format("%d|%u|%llu|%x|%X|%o|%c|%%|%i", -1, 4294967295u, 18446744073709551615ULL, 0xabcdefu, 0xabcdefu, 8u,
                     'z', 7),
              "-1|4294967295|18446744073709551615|abcdef|ABCDEF|10|z|%|7");
    EXPECT_EQ(format("%hhd %hhu %hd %hu", 257, 511, 65537, 65535 + 2), "1 255 1 1");
    EXPECT_EQ(format("%zu %zd %jd %td", static_cast<size_t>(-1), static_cast<ptrdiff_t>(-3), static_cast<long long>(-4),
                     static_cast<ptrdiff_t>(5)),
              "18446744073709551615 -3 -4 5");
    EXPECT_EQ(format("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(format("%ls", static_cast<const wchar_t*>(nullptr)), "(null)");
    EXPECT_EQ(format("no directives"), "no directives");
    EXPECT_EQ(format(""), "");
}

// Widths, precisions and flags of the integer conversions, checked against the
// toolchain's C99 printf (mingw's own, not ours) over a grid of cases.
TEST(Format, IntegerFlagsAgreeWithTheToolchainPrintf) {
    const char* patterns[] = {"%d",    "%5d",   "%-5d|",   "%05d",   "%+d",    "% d",   "%+05d", "%-+6d|", "%.3d",
                              "%.0d",  "%8.3d", "%-8.3d|", "%08.3d", "%0-6d|", "% 05d", "%+ d",  "%1d",    "%.10d",
                              "%x",    "%#x",   "%#X",     "%#08x",  "%#.5x",  "%o",    "%#o",   "%#5o",   "%.0x",
                              "%#.0x", "%u",    "%10u",    "%-10u|", "%010u",  "%.0u"};
    const long long values[] = {0, 1, -1, 7, -42, 255, 4096, 2147483647LL, -2147483647LL - 1, 123456789};
    for (const char* pattern : patterns) {
        for (long long value : values) {
            char expected[128];
            char actual[128];
            int expected_length = std::snprintf(expected, sizeof expected, pattern, static_cast<int>(value));
            int actual_length = rt_snprintf(actual, sizeof actual, pattern, static_cast<int>(value));
            EXPECT_STREQ(actual, expected) << pattern << " with " << value;
            EXPECT_EQ(actual_length, expected_length) << pattern << " with " << value;
        }
    }
}

// C: "if the value and precision are both 0, a single 0 is printed" for "%#.0o"
// (the toolchain's printf prints nothing there, so this one is checked alone).
TEST(Format, AlternateOctalZeroWithZeroPrecision) {
    EXPECT_EQ(format("%#.0o|%.0o|%#.0x", 0u, 0u, 0u), "0||");
    EXPECT_EQ(format("%#.0o", 8u), "010");
}

TEST(Format, StarWidthAndPrecision) {
    EXPECT_EQ(format("[%*d]", 5, 42), "[   42]");
    EXPECT_EQ(format("[%*d]", -5, 42), "[42   ]");  // a negative width means '-'
    EXPECT_EQ(format("[%.*d]", 4, 42), "[0042]");
    EXPECT_EQ(format("[%.*d]", -1, 42), "[42]");  // a negative precision means none
    EXPECT_EQ(format("[%*.*s]", 6, 2, "abcdef"), "[    ab]");
}

TEST(Format, NarrowTextWidthAndPrecision) {
    EXPECT_EQ(format("[%5s]", "ab"), "[   ab]");
    EXPECT_EQ(format("[%-5s]", "ab"), "[ab   ]");
    EXPECT_EQ(format("[%.1s]", "ab"), "[a]");
    EXPECT_EQ(format("[%.0s]", "ab"), "[]");
    EXPECT_EQ(format("[%2s]", "abcd"), "[abcd]");
    // A precision lets the text lack a terminator: nothing past it is read.
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(format("[%.3s]", unterminated), "[xyz]");
    EXPECT_EQ(format("[%3c|%-3c]", 'a', 'b'), "[  a|b  ]");
}

// Wide text becomes UTF-8: every character whole, surrogate pairs joined,
// unpaired surrogates replaced by U+FFFD.
TEST(Format, WideTextIsUtf8) {
    EXPECT_EQ(format("%ls", L"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(format("%ls", L"C:\\Users\\\u0416\u0435\u043d\u044f\\AppData"),
              "C:\\Users\\\xD0\x96\xD0\xB5\xD0\xBD\xD1\x8F\\AppData");
    const wchar_t lone_high[] = {L'a', 0xD800, L'b', 0};
    const wchar_t lone_low[] = {0xDC00, 0};
    const wchar_t high_at_end[] = {L'x', 0xDBFF, 0};
    EXPECT_EQ(format("%ls", lone_high),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(format("%ls", lone_low), "\xEF\xBF\xBD");
    EXPECT_EQ(format("%ls", high_at_end), "x\xEF\xBF\xBD");
    EXPECT_EQ(format("%lc|%lc", L'\u00e9', L'A'), "\xC3\xA9|A");
}

// A precision on "%ls" counts bytes and never splits a character; a width
// counts bytes too.
TEST(Format, WideTextPrecisionKeepsCharactersWhole) {
    const wchar_t* text = L"a\u20acb";  // 1 + 3 + 1 bytes
    const std::pair<int, const char*> cases[] = {
        {0, ""},
        {1, "a"},
        {2, "a"},
        {3, "a"},
        {4, "a\xE2\x82\xAC"},
        {5,
         "a\xE2\x82\xAC"
         "b"},
        {6,
         "a\xE2\x82\xAC"
         "b"},
    };
    for (const auto& [precision, expected] : cases) EXPECT_EQ(format("%.*ls", precision, text), expected) << precision;
    EXPECT_EQ(format("[%6ls]", L"\u00e9"), "[    \xC3\xA9]");
    EXPECT_EQ(format("[%-4ls]", L"\u00e9"), "[\xC3\xA9  ]");
}

TEST(Format, UnknownOrCutDirectivesAreWrittenAsTheyStand) {
    EXPECT_EQ(format("a%qb"), "a%qb");
    EXPECT_EQ(format("%5.2y|%d", 3), "%5.2y|3");
    EXPECT_EQ(format("100%"), "100%");
    EXPECT_EQ(format("x%-0"), "x%-0");
}

// snprintf at the limits: capacity - 1, capacity, capacity + 1 bytes of text.
TEST(Snprintf, TruncatesWithTerminatorAndReturnsFullLength) {
    const std::string text = "0123456789";  // 10 bytes
    for (size_t capacity : {9u, 10u, 11u, 12u, 1u}) {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        int length = rt_snprintf(buffer, capacity, "%s", text.c_str());
        EXPECT_EQ(length, 10) << capacity;
        std::string kept = text.substr(0, std::min(capacity - 1, text.size()));
        EXPECT_STREQ(buffer, kept.c_str()) << capacity;
        EXPECT_EQ(buffer[capacity], '#') << "nothing written past the capacity " << capacity;
    }
}

TEST(Snprintf, ZeroCapacityWritesNothing) {
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(rt_snprintf(buffer, 0, "%d", 12345), 5);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(rt_snprintf(nullptr, 0, "%ls", L"\u20ac"), 3);
}

// Truncation cuts bytes, as C says, so a multi-byte character may be cut at
// the very end of a too-small buffer; the returned length still tells the caller.
TEST(Snprintf, LengthCountsUtf8Bytes) {
    char buffer[8];
    EXPECT_EQ(rt_snprintf(buffer, sizeof buffer, "%ls", L"\U0001F600\U0001F600"), 8);
    EXPECT_EQ(std::string(buffer), "\xF0\x9F\x98\x80\xF0\x9F\x98");
}

// The sink contract: drain is called exactly when the buffer is full, and
// every byte arrives once, in order.
struct Collected {
    std::string bytes;
    int drains = 0;
};

void collect(rt_sink* sink) {
    auto* target = static_cast<Collected*>(sink->target);
    EXPECT_EQ(sink->used, sink->capacity);
    target->bytes.append(sink->buffer, sink->used);
    ++target->drains;
    sink->used = 0;
}

int format_to(rt_sink* sink, const char* pattern, ...) {
    va_list arguments;
    va_start(arguments, pattern);
    int result = rt_format(sink, pattern, arguments);
    va_end(arguments);
    return result;
}

TEST(FormatSink, DrainsWhenFullAndKeepsOrder) {
    for (size_t capacity : {1u, 3u, 7u, 16u}) {
        char buffer[16];
        Collected collected;
        rt_sink sink{buffer, capacity, 0, 0, collect, &collected};
        int length = format_to(&sink, "%s-%05d-%ls", "abc", 42, L"\u20ac");
        collected.bytes.append(buffer, sink.used);
        EXPECT_EQ(collected.bytes, "abc-00042-\xE2\x82\xAC") << capacity;
        EXPECT_EQ(length, 13);
        EXPECT_EQ(collected.drains, static_cast<int>((13 - 1) / capacity)) << capacity;
    }
}

TEST(FormatSink, ReturnsTheBytesOfThisCallOnly) {
    char buffer[64];
    rt_sink sink{buffer, sizeof buffer, 0, 0, nullptr, nullptr};
    EXPECT_EQ(format_to(&sink, "%d", 123), 3);
    EXPECT_EQ(format_to(&sink, "%s", "ab"), 2);
    EXPECT_EQ(std::string(buffer, sink.used), "123ab");
}

}  // namespace
