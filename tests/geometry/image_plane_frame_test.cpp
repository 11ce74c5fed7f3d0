#include "geometry/image_plane_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

#include "geometry/view_camera.h"

namespace strata::geometry {
namespace {

void expectNear(const Vector3& a, const Vector3& b, float tolerance = 1e-6f) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

ImagePlaneFrame frameOf(const ViewCamera& c, float scale, std::int32_t width, std::int32_t height) {
    ImagePlaneFrame f;
    f.build(c.pos, c.dir, c.up, normalized(cross(c.dir, c.up)), scale, std::tan(c.fov / 2), width,
            height);
    return f;
}

TEST(ImagePlaneFrame, TwoByTwoNinetyDegreeRaysThroughPixelCentres) {
    ViewCamera c;
    c.pos = {4, 5, 6};
    c.dir = {0, 0, -1};
    c.up = {0, 1, 0};
    c.fov = std::numbers::pi_v<float> / 2;
    ImagePlaneFrame f = frameOf(c, 1.0f, 2, 2);
    const Vector3 bi{1, 0, 0};
    // Before centring, pixel (0, 0) is the corner of the image window.
    expectNear(f.cornerRay, c.dir - bi - c.up);
    expectNear(f.origin, c.pos + c.dir - bi - c.up);
    f.centreOnPixels();
    expectNear(f.pixelRay(0, 0), c.dir - 0.5f * bi - 0.5f * c.up);
    expectNear(f.pixelRay(1, 1), c.dir + 0.5f * bi + 0.5f * c.up);
    expectNear(f.pixelRay(0, 1), c.dir + 0.5f * bi - 0.5f * c.up);
    expectNear(f.origin, c.pos + f.pixelRay(0, 0));
    expectNear(f.halfBi, 0.5f * bi);
    expectNear(f.halfUp, 0.5f * c.up);
    EXPECT_EQ(f.xres, 2);
    EXPECT_EQ(f.yres, 2);
    EXPECT_EQ(f.reserved, 0);
}

TEST(ImagePlaneFrame, PixelRaysLandOnTheirPixelsUnderTheFullTransform) {
    ViewCamera c;
    c.pos = {1, 2, 3};
    c.dir = normalized({0.3f, -0.2f, -1.0f});
    const Vector3 side = normalized(cross(c.dir, {0, 1, 0}));
    c.up = cross(side, c.dir);
    c.fov = 1.0f;
    c.near = 0.5f;
    c.far = 50.0f;
    const std::int32_t w = 8, h = 6;
    // A square view: the window is tan(fov/2) on both axes, stretched over w x h pixels.
    const float t = c.near * std::tan(c.fov / 2);
    c.projection = frustum(-t, t, -t, t, c.near, c.far);
    c.viewport = viewport(0, w, 0, h);
    const Matrix4 pixelFromWorld = c.fullTransform();
    for (const float scale : {1.0f, 2.5f}) {
        ImagePlaneFrame f = frameOf(c, scale, w, h);
        f.centreOnPixels();
        EXPECT_EQ(f.dirScale, scale);
        for (int r = 0; r < h; ++r) {
            for (int col = 0; col < w; ++col) {
                const Vector3 p =
                    c.pos + f.pixelRay(static_cast<float>(r), static_cast<float>(col));
                const Vector4 q = transform(pixelFromWorld, point(p));
                EXPECT_NEAR(q.x / q.w, col, 1e-4) << r << " " << col;
                EXPECT_NEAR(q.y / q.w, r, 1e-4) << r << " " << col;
            }
        }
    }
}

TEST(ImagePlaneFrame, EmptyImageGivesZeroSteps) {
    ViewCamera c;
    c.dir = {0, 0, -1};
    c.up = {0, 1, 0};
    const ImagePlaneFrame f = frameOf(c, 1.0f, 0, -3);
    EXPECT_EQ(f.delBi, Vector3{});
    EXPECT_EQ(f.delUp, Vector3{});
    EXPECT_TRUE(std::isfinite(f.origin.x));
}

TEST(ImagePlaneFrame, DumpLayout) {
    ImagePlaneFrame f;
    f.build({4, 5, 6}, {0, 0, -1}, {0, 1, 0}, {1, 0, 0}, 2.0f, 1.0f, 2, 2);
    f.centreOnPixels();
    std::FILE* out = std::tmpfile();
    f.dump(out);
    std::rewind(out);
    std::string text(1024, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), out));
    std::fclose(out);
    EXPECT_EQ(text,
              "---------------------------------\n"
              "nm: 0.000000 0.000000 -2.000000\n"
              "bi: 2.000000 0.000000 0.000000\n"
              "dn: -0.000000 -2.000000 -0.000000\n"
              " o: 3.000000 4.000000 4.000000\n"
              "delup: 0.000000 2.000000 0.000000\n"
              "delbi: 2.000000 0.000000 0.000000\n"
              "---------------------------------\n");
}

}  // namespace
}  // namespace strata::geometry
