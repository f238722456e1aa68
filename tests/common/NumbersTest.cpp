#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cstdint>

#include "common/KVEL_Common.h"

namespace {

int32_t Int(const char* text, bool* ok = nullptr, int length = -1) {
    int32_t value = 12345;
    const bool parsed = DigtalStringToValue(text, length, &value, 5);
    if (ok) *ok = parsed;
    return value;
}

uint32_t UInt(const char* text) {
    uint32_t value = 7;
    EXPECT_TRUE(DigtalStringToValue(text, -1, &value, 6)) << text;
    return value;
}

double Real(const char* text) {
    double value = -99;
    EXPECT_TRUE(DigtalStringToValue(text, -1, &value, 10)) << text;
    return value;
}

TEST(Numbers, SignedDecimalAndHex) {
    EXPECT_EQ(Int("42"), 42);
    EXPECT_EQ(Int("  -17"), -17);
    EXPECT_EQ(Int("+8"), 8);
    EXPECT_EQ(Int("0x1F"), 31);
    EXPECT_EQ(Int("0XfF"), 255);
    EXPECT_EQ(Int("-0x10"), -16);
    EXPECT_EQ(Int("30.00"), 30);  // the number ends where the digits end
    EXPECT_EQ(Int("0x"), 0);      // as strtol: the "0" is read, the "x" ends it
    EXPECT_EQ(Int("123456", nullptr, 3), 123);
    int32_t wide = 0;
    EXPECT_TRUE(DigtalStringToValue(L" -0x7fffffff", -1, &wide, 5));
    EXPECT_EQ(wide, -0x7fffffff);
}

TEST(Numbers, NothingToReadLeavesTheTargetAlone) {
    for (const char* text : {"", "   ", "-", "+", "abc", "x12", "--1", "."}) {
        bool ok = true;
        EXPECT_EQ(Int(text, &ok), 12345) << '"' << text << '"';
        EXPECT_FALSE(ok) << '"' << text << '"';
    }
    bool ok = true;
    EXPECT_EQ(Int("99", &ok, 0), 12345);
    EXPECT_FALSE(ok);
    int32_t value = 3;
    EXPECT_FALSE(DigtalStringToValue(static_cast<const char*>(nullptr), -1, &value, 5));
    EXPECT_FALSE(DigtalStringToValue("5", -1, &value, 77));  // unknown type
    EXPECT_EQ(value, 3);
    EXPECT_FALSE(DigtalStringToValue(L"\u0661", -1, &value, 5));  // a non-ASCII digit
}

TEST(Numbers, OutOfRangeSaturates) {
    EXPECT_EQ(Int("2147483647"), INT32_MAX);
    EXPECT_EQ(Int("2147483648"), INT32_MAX);
    EXPECT_EQ(Int("-2147483648"), INT32_MIN);
    EXPECT_EQ(Int("-99999999999999999999999"), INT32_MIN);
    EXPECT_EQ(Int("0xFFFFFFFFFFFFFFFFFFFF"), INT32_MAX);
    EXPECT_EQ(UInt("4294967295"), UINT32_MAX);
    EXPECT_EQ(UInt("4294967296"), UINT32_MAX);
    EXPECT_EQ(UInt("0xFFFFFFFF"), UINT32_MAX);
}

TEST(Numbers, MinusOnUnsignedWraps) {
    EXPECT_EQ(UInt("-1"), 4294967295u);
    EXPECT_EQ(UInt("-2"), 4294967294u);
    EXPECT_EQ(UInt("-0"), 0u);
}

TEST(Numbers, FlagIsOneForAnyNonzero) {
    int32_t flag = 5;
    ASSERT_TRUE(DigtalStringToValue("0", -1, &flag, 2));
    EXPECT_EQ(flag, 0);
    for (const char* text : {"1", "-3", "0x100", "99999999999"}) {
        flag = 0;
        ASSERT_TRUE(DigtalStringToValue(text, -1, &flag, 2));
        EXPECT_EQ(flag, 1) << text;
    }
}

TEST(Numbers, DoublesInDecimalExponentAndHex) {
    EXPECT_DOUBLE_EQ(Real("30.00"), 30.0);
    EXPECT_DOUBLE_EQ(Real("-1.5"), -1.5);
    EXPECT_DOUBLE_EQ(Real("1e3"), 1000.0);
    EXPECT_DOUBLE_EQ(Real(".25"), 0.25);
    EXPECT_DOUBLE_EQ(Real("0x10"), 16.0);
    EXPECT_DOUBLE_EQ(Real("-0x10"), -16.0);
    EXPECT_DOUBLE_EQ(Real("1e999"), DBL_MAX);
    EXPECT_DOUBLE_EQ(Real("-1e999"), -DBL_MAX);
    double value = 4;
    EXPECT_FALSE(DigtalStringToValue("nan", -1, &value, 10));
    EXPECT_FALSE(DigtalStringToValue("inf", -1, &value, 10));
    EXPECT_FALSE(DigtalStringToValue("", -1, &value, 10));
    EXPECT_EQ(value, 4);
    EXPECT_TRUE(DigtalStringToValue(L"2.5", -1, &value, 10));
    EXPECT_DOUBLE_EQ(value, 2.5);
}

TEST(Numbers, DoublesIgnoreTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    // A locale with a decimal comma, when the system has one.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no decimal-comma locale installed";
    const double value = Real("30.75");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_DOUBLE_EQ(value, 30.75);
}

}  // namespace
