// wcstol: value, end pointer and errno together, at the limits of a 32-bit long.
#include <gtest/gtest.h>

#include "runtime/runtime.h"

namespace {

struct WcstolCase {
    const wchar_t* text;
    int base;
    long value;
    int consumed;  // end - text
    int error;     // rt_errno afterwards (set to 0 before the call)
};

void check(const WcstolCase& c) {
    wchar_t* end = nullptr;
    rt_errno = 0;
    long value = rt_wcstol(c.text, &end, c.base);
    EXPECT_EQ(value, c.value) << c.text << " base " << c.base;
    EXPECT_EQ(end - c.text, c.consumed) << c.text << " base " << c.base;
    EXPECT_EQ(rt_errno, c.error) << c.text << " base " << c.base;
}

TEST(Wcstol, DecimalLimitsOfLong) {
    const WcstolCase cases[] = {
        {L"2147483646", 10, 2147483646L, 10, 0},
        {L"2147483647", 10, 2147483647L, 10, 0},
        {L"2147483648", 10, 2147483647L, 10, rt_ERANGE},
        {L"-2147483647", 10, -2147483647L, 11, 0},
        {L"-2147483648", 10, -2147483647L - 1, 11, 0},
        {L"-2147483649", 10, -2147483647L - 1, 11, rt_ERANGE},
        {L"99999999999999999999999", 10, 2147483647L, 23, rt_ERANGE},  // beyond 64 bits too
        {L"-99999999999999999999999x", 10, -2147483647L - 1, 24, rt_ERANGE},
        {L"4294967296", 10, 2147483647L, 10, rt_ERANGE},            // wraps to 0 in 32 bits
        {L"18446744073709551616", 10, 2147483647L, 20, rt_ERANGE},  // wraps to 0 in 64 bits
        {L"00000000000000000000000042", 10, 42, 26, 0},
    };
    for (const WcstolCase& c : cases) check(c);
}

TEST(Wcstol, WhiteSpaceSignAndEnd) {
    const WcstolCase cases[] = {
        {L"0", 10, 0, 1, 0},
        {L"  \t\n\v\f\r42", 10, 42, 9, 0},
        {L"+7", 10, 7, 2, 0},
        {L"-0", 10, 0, 2, 0},
        {L"12abc", 10, 12, 2, 0},
        {L"12 ", 10, 12, 2, 0},
        // No digits: 0, end at the start, even past white space and a sign.
        {L"", 10, 0, 0, 0},
        {L"   ", 10, 0, 0, 0},
        {L"-", 10, 0, 0, 0},
        {L"  +x", 10, 0, 0, 0},
        {L"+-1", 10, 0, 0, 0},
        // Only ASCII digits are digits; a non-breaking space is not white space.
        {L"\uff11", 10, 0, 0, 0},
        {L"\u00a05", 10, 0, 0, 0},
        {L"1\u00b2", 10, 1, 1, 0},
    };
    for (const WcstolCase& c : cases) check(c);
}

TEST(Wcstol, BasesAndPrefixes) {
    const WcstolCase cases[] = {
        {L"0x1F", 16, 31, 4, 0},
        {L"0X1f", 0, 31, 4, 0},
        {L"1f", 16, 31, 2, 0},
        {L"017", 0, 15, 3, 0},
        {L"08", 0, 0, 1, 0},   // octal stops at 8
        {L"0x", 16, 0, 1, 0},  // the subject is "0"; end at the x
        {L"0xg", 0, 0, 1, 0},
        {L"-0x80000000", 16, -2147483647L - 1, 11, 0},
        {L"0x80000000", 16, 2147483647L, 10, rt_ERANGE},
        {L"zz", 36, 35 * 36 + 35, 2, 0},
        {L"102", 2, 2, 2, 0},
        {L"0x10", 10, 0, 1, 0},
    };
    for (const WcstolCase& c : cases) check(c);
}

TEST(Wcstol, InvalidBaseIsEinvalWithEndAtStart) {
    for (int base : {-1, 1, 37, 100}) check({L"123", base, 0, 0, rt_EINVAL});
}

TEST(Wcstol, NullEndPointerIsAllowed) {
    rt_errno = 0;
    EXPECT_EQ(rt_wcstol(L"-15", nullptr, 10), -15);
    EXPECT_EQ(rt_errno, 0);
}

// errno is only ever set, never cleared: a good parse keeps an earlier value.
TEST(Wcstol, SuccessLeavesErrnoAlone) {
    rt_errno = rt_ERANGE;
    wchar_t* end = nullptr;
    EXPECT_EQ(rt_wcstol(L"5", &end, 10), 5);
    EXPECT_EQ(rt_errno, rt_ERANGE);
}

}  // namespace
