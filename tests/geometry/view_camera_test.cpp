#include "geometry/view_camera.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_output.h"

namespace strata::geometry {
namespace {

ViewCamera originCamera() {
    ViewCamera c;
    c.pos = {0, 0, 0};
    c.dir = {0, 0, -1};
    c.up = {0, 1, 0};
    return c;
}

ViewCamera distinctiveCamera() {
    ViewCamera c;
    for (int i = 0; i < 16; ++i) {
        c.projection.m[static_cast<std::size_t>(i)] = 100.0f + static_cast<float>(i);
        c.viewport.m[static_cast<std::size_t>(i)] = 200.0f + static_cast<float>(i);
    }
    c.pos = {1.5f, 2.5f, 3.5f};
    c.dir = {0.0f, 0.6f, -0.8f};
    c.up = {0.0f, 0.8f, 0.6f};
    c.near = 0.25f;
    c.far = 5000.0f;
    c.fov = 1.0f / 3.0f;
    return c;
}

void putF32(std::vector<std::uint8_t>& out, float v) {
    std::uint8_t b[4];
    std::memcpy(b, &v, 4);  // host is little-endian (checked in byte_io.h)
    out.insert(out.end(), b, b + 4);
}

TEST(ViewCamera, ProjectPointOnAxisAndEdge) {
    const ViewCamera c = originCamera();
    float row = -1, column = -1, depth = -1, distance = -1;
    ASSERT_TRUE(c.projectPoint({0, 0, -1}, 350, 350, row, column, depth, distance));
    EXPECT_FLOAT_EQ(column, 175.0f);
    EXPECT_FLOAT_EQ(row, 175.0f);
    EXPECT_FLOAT_EQ(depth, 1.0f);
    EXPECT_FLOAT_EQ(distance, 1.0f);
    // s = up x dir points to -x, so +x lands on column 0; |a| = depth is accepted.
    ASSERT_TRUE(c.projectPoint({1, 0, -1}, 350, 350, row, column, depth, distance));
    EXPECT_FLOAT_EQ(column, 0.0f);
    EXPECT_FALSE(c.projectPoint({1.01f, 0, -1}, 350, 350, row, column, depth, distance));
    EXPECT_FALSE(c.projectPoint({0, 0, 1}, 350, 350, row, column, depth, distance));
    // The eye itself (depth 0 on the axis) is rejected rather than divided by zero.
    EXPECT_FALSE(c.projectPoint({0, 0, 0}, 350, 350, row, column, depth, distance));
}

TEST(ViewCamera, FacingVariants) {
    ViewCamera a = originCamera(), b = originCamera();
    b.dir = {0, 0, 1};
    EXPECT_FLOAT_EQ(a.facing1(b), 0.0f);
    EXPECT_FLOAT_EQ(a.facing2(b), 1.0f);
    EXPECT_FLOAT_EQ(a.facing1(a), -1.0f);
    b.pos = {3, 4, 0};
    EXPECT_FLOAT_EQ(a.distanceTo(b), 5.0f);
}

TEST(ViewCamera, ViewMatrixAndFullTransform) {
    ViewCamera c = originCamera();
    c.pos = {1, 2, 3};
    EXPECT_EQ(c.viewMatrix(), translation(-1, -2, -3));
    c.viewport = viewport(0, 350, 0, 350);
    c.setSquareFrustum();
    const Vector4 p = transform(c.fullTransform(), {1, 2, 2, 1});  // 1 in front on the axis
    EXPECT_NEAR(p.x / p.w, 174.5f, 1e-4);
    EXPECT_NEAR(p.z / p.w, -1.0f + 2.0f * (1.0f - 0.1f) / (1.0f * (10000.0f - 0.1f)) * 10000.0f,
                1e-3);
}

TEST(ViewCamera, StoredFormIsViewportFirstAndRoundTripsBitForBit) {
    const ViewCamera c = distinctiveCamera();
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(c.write(file), 1);
    ASSERT_EQ(std::ftell(file), 176);

    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 16; ++i)
        putF32(expected, 200.0f + static_cast<float>(i));  // viewport
    for (int i = 0; i < 16; ++i)
        putF32(expected, 100.0f + static_cast<float>(i));  // projection
    for (float v :
         {1.5f, 2.5f, 3.5f, 0.0f, 0.6f, -0.8f, 0.0f, 0.8f, 0.6f, 0.25f, 5000.0f, 1.0f / 3.0f}) {
        putF32(expected, v);
    }
    std::vector<std::uint8_t> written(176);
    std::rewind(file);
    ASSERT_EQ(std::fread(written.data(), 1, 176, file), 176u);
    EXPECT_EQ(written, expected);

    std::rewind(file);
    ViewCamera back;
    ASSERT_EQ(back.read(file), 1);
    EXPECT_EQ(std::memcmp(&back, &c, sizeof(ViewCamera)), 0);
    std::fclose(file);
}

TEST(ViewCamera, ShortReadFailsAndLeavesRecordUnchanged) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::uint8_t bytes[100] = {1};
    std::fwrite(bytes, 1, sizeof bytes, file);
    std::rewind(file);
    ViewCamera c = originCamera();
    const ViewCamera before = c;
    EXPECT_EQ(c.read(file), 0);
    EXPECT_EQ(std::memcmp(&before, &c, sizeof(ViewCamera)), 0);
    std::fclose(file);
}

TEST(ViewCamera, InMemoryOrderPutsProjectionFirst) {
    const ViewCamera c = distinctiveCamera();
    platform::ByteWriter out;
    c.serializeInMemoryOrder(out);
    ASSERT_EQ(out.size(), 176u);
    EXPECT_EQ(platform::loadF32(&out.bytes()[0]), 100.0f);
    EXPECT_EQ(platform::loadF32(&out.bytes()[64]), 200.0f);
    platform::ByteReader in(out.bytes());
    ViewCamera back;
    back.deserializeInMemoryOrder(in);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(std::memcmp(&back, &c, sizeof(ViewCamera)), 0);
}

TEST(ViewCamera, PrintUsesTheDumpFormats) {
    platform::DebugCapture capture;
    originCamera().print();
    ASSERT_EQ(capture.pieces().size(), 8u);
    EXPECT_EQ(capture.pieces()[0], "0.1000 10000.000000   0.79\n");
    EXPECT_EQ(capture.pieces()[2], "  0.00   0.00  -1.00\n");
    EXPECT_EQ(capture.pieces()[5],
              "0.0000 1.0000 0.0000 0.0000  *  0.0000 1.0000 0.0000 0.0000  *  0.0000 1.0000 "
              "0.0000 0.0000\n");
    EXPECT_EQ(capture.pieces()[4].substr(0, 32), "1.0000 0.0000 0.0000 0.0000     ");
}

}  // namespace
}  // namespace strata::geometry
