#include "runtime/numbers.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The run-time number a call raised, or 0 when it returned.
template <typename F>
int FailureOf(F&& call) {
    try {
        call();
    } catch (const RuntimeError& failure) {
        return failure.Number();
    }
    return 0;
}

// Texts with "." written as "." ; under a "," locale the separator is swapped in.
QString Local(QString text, const char* locale) {
    if (locale != nullptr && std::string(locale) != "C") {
        text.replace(QLatin1Char('.'), QLatin1Char(','));
    }
    return text;
}

class NumbersInLocale : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (GetParam() == nullptr) {
            GTEST_SKIP() << "no locale with a \",\" decimal separator on this machine";
        }
        locale_ = std::make_unique<NumericLocale>(GetParam());
        ASSERT_TRUE(locale_->Available());
    }
    std::unique_ptr<NumericLocale> locale_;
};

TEST_P(NumbersInLocale, ParseNumberReadsTheLeadingNumberWithAPoint) {
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"12abc", 12},      {"7.50", 7.5},        {"abc", 0},         {"", 0},
        {"  12", 12},       {"1 2\t3\n4", 1234},  {"-2.5", -2.5},     {"+3", 3},
        {"- 4", -4},        {".5", 0.5},          {"5.", 5},          {"1e3", 1000},
        {"1D2", 100},       {"2.5E-1x", 0.25},    {"3e", 3},          {"3e+", 3},
        {"&H1F", 31},       {"&hff", 255},        {"&O17", 15},       {"&o8", 0},
        {"&HG", 0},         {" &H 1 0", 16},      {"--1", 0},         {"1,5", 1},
        {"0x10", 0},        {"1e-400", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseNumber(QString::fromUtf8(c.text)), c.expected) << c.text;
    }
    // A number beyond a double's range does not fail; it stays the largest one there is.
    EXPECT_EQ(ParseNumber(QStringLiteral("1e400")), std::numeric_limits<double>::max());
    EXPECT_EQ(ParseNumber(QStringLiteral("-1e400")), -std::numeric_limits<double>::max());
}

TEST_P(NumbersInLocale, StrictNumberTakesOnlyAWholeNumber) {
    struct Case {
        const char* text;  // "." stands for the locale's separator
        double expected;
        int failure;
    };
    const Case cases[] = {
        {"12", 12, 0},          {" 12 ", 12, 0},      {"2.5", 2.5, 0},     {"-0.25", -0.25, 0},
        {"1E3", 1000, 0},       {"1d-2", 0.01, 0},    {"&H10", 16, 0},     {"&O777", 511, 0},
        {"", 0, 13},            {"   ", 0, 13},       {"abc", 0, 13},      {"12abc", 0, 13},
        {"1 2", 0, 13},         {"&H", 0, 13},        {"&HZ", 0, 13},      {"1e", 0, 13},
        {"-", 0, 13},           {".", 0, 13},         {"1e400", 0, 6},     {"&H1FFFFFFFF", 0, 6},
    };
    for (const Case& c : cases) {
        const QString text = Local(QString::fromUtf8(c.text), GetParam());
        double value = 0;
        EXPECT_EQ(FailureOf([&] { value = StrictNumber(text); }), c.failure) << c.text;
        if (c.failure == 0) {
            EXPECT_EQ(value, c.expected) << c.text;
        }
    }
}

TEST_P(NumbersInLocale, NumberTextIsShortAndReadsBack) {
    struct Case {
        double value;
        const char* text;  // "." stands for the locale's separator
    };
    const Case cases[] = {
        {6, "6"},         {2.5, "2.5"},         {-3, "-3"},          {0, "0"},
        {-0.0, "0"},      {0.1, "0.1"},         {100, "100"},        {1e14, "100000000000000"},
        {1e15, "1E+15"},  {1.5e20, "1.5E+20"},  {0.00001, "0.00001"}, {1e-6, "1E-06"},
        {123456789012345, "123456789012345"},   {2147483647, "2147483647"},
        {-2147483648.0, "-2147483648"},         {123.456, "123.456"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NumberText(c.value), Local(QString::fromLatin1(c.text), GetParam())) << c.text;
    }
    const double values[] = {0.1 + 0.2, 1.0 / 3, -2.5, 1e300, -1e-300, 5e-324, 123.456, 2147483647.5,
                             std::numeric_limits<double>::max(), 9007199254740993.0};
    for (const double value : values) {
        EXPECT_EQ(StrictNumber(NumberText(value)), value) << NumberText(value).toStdString();
    }
    EXPECT_EQ(FailureOf([] { NumberText(std::numeric_limits<double>::infinity()); }), 6);
    EXPECT_EQ(FailureOf([] { NumberText(std::nan("")); }), 6);
}

INSTANTIATE_TEST_SUITE_P(PointAndComma, NumbersInLocale, ::testing::Values("C", CommaLocale()));

TEST(RoundToLong, HalvesGoToTheEvenNeighbourAndTheRangeIsChecked) {
    struct Case {
        double value;
        std::int32_t expected;
        int failure;
    };
    const Case cases[] = {
        {2.5, 2, 0},           {3.5, 4, 0},          {-2.5, -2, 0},       {-3.5, -4, 0},
        {0.5, 0, 0},           {1.4999, 1, 0},       {2.6, 3, 0},         {-0.4, 0, 0},
        {2147483647, 2147483647, 0},                 {2147483647.4, 2147483647, 0},
        {2147483647.5, 0, 6},  {-2147483648.0, INT32_MIN, 0},             {-2147483648.5, INT32_MIN, 0},
        {-2147483649.0, 0, 6}, {1e300, 0, 6},        {std::nan(""), 0, 6},
    };
    for (const Case& c : cases) {
        std::int32_t value = 0;
        EXPECT_EQ(FailureOf([&] { value = RoundToLong(c.value); }), c.failure) << c.value;
        if (c.failure == 0) {
            EXPECT_EQ(value, c.expected) << c.value;
        }
    }
}

TEST(AddLong, OverflowIsAFailureNotAWrap) {
    EXPECT_EQ(AddLong(2147483646, 1), 2147483647);
    EXPECT_EQ(AddLong(-5, 3), -2);
    EXPECT_EQ(FailureOf([] { AddLong(2147483647, 1); }), 6);
    EXPECT_EQ(FailureOf([] { AddLong(INT32_MIN, -1); }), 6);
}

}  // namespace
