#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "ldi/ldi_header.h"
#include "ldi/ldi_samples.h"

namespace strata::ldi {
namespace {

using testing::u32At;

std::uint32_t bitsOf(float f) {
    return std::bit_cast<std::uint32_t>(f);
}

TEST(LdiHeader, DefaultsAreThoseOfAFreshHeader) {
    const LdiHeader h;
    EXPECT_EQ(h.version, 0);
    EXPECT_EQ(h.ldiType, 1);
    EXPECT_EQ(h.dptType, 3);
    EXPECT_EQ(h.generatorFloat, 100000000.0f);
    EXPECT_EQ(h.stats.distanceMin, 10000000.0f);
    EXPECT_EQ(h.stats.zMin, 10000000.0f);
    EXPECT_EQ(h.stats.distanceMax, 0.0f);
    EXPECT_EQ(h.binCount, 0);
    for (float b : h.bins) {
        ASSERT_EQ(b, 0.0f);
    }
    for (std::int32_t e : h.extra) {
        ASSERT_EQ(e, 0);
    }
    EXPECT_EQ(h.culler.rows, 0);
}

TEST(LdiHeader, FieldsLandAtTheirOffsets) {
    LdiHeader h;
    h.version = 3;  // always written as 255
    h.ldiType = 2;
    h.dptType = 6;
    h.width = 0x01020304;
    h.height = 0x0A0B0C0D;
    h.pixelCount = 77;
    h.reserved = {11, 12, 13, 14};
    h.binBits = 9;
    h.stats.rays = 0x55;
    h.stats.depthPixels = 0x66;
    h.stats.loadMinutes = 0x71;
    h.stats.writeSeconds = 0x76;
    h.stats.complexityMin = 1.5f;
    h.stats.zMax = 8.25f;
    h.generatorFloat = 3.5f;
    h.generatorInt = -2;
    h.boundsMin = {1.0f, 2.0f, 3.0f};
    h.boundsMax = {4.0f, 5.0f, 6.0f};
    h.view.projection.m[0] = 21.0f;
    h.view.viewport.m[0] = 22.0f;
    h.view.pos = {23.0f, 0.0f, 0.0f};
    h.view.dir = {24.0f, 0.0f, 0.0f};
    h.view.up = {25.0f, 0.0f, 0.0f};
    h.view.near = 26.0f;
    h.view.far = 27.0f;
    h.view.fov = 28.0f;
    h.camera.viewport.m[0] = 31.0f;
    h.camera.yres = 0x3333;
    h.binCount = 2048;
    h.bins[0] = 0.25f;
    h.bins[2048] = 0.75f;
    h.extra[0] = 0x4141;
    h.extra[1023] = 0x4242;

    platform::ByteWriter out;
    h.serialize(out);
    const std::vector<std::uint8_t>& b = out.bytes();
    ASSERT_EQ(b.size(), 12988u);
    EXPECT_EQ(u32At(b, 0), 255u);
    EXPECT_EQ(u32At(b, 4), 2u);
    EXPECT_EQ(u32At(b, 8), 6u);
    EXPECT_EQ(u32At(b, 12), 0x01020304u);
    EXPECT_EQ(u32At(b, 16), 0x0A0B0C0Du);
    EXPECT_EQ(u32At(b, 20), 77u);
    EXPECT_EQ(u32At(b, 24), 11u);
    EXPECT_EQ(u32At(b, 36), 14u);
    EXPECT_EQ(u32At(b, 40), 9u);
    EXPECT_EQ(u32At(b, 44), 0x55u);               // rays
    EXPECT_EQ(u32At(b, 44 + 28), 0x66u);          // depth pixels
    EXPECT_EQ(u32At(b, 44 + 32), 0x71u);          // load minutes
    EXPECT_EQ(u32At(b, 44 + 52), 0x76u);          // write seconds
    EXPECT_EQ(u32At(b, 44 + 56), bitsOf(1.5f));   // complexity minimum
    EXPECT_EQ(u32At(b, 44 + 84), bitsOf(8.25f));  // maximum z
    EXPECT_EQ(u32At(b, 132), bitsOf(3.5f));
    EXPECT_EQ(u32At(b, 136), 0xFFFFFFFEu);
    EXPECT_EQ(u32At(b, 140), bitsOf(1.0f));
    EXPECT_EQ(u32At(b, 148), bitsOf(3.0f));
    EXPECT_EQ(u32At(b, 152), bitsOf(4.0f));
    EXPECT_EQ(u32At(b, 164), bitsOf(21.0f));  // projection first
    EXPECT_EQ(u32At(b, 228), bitsOf(22.0f));  // then viewport
    EXPECT_EQ(u32At(b, 292), bitsOf(23.0f));
    EXPECT_EQ(u32At(b, 304), bitsOf(24.0f));
    EXPECT_EQ(u32At(b, 316), bitsOf(25.0f));
    EXPECT_EQ(u32At(b, 328), bitsOf(26.0f));
    EXPECT_EQ(u32At(b, 332), bitsOf(27.0f));
    EXPECT_EQ(u32At(b, 336), bitsOf(28.0f));
    EXPECT_EQ(u32At(b, 340), bitsOf(31.0f));
    EXPECT_EQ(u32At(b, 340 + 348), 0x3333u);  // last camera word: yres
    EXPECT_EQ(u32At(b, 692), 2048u);
    EXPECT_EQ(u32At(b, 696), bitsOf(0.25f));
    EXPECT_EQ(u32At(b, 696 + 4 * 2048), bitsOf(0.75f));
    EXPECT_EQ(u32At(b, 8892), 0x4141u);
    EXPECT_EQ(u32At(b, 8892 + 4 * 1023), 0x4242u);

    LdiHeader back;
    ASSERT_TRUE(back.deserialize(std::span<const std::uint8_t>(b)));
    EXPECT_EQ(back.version, 255);
    platform::ByteWriter again;
    back.serialize(again);
    EXPECT_EQ(again.bytes(), b);
    EXPECT_EQ(back.mrqpCounts()[0], 0x4141);
}

TEST(LdiHeader, ShortInputLeavesTheRecordUnchanged) {
    std::vector<std::uint8_t> bytes(12987, 0xAB);
    LdiHeader h;
    EXPECT_FALSE(h.deserialize(std::span<const std::uint8_t>(bytes)));
    EXPECT_EQ(h.ldiType, 1);
    EXPECT_EQ(h.width, 0);
}

}  // namespace
}  // namespace strata::ldi
