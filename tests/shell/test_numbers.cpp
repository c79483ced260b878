// The shared number conversions: leading numbers as each caller reads them, and
// the rounded scaled division.
#include "shell/Numbers.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>

TEST(LeadingNumber, ReadsTheWayTheCLibraryDoesWithoutOverflowing)
{
    struct Case
    {
        std::string text;
        int asInt;
        qint64 asInt64;
        double asDouble;
    };
    constexpr int IntMax = std::numeric_limits<int>::max();
    constexpr qint64 Int64Min = std::numeric_limits<qint64>::min();
    const Case cases[] = {
        {"320", 320, 320, 320.0},
        {" \t640px", 640, 640, 640.0},
        {"+15 fps", 15, 15, 15.0},
        {"-7", -7, -7, -7.0},
        {"abc", 0, 0, 0.0},
        {"", 0, 0, 0.0},
        {"- 5", 0, 0, 0.0},
        {"1.77", 1, 1, 1.77},
        {".5", 0, 0, 0.5},
        {"5.", 5, 5, 5.0},
        {"2e3", 2, 2, 2000.0},
        {"2e", 2, 2, 2.0},
        {"3000000000", IntMax, 3000000000, 3e9},
        {"-99999999999999999999", std::numeric_limits<int>::min(), Int64Min, -1e20},
        // Neither C's other forms nor a locale's separator.
        {"0x1f", 0, 0, 0.0},
        {"inf", 0, 0, 0.0},
        {"1,5", 1, 1, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LeadingNumber<int>(c.text), c.asInt);
        EXPECT_EQ(LeadingNumber<qint64>(c.text), c.asInt64);
        EXPECT_DOUBLE_EQ(LeadingNumber<double>(c.text), c.asDouble);
    }

    // The C forms of base 0, with how much of the text they took.
    const std::pair<std::string, std::pair<qint64, std::size_t>> forms[] = {{"0x1f\"", {31, 4}},
                                                                            {"017>", {15, 3}},
                                                                            {" -40ms", {-40, 4}},
                                                                            {"0x", {0, 1}},
                                                                            {"x", {0, 0}}};
    for (const auto& [text, expected] : forms) {
        std::size_t length = 99;
        EXPECT_EQ(LeadingNumber<qint64>(text, 0, &length), expected.first) << text;
        EXPECT_EQ(length, expected.second) << text;
    }
}

TEST(MulDiv, RoundsHalvesAwayFromZero)
{
    EXPECT_EQ(MulDiv(600, 219136, 8), 16435200);
    EXPECT_EQ(MulDiv(1, 12, 8), 2);   // 1.5
    EXPECT_EQ(MulDiv(1, 10, 8), 1);   // 1.25
    EXPECT_EQ(MulDiv(1, 14, 8), 2);   // 1.75
    EXPECT_EQ(MulDiv(-1, 12, 8), -2); // -1.5
    EXPECT_EQ(MulDiv(1, -12, 8), -2);
    EXPECT_EQ(MulDiv(1, 12, -8), -2);
    EXPECT_EQ(MulDiv(-1, 12, -8), 2);
    EXPECT_EQ(MulDiv(2, 1, 3), 1); // 0.667
    EXPECT_EQ(MulDiv(1, 1, 3), 0); // 0.333
}

TEST(MulDiv, MinusOneWhenTheResultDoesNotFitOrTheDivisorIsZero)
{
    EXPECT_EQ(MulDiv(5, 5, 0), -1);
    EXPECT_EQ(MulDiv(INT32_MAX, 2, 2), INT32_MAX);
    EXPECT_EQ(MulDiv(INT32_MAX, 2, 1), -1);
    EXPECT_EQ(MulDiv(INT32_MIN, 1, 1), INT32_MIN);
    EXPECT_EQ(MulDiv(INT32_MIN, -1, 1), -1);
    EXPECT_EQ(MulDiv(INT32_MIN, INT32_MIN, 1), -1);
}
