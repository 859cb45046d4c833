// The memory functions (all overlaps, word and byte tails) and the heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/runtime.h"

namespace {

std::vector<unsigned char> pattern(size_t size) {
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    return bytes;
}

// Every offset and length around a word, both directions of overlap, checked
// against a plain byte-by-byte model of memmove.
TEST(Memmove, EveryOverlapAgreesWithTheModel) {
    const size_t size = 64;
    for (size_t from = 0; from < 24; ++from) {
        for (size_t to = 0; to < 24; ++to) {
            for (size_t count : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u}) {
                std::vector<unsigned char> actual = pattern(size);
                std::vector<unsigned char> expected = actual;
                std::vector<unsigned char> copy(expected.begin() + from, expected.begin() + from + count);
                std::copy(copy.begin(), copy.end(), expected.begin() + to);
                void* result = rt_memmove(actual.data() + to, actual.data() + from, count);
                EXPECT_EQ(result, actual.data() + to);
                ASSERT_EQ(actual, expected) << "from " << from << " to " << to << " count " << count;
            }
        }
    }
}

TEST(Memcpy, AllAlignmentsAndTails) {
    for (size_t offset = 0; offset < 9; ++offset) {
        for (size_t count = 0; count < 40; ++count) {
            std::vector<unsigned char> source = pattern(64);
            std::vector<unsigned char> destination(64, 0xEE);
            EXPECT_EQ(rt_memcpy(destination.data() + offset, source.data() + 3, count), destination.data() + offset);
            for (size_t i = 0; i < 64; ++i) {
                bool inside = i >= offset && i < offset + count;
                ASSERT_EQ(destination[i], inside ? source[3 + i - offset] : 0xEE) << offset << "/" << count << "/" << i;
            }
        }
    }
}

TEST(Memset, FillsExactlyTheRangeWithTheLowByte) {
    for (size_t offset = 0; offset < 9; ++offset) {
        for (size_t count = 0; count < 40; ++count) {
            std::vector<unsigned char> bytes(64, 0x11);
            EXPECT_EQ(rt_memset(bytes.data() + offset, 0x1A5, count), bytes.data() + offset);
            for (size_t i = 0; i < 64; ++i) {
                bool inside = i >= offset && i < offset + count;
                ASSERT_EQ(bytes[i], inside ? 0xA5 : 0x11) << offset << "/" << count << "/" << i;
            }
        }
    }
}

// memcmp compares as unsigned char and stops at the count.
TEST(Memcmp, SignAndLimit) {
    EXPECT_EQ(rt_memcmp("abc", "abd", 2), 0);
    EXPECT_LT(rt_memcmp("abc", "abd", 3), 0);
    EXPECT_GT(rt_memcmp("abd", "abc", 3), 0);
    EXPECT_GT(rt_memcmp("\x80", "\x7F", 1), 0);
    EXPECT_EQ(rt_memcmp("x", "y", 0), 0);
}

TEST(Strlen, CountsToTheTerminator) {
    EXPECT_EQ(rt_strlen(""), 0u);
    EXPECT_EQ(rt_strlen("a"), 1u);
    EXPECT_EQ(rt_strlen("\xE9t\xE9\0hidden"), 3u);
}

TEST(Heap, AllocationsAreUsableAndAligned) {
    for (size_t size : {0u, 1u, 15u, 16u, 17u, 4096u, 1u << 20}) {
        auto* block = static_cast<unsigned char*>(rt_malloc(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
        rt_memset(block, 0x5A, size);
        rt_free(block);
    }
    rt_free(nullptr);
}

TEST(Heap, CallocZeroesAndRefusesAWrappingProduct) {
    auto* block = static_cast<unsigned char*>(rt_calloc(1000, 3));
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < 3000; ++i) ASSERT_EQ(block[i], 0) << i;
    rt_free(block);

    rt_errno = 0;
    const size_t half = (static_cast<size_t>(-1) >> 1) + 1;
    EXPECT_EQ(rt_calloc(half, 2), nullptr);  // wraps to 0
    EXPECT_EQ(rt_errno, rt_ENOMEM);
    rt_errno = 0;
    EXPECT_EQ(rt_calloc(static_cast<size_t>(-1), static_cast<size_t>(-1)), nullptr);
    EXPECT_EQ(rt_errno, rt_ENOMEM);
}

TEST(Heap, ReallocKeepsContentsAndFollowsTheNullAndZeroRules) {
    auto* block = static_cast<unsigned char*>(rt_realloc(nullptr, 16));  // null: allocates
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i) block[i] = static_cast<unsigned char>(i);
    block = static_cast<unsigned char*>(rt_realloc(block, 1 << 20));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], i);
    block = static_cast<unsigned char*>(rt_realloc(block, 4));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(block[i], i);
    EXPECT_EQ(rt_realloc(block, 0), nullptr);  // size 0: released
}

TEST(Heap, ExhaustionIsNullWithEnomem) {
    rt_errno = 0;
    EXPECT_EQ(rt_malloc(static_cast<size_t>(-1) - 64), nullptr);
    EXPECT_EQ(rt_errno, rt_ENOMEM);
    void* block = rt_malloc(8);
    rt_errno = 0;
    EXPECT_EQ(rt_realloc(block, static_cast<size_t>(-1) - 64), nullptr);
    EXPECT_EQ(rt_errno, rt_ENOMEM);
    rt_free(block);  // still valid after the failed realloc
}

}  // namespace

// wcscmp orders code units as unsigned values, as the Windows runtime does, so
// a unit above U+7FFF sorts after plain ASCII.
TEST(WideStrings, CompareLengthAndLastUnit) {
    EXPECT_EQ(rt_wcscmp(L"", L""), 0);
    EXPECT_EQ(rt_wcscmp(L"abc", L"abc"), 0);
    EXPECT_LT(rt_wcscmp(L"ab", L"abc"), 0);
    EXPECT_GT(rt_wcscmp(L"abd", L"abc"), 0);
    EXPECT_GT(rt_wcscmp(L"\xFF21", L"A"), 0);
    EXPECT_LT(rt_wcscmp(L"A", L"a"), 0);  // case matters

    EXPECT_EQ(rt_wcslen(L""), 0u);
    EXPECT_EQ(rt_wcslen(L"C:\\T\\x"), 6u);

    const wchar_t* path = L"C:\\dir\\app.exe";
    EXPECT_EQ(rt_wcsrchr(path, L'\\'), path + 6);
    EXPECT_EQ(rt_wcsrchr(path, L'/'), nullptr);
    EXPECT_EQ(rt_wcsrchr(path, L'\0'), path + 14);  // the terminator is part of the string
}
