#include "render/footprint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace strata::render {
namespace {

constexpr std::uint32_t kOld = 0x80808080u;
constexpr std::uint32_t kNew = 0x40404040u;
constexpr std::uint32_t kHalf = 0x60606060u;     // (0x80 + 0x40) / 2 per byte
constexpr std::uint32_t kQuarter = 0x70707070u;  // 0x40 + 0x20 + 0x10 per byte

TEST(Footprint, PackedBlendsPerByte) {
    EXPECT_EQ(blendHalf(kOld, kNew), kHalf);
    EXPECT_EQ(blendQuarter(kOld, kNew), kQuarter);
    // No carry crosses a byte: 0xFF and 0x01 mix to 0x7F + 0x00 = 0x7F in each byte.
    EXPECT_EQ(blendHalf(0xFF00FF00u, 0x01FF01FFu), 0x7F7F7F7Fu);
    EXPECT_EQ(blendQuarter(0x000000FFu, 0xFF000000u), 0x3F0000BEu);
}

// Writes a footprint into a 9 x 9 frame and returns the 7 x 7 block around the centre as rows
// of letters: N new, H half, Q quarter, . untouched.
std::vector<std::string> pattern(int radius) {
    std::vector<std::uint32_t> frame(81, kOld);
    writeFootprint(&frame[4 * 9 + 4], 9, radius, kNew);
    std::vector<std::string> rows;
    for (int y = 1; y < 8; ++y) {
        std::string row;
        for (int x = 1; x < 8; ++x) {
            const std::uint32_t v = frame[static_cast<std::size_t>(y * 9 + x)];
            row += v == kNew ? 'N' : v == kHalf ? 'H' : v == kQuarter ? 'Q' : v == kOld ? '.' : '?';
        }
        rows.push_back(row);
    }
    // Nothing outside the block is touched.
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(frame[static_cast<std::size_t>(i)], kOld);
        EXPECT_EQ(frame[static_cast<std::size_t>(80 - i)], kOld);
        EXPECT_EQ(frame[static_cast<std::size_t>(i * 9)], kOld);
        EXPECT_EQ(frame[static_cast<std::size_t>(i * 9 + 8)], kOld);
    }
    return rows;
}

TEST(Footprint, PatternsOfEverySize) {
    EXPECT_EQ(pattern(0), (std::vector<std::string>{".......", ".......", ".......", "...N...",
                                                    ".......", ".......", "......."}));
    EXPECT_EQ(pattern(1), (std::vector<std::string>{".......", ".......", "..QHQ..", "..HNH..",
                                                    "..QHQ..", ".......", "......."}));
    EXPECT_EQ(pattern(2), (std::vector<std::string>{".......", ".QHHHQ.", ".HHNHH.", ".HNNNH.",
                                                    ".HHNHH.", ".QHHHQ.", "......."}));
    EXPECT_EQ(pattern(3), (std::vector<std::string>{"QHHHHHQ", "HHHNHHH", "HHNNNHH", "HNNNNNH",
                                                    "HHNNNHH", "HHHNHHH", "QHHHHHQ"}));
}

TEST(Footprint, InlineThreeByThreeMatchesTheGeneralWriter) {
    std::vector<std::uint32_t> a(81), b(81);
    for (std::size_t i = 0; i < 81; ++i) {
        a[i] = b[i] = static_cast<std::uint32_t>(i * 0x01030507u + 0x89ABCDEFu);
    }
    writeFootprint(&a[40], 9, 1, 0xFF123456u);
    writeFootprint3(&b[40], 9, 0xFF123456u);
    EXPECT_EQ(a, b);
}

TEST(Footprint, SizesOfExactlyOneThreeFivePickTheNextFootprint) {
    EXPECT_EQ(footprintRadius(0.9f), 0);
    EXPECT_EQ(footprintRadius(std::nextafter(1.0f, 0.0f)), 0);
    EXPECT_EQ(footprintRadius(1.0f), 1);
    EXPECT_EQ(footprintRadius(2.99f), 1);
    EXPECT_EQ(footprintRadius(3.0f), 2);
    EXPECT_EQ(footprintRadius(4.99f), 2);
    EXPECT_EQ(footprintRadius(5.0f), 3);
    EXPECT_EQ(footprintRadius(std::numeric_limits<float>::infinity()), 3);
    EXPECT_EQ(footprintRadius(-4.0f), 0);
    EXPECT_EQ(footprintRadius(std::numeric_limits<float>::quiet_NaN()), 2);
}

TEST(Footprint, DepthSquareCoversTheSameBlock) {
    std::vector<float> depth(81, 7.0f);
    writeDepthSquare(&depth[4 * 9 + 4], 9, 2, -0.5f);
    int written = 0;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            const bool inside = std::abs(x - 4) <= 2 && std::abs(y - 4) <= 2;
            EXPECT_EQ(depth[static_cast<std::size_t>(y * 9 + x)], inside ? -0.5f : 7.0f);
            written += inside;
        }
    }
    EXPECT_EQ(written, 25);
}

}  // namespace
}  // namespace strata::render
