#include "geometry/quantise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geometry/depth.h"
#include "geometry/normal_table.h"

namespace strata::geometry {
namespace {

TEST(Quantise, ClampByteTruncatesThenLimits) {
    EXPECT_EQ(clampByte(-0.5f), 0);
    EXPECT_EQ(clampByte(255.9f), 255);
    EXPECT_EQ(clampByte(300.0f), 255);
    EXPECT_EQ(clampByte(12.99f), 12);
    EXPECT_EQ(clampByte(1e20f), 255);  // beyond the integer range
    EXPECT_EQ(clampByte(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(Quantise, PackColourOrdersAlphaRedGreenBlue) {
    EXPECT_EQ(packColour(1.0f, 0.0f, 0.5f, 1.0f), 0xFFFF007Fu);
    EXPECT_EQ(packColourMean(2.0f, 2.0f, 0.0f, 0.0f, 2.0f), 0x00FFFF00u);
    EXPECT_EQ(packColourMean(1.0f, 1.0f, 1.0f, 1.0f, 0.0f), 0xFFFFFFFFu);  // inf limits to 255
}

TEST(Quantise, DepthCodeEndsAndRoundTrip) {
    EXPECT_EQ(depthCode(-1.0f), 0u);
    EXPECT_EQ(depthCode(1.0f), 0xFFFFFu);
    // Out-of-range depths limit rather than wrap to the other end.
    EXPECT_EQ(depthCode(1.0001f), 0xFFFFFu);
    EXPECT_EQ(depthCode(-1.5f), 0u);
    for (float z : {-0.9f, -0.25f, 0.0f, 0.3f, 0.999f}) {
        EXPECT_NEAR(decodeDepth(depthCode(z)), z, 2.5e-6f);
    }
    EXPECT_FLOAT_EQ(decodeDepth(0), -1.0f);
    EXPECT_NEAR(decodeDepth(0xFFFFF), 1.0f, 1e-6);
}

TEST(Quantise, SizeClassSkipsTheFirstThreshold) {
    const float t[] = {100.0f, 1.0f, 2.0f, 4.0f};
    EXPECT_EQ(sizeClass(0.5f, t, 3), 0);
    EXPECT_EQ(sizeClass(1.0f, t, 3), 1);
    EXPECT_EQ(sizeClass(3.9f, t, 3), 2);
    EXPECT_EQ(sizeClass(4.0f, t, 3), 2);  // reaches every threshold: count - 1
    float many[41];
    for (int i = 0; i < 41; ++i) {
        many[i] = static_cast<float>(i);
    }
    EXPECT_EQ(sizeClass(100.0f, many, 40), 39);
    EXPECT_EQ(sizeClass(7.5f, many, 40), 7);
}

TEST(Quantise, PackDepthWordKeepsFieldsApart) {
    EXPECT_EQ(packDepthWord(0xFFFFF, 31, 63), 0x7FFFFFFFu);
    EXPECT_EQ(packDepthWord(5, 40, 1), 5u | (31u << 20) | (1u << 25));  // class limited to 31
    EXPECT_EQ(packDepthWord(0x123456, 0, 0), 0x23456u);
    EXPECT_EQ(packDepthWord(0, 2, 3) >> 31, 0u);
}

TEST(Quantise, CountBitsByMode) {
    EXPECT_EQ(countBits(0, 0xF00FFu), 8);
    EXPECT_EQ(countBits(1, 0xF00FFu), 4);
    EXPECT_EQ(countBits(2, 0xFFFFFu), 0);
}

TEST(Quantise, NearestNormalFindsEveryTableEntry) {
    const auto table = normalTable();
    for (int i = 0; i < kNormalCount; ++i) {
        EXPECT_EQ(nearestNormal(table[static_cast<std::size_t>(i)]), i);
        EXPECT_NEAR(table[static_cast<std::size_t>(i)].length(), 1.0f, 1e-5);
    }
}

TEST(Quantise, NearestNormalTieKeepsLowerIndex) {
    // The bisector of entries 1 and 2 has equal dot products with both (to rounding); whichever
    // entry is exactly on it, the lower index must win a tie.
    Vector3 a = normalTable()[1], b = normalTable()[2];
    Vector3 mid = normalized(a + b);
    const int got = nearestNormal(mid);
    EXPECT_TRUE(got == 1 || got == 2);
    // Construct an exact tie: a vector orthogonal to (a - b) through the table pair 1/2 with
    // identical dot products in float is hard to guarantee, so test the rule on a synthetic tie:
    // the zero vector has dot 0 with every entry, so index 0 wins.
    EXPECT_EQ(nearestNormal({0, 0, 0}), 0);
    EXPECT_FLOAT_EQ(normalTable()[42].z, -0.000013f);
}

}  // namespace
}  // namespace strata::geometry
