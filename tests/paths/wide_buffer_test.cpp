// The bounded copy rule at its exact limits, and the two ways it stops.
#include <gtest/gtest.h>

#include <string>

#include "paths/wide_buffer.h"
#include "support/test_support.h"

namespace {

constexpr std::size_t capacity = 8;
constexpr wchar_t guard = L'#';

// A buffer of `capacity` units followed by guard units that must survive.
struct GuardedBuffer {
    wchar_t units[capacity + 4];
    GuardedBuffer() {
        for (wchar_t& unit : units) unit = guard;
    }
    bool guard_intact() const {
        for (std::size_t i = capacity; i < capacity + 4; ++i) {
            if (units[i] != guard) return false;
        }
        return true;
    }
};

TEST(WideCopy, SourcesShorterThanTheCapacityCopyWhole) {
    for (std::size_t length : {0u, 1u, 6u, 7u}) {
        SCOPED_TRACE(length);
        GuardedBuffer buffer;
        std::wstring source = repeated(length);
        wide_copy(buffer.units, source.c_str(), capacity);
        EXPECT_EQ(source, buffer.units);
        EXPECT_TRUE(buffer.guard_intact());
    }
}

TEST(WideCopy, CapacityMinusOneUnitsFillTheBufferExactly) {
    GuardedBuffer buffer;
    wide_copy(buffer.units, L"abcdefg", capacity);
    EXPECT_EQ(L'g', buffer.units[capacity - 2]);
    EXPECT_EQ(L'\0', buffer.units[capacity - 1]);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(WideCopy, EmptySourceFitsCapacityOne) {
    wchar_t one = guard;
    wide_copy(&one, L"", 1);
    EXPECT_EQ(L'\0', one);
}

TEST(WideCopy, SameBufferStaysAsItIs) {
    wchar_t buffer[capacity] = L"abc";
    wide_copy(buffer, buffer, capacity);
    EXPECT_STREQ(L"abc", buffer);
}

TEST(WideCopyDeathTest, SourceOfCapacityUnitsOrMoreAborts) {
    for (std::size_t length : {capacity, capacity + 1}) {
        SCOPED_TRACE(length);
        std::wstring source = repeated(length);
        EXPECT_EXIT(
            {
                GuardedBuffer buffer;
                wide_copy(buffer.units, source.c_str(), capacity);
            },
            aborted, "");
    }
}

struct AppendCase {
    std::size_t existing;
    std::size_t appended;
    bool fits;
};

// Measured from the start of the destination: existing + appended + 1 <= 8.
constexpr AppendCase append_cases[] = {
    {0, 7, true}, {3, 4, true}, {7, 0, true}, {0, 0, true}, {0, 8, false}, {3, 5, false}, {7, 1, false}, {4, 9, false},
};

TEST(WideAppend, FitsWhenTextAndTerminatorFitFromTheStart) {
    for (const AppendCase& c : append_cases) {
        if (!c.fits) continue;
        SCOPED_TRACE(testing::Message() << c.existing << " + " << c.appended);
        GuardedBuffer buffer;
        wide_copy(buffer.units, repeated(c.existing, L'a').c_str(), capacity);
        wide_append(buffer.units, repeated(c.appended, L'b').c_str(), capacity);
        EXPECT_EQ(repeated(c.existing, L'a') + repeated(c.appended, L'b'), buffer.units);
        EXPECT_TRUE(buffer.guard_intact());
    }
}

TEST(WideAppendDeathTest, AbortsWhenTheTerminatorWouldNotFit) {
    for (const AppendCase& c : append_cases) {
        if (c.fits) continue;
        SCOPED_TRACE(testing::Message() << c.existing << " + " << c.appended);
        std::wstring existing = repeated(c.existing, L'a');
        std::wstring appended = repeated(c.appended, L'b');
        EXPECT_EXIT(
            {
                GuardedBuffer buffer;
                wide_copy(buffer.units, existing.c_str(), capacity);
                wide_append(buffer.units, appended.c_str(), capacity);
            },
            aborted, "");
    }
}

TEST(WideAppendUnit, LastFreeUnitIsUsable) {
    GuardedBuffer buffer;
    wide_copy(buffer.units, L"abcdef", capacity);
    wide_append_unit(buffer.units, L'g', capacity);
    EXPECT_STREQ(L"abcdefg", buffer.units);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(WideAppendUnitDeathTest, FullBufferAborts) {
    EXPECT_EXIT(
        {
            GuardedBuffer buffer;
            wide_copy(buffer.units, L"abcdefg", capacity);
            wide_append_unit(buffer.units, L'h', capacity);
        },
        aborted, "");
}

TEST(WideAppendDeathTest, DestinationWithoutTerminatorAborts) {
    EXPECT_EXIT(
        {
            GuardedBuffer buffer;  // all guard units, no terminator
            wide_append(buffer.units, L"", capacity);
        },
        aborted, "");
}

TEST(WideFits, CountsTheTerminator) {
    EXPECT_TRUE(wide_fits(L"abcdefg", capacity));
    EXPECT_FALSE(wide_fits(L"abcdefgh", capacity));
    EXPECT_TRUE(wide_fits(L"", 1));
    EXPECT_FALSE(wide_fits(L"", 0));
}

TEST(WideOrStop, FittingTextIsCopiedAndAppended) {
    GuardedBuffer buffer;
    wide_copy_or_stop(buffer.units, L"abc", capacity, "program path");
    wide_append_or_stop(buffer.units, L"defg", capacity, "program path");
    EXPECT_STREQ(L"abcdefg", buffer.units);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(WideOrStopDeathTest, CopyTooLongStopsWithMessageAndCode2) {
    EXPECT_EXIT(
        {
            route_stdout_to_stderr();
            GuardedBuffer buffer;
            wide_copy_or_stop(buffer.units, L"abcdefgh", capacity, "program path");
        },
        stopped_with_code_2(), "^Error, program path is too long\\.\r?\n$");
}

TEST(WideOrStopDeathTest, AppendTooLongStopsWithMessageAndCode2) {
    EXPECT_EXIT(
        {
            route_stdout_to_stderr();
            GuardedBuffer buffer;
            wide_copy(buffer.units, L"abcd", capacity);
            wide_append_or_stop(buffer.units, L"efgh", capacity, "temporary folder path");
        },
        stopped_with_code_2(), "^Error, temporary folder path is too long\\.\r?\n$");
}

}  // namespace
