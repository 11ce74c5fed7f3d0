// Checked number parsing: every limit with a value on each side of it, text after a number,
// signs, bases and overflow.
#include "platform/number_parse.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace strata::platform {
namespace {

TEST(NumberParse, WholeNumbersAtTheirLimits) {
    struct Case {
        const char* text;
        std::int64_t min;
        std::int64_t max;
        bool ok;
        std::int64_t value;
    };
    const Case cases[] = {
        {"0", 0, 10, true, 0},
        {"10", 0, 10, true, 10},
        {"11", 0, 10, false, 0},
        {"-1", 0, 10, false, 0},
        {"-1", -1, 10, true, -1},
        {"+7", 0, 10, true, 7},
        {"010", 0, 100, true, 10},  // decimal, not octal
        {"0x10", 0, 100, false, 0},
        {" 5", 0, 10, false, 0},
        {"5 ", 0, 10, false, 0},
        {"5x", 0, 10, false, 0},
        {"", 0, 10, false, 0},
        {"+", 0, 10, false, 0},
        {"+-1", -5, 10, false, 0},
        {"--1", -5, 10, false, 0},
        {"1.0", 0, 10, false, 0},
        {"2147483647", 0, INT32_MAX, true, INT32_MAX},
        {"2147483648", 0, INT32_MAX, false, 0},
        {"9223372036854775807", 0, INT64_MAX, true, INT64_MAX},
        {"9223372036854775808", 0, INT64_MAX, false, 0},
        {"99999999999999999999999", 0, INT64_MAX, false, 0},
        {"4294967312", 0, INT32_MAX, false, 0},  // 16 after a 32-bit wrap
    };
    for (const Case& c : cases) {
        std::int64_t value = -99;
        EXPECT_EQ(parseWholeNumber(c.text, c.min, c.max, value), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(value, c.ok ? c.value : -99) << c.text;
    }
    std::int32_t small = 3;
    EXPECT_FALSE(parseWholeNumber("-2147483649", INT32_MIN, INT32_MAX, small));
    EXPECT_TRUE(parseWholeNumber("-2147483648", INT32_MIN, INT32_MAX, small));
    EXPECT_EQ(small, INT32_MIN);
}

TEST(NumberParse, FiniteFloatsOnly) {
    struct Case {
        const char* text;
        bool ok;
        float value;
    };
    const Case cases[] = {
        {"1.5", true, 1.5f},   {"-2", true, -2.0f},        {"+3", true, 3.0f},
        {".5", true, 0.5f},    {"5.", true, 5.0f},         {"1e3", true, 1000.0f},
        {"1E-2", true, 0.01f}, {"3.4e38", true, 3.4e38f},  {"3.5e38", false, 0.0f},
        {"1e39", false, 0.0f}, {"1e-60", true, 0.0f},      {"nan", false, 0.0f},
        {"inf", false, 0.0f},  {"-infinity", false, 0.0f}, {"0x1p3", false, 0.0f},
        {"1e", false, 0.0f},   {"1e+", false, 0.0f},       {"e3", false, 0.0f},
        {".", false, 0.0f},    {"", false, 0.0f},          {" 1", false, 0.0f},
        {"1 ", false, 0.0f},   {"1,5", false, 0.0f},       {"1.5.2", false, 0.0f},
    };
    for (const Case& c : cases) {
        float value = -99.0f;
        EXPECT_EQ(parseFiniteFloat(c.text, value), c.ok) << '"' << c.text << '"';
        EXPECT_FLOAT_EQ(value, c.ok ? c.value : -99.0f) << c.text;
    }
    double d = 0.0;
    EXPECT_TRUE(parseFiniteDouble("1e300", d));
    EXPECT_FALSE(parseFiniteDouble("1e309", d));
}

TEST(NumberParse, SizesAtTheirLimits) {
    struct Case {
        const char* text;
        bool ok;
        std::int32_t width;
        std::int32_t height;
    };
    // Sides 16..16366, as `strata render --size` takes them.
    const Case cases[] = {
        {"64x64", true, 64, 64},
        {"16x16", true, 16, 16},
        {"16366x16366", true, 16366, 16366},
        {"16367x16366", false, 0, 0},
        {"16366x16367", false, 0, 0},
        {"64x8", false, 0, 0},
        {"15x16", false, 0, 0},
        {"64x64x", false, 0, 0},
        {"64x64 ", false, 0, 0},
        {"64x64px", false, 0, 0},
        {"64X64", false, 0, 0},
        {"+64x64", false, 0, 0},
        {"64x+64", false, 0, 0},
        {"-64x64", false, 0, 0},
        {"0064x0100", true, 64, 100},
        {"4294967312x4294967312", false, 0, 0},
        {"x64", false, 0, 0},
        {"64x", false, 0, 0},
        {"64", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        std::int32_t w = -1;
        std::int32_t h = -1;
        EXPECT_EQ(parseSizeText(c.text, 16, 16366, w, h), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(w, c.ok ? c.width : -1) << c.text;
        EXPECT_EQ(h, c.ok ? c.height : -1) << c.text;
    }
}

TEST(NumberParse, ByteCountsAndTheirText) {
    struct Case {
        const char* text;
        bool ok;
        std::uint64_t bytes;
    };
    const Case cases[] = {
        {"512", true, 512},
        {"512B", true, 512},
        {"4K", true, 4096},
        {"3m", true, std::uint64_t{3} << 20},
        {"8G", true, std::uint64_t{8} << 30},
        {"8GiB", true, std::uint64_t{8} << 30},
        {"2TB", true, std::uint64_t{2} << 40},
        {"4194304T", true, std::uint64_t{1} << 62},
        {"4194305T", false, 0},
        {"8Q", false, 0},
        {"G", false, 0},
        {"-1G", false, 0},
        {"1.5G", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        std::uint64_t bytes = 7;
        EXPECT_EQ(parseByteCount(c.text, bytes), c.ok) << c.text;
        EXPECT_EQ(bytes, c.ok ? c.bytes : 7u) << c.text;
    }
    EXPECT_EQ(formatByteCount(0), "0 bytes");
    EXPECT_EQ(formatByteCount(1), "1 byte");
    EXPECT_EQ(formatByteCount(1023), "1023 bytes");
    EXPECT_EQ(formatByteCount(1024), "1.00 KB");
    EXPECT_EQ(formatByteCount(std::uint64_t{1} << 30), "1.00 GB");
    EXPECT_EQ(formatByteCount(std::uint64_t{12000} * 12000 * 8), "1.07 GB");
    EXPECT_EQ(formatByteCount(std::uint64_t{150} << 20), "150 MB");
}

}  // namespace
}  // namespace strata::platform
