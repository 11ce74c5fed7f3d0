#include "geometry/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/debug_output.h"

namespace strata::geometry {
namespace {

Camera perspective() {
    Camera c;
    c.setPerspective({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, 1.5707964f, 1.0f, 0.5f, 100.0f, 200, 100);
    return c;
}

TEST(Camera, FreshRecordIsIdentityAndZero) {
    const Camera c;
    EXPECT_EQ(c.viewport, Matrix4::identity());
    EXPECT_EQ(c.affine, Matrix4::identity());
    EXPECT_EQ(c.fovX, 0.0f);
    EXPECT_EQ(c.xres, 0);
}

TEST(Camera, SerializedFormIs352BytesAndRoundTrips) {
    const Camera c = perspective();
    platform::ByteWriter out;
    c.serialize(out);
    ASSERT_EQ(out.size(), Camera::kStoredSize);
    // pos at 256, fov at 304, fl at 316, xres at 344.
    EXPECT_EQ(platform::loadF32(&out.bytes()[304]), c.fov);
    EXPECT_EQ(platform::loadF32(&out.bytes()[316]), 1.0f);
    EXPECT_EQ(platform::loadU32(&out.bytes()[344]), 200u);
    platform::ByteReader in(out.bytes());
    Camera back;
    back.deserialize(in);
    ASSERT_TRUE(in.ok());
    platform::ByteWriter again;
    back.serialize(again);
    EXPECT_EQ(again.bytes(), out.bytes());
}

TEST(Camera, PerspectiveWindowAndProjection) {
    const Camera c = perspective();
    EXPECT_NEAR(c.right, 1.0f, 1e-6);
    EXPECT_NEAR(c.top, 0.5f, 1e-6);  // aspect 2
    float row = 0, column = 0, depth = 0, distance = 0;
    EXPECT_TRUE(c.project({0, 0, -2}, row, column, depth, distance));
    EXPECT_FLOAT_EQ(column, 100.0f);
    EXPECT_FLOAT_EQ(row, 50.0f);
    EXPECT_FLOAT_EQ(depth, 2.0f);
    // Outside the window: false, but the perspective form still writes every output.
    row = column = depth = distance = -7;
    EXPECT_FALSE(c.project({0, 5, -2}, row, column, depth, distance));
    EXPECT_NE(row, -7.0f);
    EXPECT_FLOAT_EQ(distance, std::sqrt(29.0f));
}

TEST(Camera, OrthographicProjectionBehindWritesNothing) {
    Camera c;
    c.dir = {0, 0, -1};
    c.up = {0, 1, 0};
    c.bi = {1, 0, 0};
    c.fl = -1.0f;
    c.right = c.top = 2.0f;
    c.xres = c.yres = 100;
    float row = -7, column = -7, depth = -7, distance = -7;
    EXPECT_FALSE(c.project({0, 0, 3}, row, column, depth, distance));
    EXPECT_EQ(row, -7.0f);
    EXPECT_EQ(distance, -7.0f);
    EXPECT_TRUE(c.project({1, 0, -3}, row, column, depth, distance));
    EXPECT_FLOAT_EQ(column, 75.0f);
}

TEST(Camera, DebugDumpHasNoProductBlockAndStreamDumpHasOne) {
    const Camera c = perspective();
    platform::DebugCapture capture;
    c.dumpToDebugOutput();
    const std::string debugText = capture.text();
    EXPECT_EQ(debugText.find("        VP         \n"), std::string::npos);
    EXPECT_NE(debugText.find("     Viewport      \n"), std::string::npos);
    EXPECT_NE(debugText.find("fl: 1.0000\nfov: 1.5708\nclip_near: 0.5000\nclip_far:  100.0000\n"
                             "xres,yres: 200 100\n"),
              std::string::npos);

    std::FILE* file = std::tmpfile();
    c.dumpToFile(file);
    const long size = std::ftell(file);
    std::string streamText(static_cast<std::size_t>(size), '\0');
    std::rewind(file);
    ASSERT_EQ(std::fread(streamText.data(), 1, streamText.size(), file), streamText.size());
    std::fclose(file);
    EXPECT_NE(streamText.find("        VP         \n"), std::string::npos);
    EXPECT_EQ(streamText.substr(0, 60), debugText.substr(0, 60));
    EXPECT_NE(streamText.find(" up: 0.000000 1.000000 0.000000\n"), std::string::npos);
}

}  // namespace
}  // namespace strata::geometry
