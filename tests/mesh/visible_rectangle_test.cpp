#include "mesh/visible_rectangle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "mesh_test_support.h"
#include "platform/debug_output.h"

namespace strata::mesh {
namespace {

using geometry::Vector3;
using geometry::ViewCamera;

constexpr std::int32_t kWidth = 64;
constexpr std::int32_t kHeight = 48;

// A camera whose full transform maps its view volume onto a width x height image.
ViewCamera camera(const Vector3& pos, const Vector3& dir, const Vector3& up, float fov,
                  float near = 1.0f, float far = 100.0f) {
    ViewCamera c;
    c.pos = pos;
    c.dir = geometry::normalized(dir);
    c.up = geometry::normalized(up);
    c.fov = fov;
    c.near = near;
    c.far = far;
    const float t = near * std::tan(fov / 2);
    c.projection = geometry::frustum(-t, t, -t, t, near, far);
    c.viewport = geometry::viewport(0, kWidth, 0, kHeight);
    return c;
}

const float kFov = static_cast<float>(std::numbers::pi / 3);

ViewCamera ldiCamera() {
    return camera({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, kFov);
}

// The camera of the LDI turned about its up axis by angle (positive turns to +x).
ViewCamera turned(float angle) {
    return camera({0, 0, 0}, {std::sin(angle), 0, -std::cos(angle)}, {0, 1, 0}, kFov);
}

TEST(VisibleRectangle, PrepareGivesTheWholeLdi) {
    VisibleRectangle r;
    r.prepare(ldiCamera(), kWidth, kHeight);
    EXPECT_EQ(r.rect(), (VisibleRect{1, 0, kWidth, 0, kHeight}));
    EXPECT_EQ(r.volume().numFaces(), 6);
    EXPECT_TRUE(testing::isValidPolyhedron(r.volume()));
    // Distance 1 to 100 with a half-width of tan(fov / 2) per unit distance.
    const double t = std::tan(kFov / 2.0);
    EXPECT_NEAR(testing::polyhedronVolume(r.volume()), 4 * t * t * (100.0 * 100 * 100 - 1) / 3,
                1e-6 * 444444.0);
    EXPECT_EQ(r.ldiTransform(), ldiCamera().fullTransform());
}

TEST(VisibleRectangle, IdenticalCameraSeesTheWholeLdi) {
    VisibleRectangle r;
    r.prepare(ldiCamera(), kWidth, kHeight);
    EXPECT_EQ(r.update(ldiCamera()), (VisibleRect{1, 0, kWidth, 0, kHeight}));
}

TEST(VisibleRectangle, CameraLookingAwaySeesNothingAndKeepsTheRanges) {
    VisibleRectangle r;
    r.prepare(ldiCamera(), kWidth, kHeight);
    const VisibleRect half = r.update(turned(kFov / 2));
    ASSERT_EQ(half.visible, 1);
    const VisibleRect away = r.update(turned(static_cast<float>(std::numbers::pi)));
    EXPECT_EQ(away.visible, 0);
    EXPECT_EQ(away.x0, half.x0);
    EXPECT_EQ(away.x1, half.x1);
    EXPECT_EQ(away.y0, half.y0);
    EXPECT_EQ(away.y1, half.y1);
    EXPECT_EQ(r.rect(), away);
}

TEST(VisibleRectangle, HalfTurnGivesAStrictSubRectangle) {
    VisibleRectangle r;
    r.prepare(ldiCamera(), kWidth, kHeight);
    // Turned to +x by half the field of view: the view's left edge runs along the LDI's axis, so
    // the right half of the LDI stays visible (columns grow with x here).
    const VisibleRect right = r.update(turned(kFov / 2));
    EXPECT_EQ(right.visible, 1);
    EXPECT_NEAR(right.x0, kWidth / 2, 1);
    EXPECT_EQ(right.x1, kWidth);
    EXPECT_EQ(right.y0, 0);
    EXPECT_EQ(right.y1, kHeight);
    const VisibleRect left = r.update(turned(-kFov / 2));
    EXPECT_EQ(left.visible, 1);
    EXPECT_EQ(left.x0, 0);
    EXPECT_NEAR(left.x1, kWidth / 2, 1);
    // Pitched up instead: the upper rows.
    const ViewCamera up = camera({0, 0, 0}, {0, std::sin(kFov / 2), -std::cos(kFov / 2)},
                                 {0, std::cos(kFov / 2), std::sin(kFov / 2)}, kFov);
    const VisibleRect top = r.update(up);
    EXPECT_EQ(top.visible, 1);
    EXPECT_EQ(top.x0, 0);
    EXPECT_EQ(top.x1, kWidth);
    EXPECT_NEAR(top.y0, kHeight / 2, 1);
    EXPECT_EQ(top.y1, kHeight);
}

TEST(VisibleRectangle, ViewHoldingTheWholeVolumeIsWhole) {
    VisibleRectangle r;
    r.prepare(ldiCamera(), kWidth, kHeight);
    const ViewCamera wide = camera({0, 0, 5}, {0, 0, -1}, {0, 1, 0}, 2.0f, 0.5f, 1000.0f);
    EXPECT_EQ(r.update(wide), (VisibleRect{1, 0, kWidth, 0, kHeight}));
}

TEST(VisibleRectangle, UnnarrowableCasesGiveTheWholeLdi) {
    VisibleRectangle r;
    r.prepare(ldiCamera(), kWidth, kHeight);
    platform::DebugCapture capture;
    // A view camera that has no volume.
    ViewCamera broken = ldiCamera();
    broken.dir = {0, 0, 0};
    EXPECT_EQ(r.update(broken), (VisibleRect{1, 0, kWidth, 0, kHeight}));
    // An LDI camera that has no volume.
    VisibleRectangle none;
    ViewCamera flat = ldiCamera();
    flat.far = flat.near;
    none.prepare(flat, kWidth, kHeight);
    EXPECT_TRUE(none.volume().empty());
    EXPECT_EQ(none.update(turned(kFov / 2)), (VisibleRect{1, 0, kWidth, 0, kHeight}));
    // A pyramid with its apex at the LDI eye: the apex projects to infinity.
    VisibleRectangle apex;
    apex.prepare(camera({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, kFov, 0.0f, 100.0f), kWidth, kHeight);
    EXPECT_EQ(apex.update(turned(kFov / 2)), (VisibleRect{1, 0, kWidth, 0, kHeight}));
    // Negative sizes count as an empty LDI.
    VisibleRectangle empty;
    empty.prepare(ldiCamera(), -5, -7);
    EXPECT_EQ(empty.rect(), (VisibleRect{0, 0, 0, 0, 0}));
    EXPECT_EQ(empty.update(ldiCamera()), (VisibleRect{0, 0, 0, 0, 0}));
    const VisibleRect e = empty.update(turned(kFov / 2));
    EXPECT_EQ(e.x0, 0);
    EXPECT_EQ(e.x1, 0);
    EXPECT_EQ(e.visible, 0);
}

TEST(VisibleRectangle, RandomCamerasStayInsideTheLdi) {
    VisibleRectangle r;
    r.prepare(camera({0.5f, -0.2f, 1}, {0.1f, 0.05f, -1}, {0, 1, 0}, 0.9f, 0.5f, 30.0f), kWidth,
              kHeight);
    std::mt19937 rng(4242u);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int visible = 0, narrowed = 0;
    for (int i = 0; i < 400; ++i) {
        const Vector3 pos{3 * unit(rng), 3 * unit(rng), 3 * unit(rng)};
        Vector3 dir{unit(rng), unit(rng), unit(rng) - 0.7f};
        Vector3 up{unit(rng), unit(rng), unit(rng)};
        if (dir.length() < 0.1f || geometry::cross(dir, up).length() < 0.1f * up.length()) {
            continue;
        }
        const float fov = 0.2f + 2.5f * (unit(rng) + 1.0f) / 2.0f;
        const ViewCamera view =
            camera(pos, dir, up, fov, 0.1f + (unit(rng) + 1.0f), 5.0f + 50.0f * (unit(rng) + 1.0f));
        const VisibleRect v = r.update(view);
        ASSERT_GE(v.x0, 0);
        ASSERT_LE(v.x0, v.x1);
        ASSERT_LE(v.x1, kWidth);
        ASSERT_GE(v.y0, 0);
        ASSERT_LE(v.y0, v.y1);
        ASSERT_LE(v.y1, kHeight);
        if (v.visible == 1) {
            ++visible;
            ASSERT_LT(v.x0, v.x1);
            ASSERT_LT(v.y0, v.y1);
            if (!(v == VisibleRect{1, 0, kWidth, 0, kHeight})) {
                ++narrowed;
            }
        }
    }
    // The sweep reaches all three outcomes.
    EXPECT_GT(visible, 20);
    EXPECT_GT(narrowed, 10);
    EXPECT_LT(visible, 390);
}

// True when p lies inside the camera's square view volume, shrunk by a small margin.
bool insideView(const ViewCamera& c, const Vector3& p) {
    const Vector3 side = geometry::normalized(geometry::cross(c.dir, c.up));
    const Vector3 trueUp = geometry::cross(side, c.dir);
    const Vector3 v = p - c.pos;
    const float depth = geometry::dot(v, c.dir);
    const float reach = 0.999f * depth * std::tan(c.fov / 2);
    return depth > c.near * 1.001f && depth < c.far * 0.999f &&
           std::fabs(geometry::dot(v, side)) < reach && std::fabs(geometry::dot(v, trueUp)) < reach;
}

TEST(VisibleRectangle, HoldsEveryLdiPixelWhosePointsTheViewSees) {
    // Points of the LDI volume picked by pixel and distance: whenever the output camera sees one,
    // the rectangle must be visible and hold that point's pixel.
    const ViewCamera ldi =
        camera({0.5f, -0.2f, 1}, {0.1f, 0.05f, -1}, {0, 1, 0}, 0.9f, 0.5f, 30.0f);
    const Vector3 side = geometry::normalized(geometry::cross(ldi.dir, ldi.up));
    const Vector3 trueUp = geometry::cross(side, ldi.dir);
    const float t = std::tan(ldi.fov / 2);
    VisibleRectangle r;
    r.prepare(ldi, kWidth, kHeight);
    std::mt19937 rng(99u);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int seen = 0;
    for (int i = 0; i < 150; ++i) {
        const ViewCamera view =
            camera({2 * unit(rng), 2 * unit(rng), 2 * unit(rng)},
                   {0.5f * unit(rng), 0.5f * unit(rng), -1.0f + 0.3f * unit(rng)},
                   {0.2f * unit(rng), 1, 0.2f * unit(rng)}, 0.3f + 0.5f * (unit(rng) + 1.0f), 0.2f,
                   10.0f + 10.0f * (unit(rng) + 1.0f));
        const VisibleRect v = r.update(view);
        for (int k = 0; k < 200; ++k) {
            const int column = static_cast<int>((unit(rng) + 1.0f) / 2.0f * (kWidth - 1) + 0.5f);
            const int row = static_cast<int>((unit(rng) + 1.0f) / 2.0f * (kHeight - 1) + 0.5f);
            // The ray through the centre of that pixel, at a random distance.
            const float x = (2.0f * static_cast<float>(column) + 1.0f) / kWidth - 1.0f;
            const float y = (2.0f * static_cast<float>(row) + 1.0f) / kHeight - 1.0f;
            const float d = ldi.near + (ldi.far - ldi.near) * (unit(rng) + 1.0f) / 2.0f;
            const Vector3 p = ldi.pos + d * ldi.dir + (d * t * x) * side + (d * t * y) * trueUp;
            if (!insideView(view, p)) {
                continue;
            }
            ++seen;
            ASSERT_EQ(v.visible, 1) << i;
            ASSERT_GE(column, v.x0) << i;
            ASSERT_LT(column, v.x1) << i;
            ASSERT_GE(row, v.y0) << i;
            ASSERT_LT(row, v.y1) << i;
        }
    }
    EXPECT_GT(seen, 1000);
}

TEST(VisibleRectangle, CopiesAreIndependent) {
    VisibleRectangle a;
    a.prepare(ldiCamera(), kWidth, kHeight);
    VisibleRectangle b = a;
    b.update(turned(kFov / 2));
    EXPECT_EQ(a.rect(), (VisibleRect{1, 0, kWidth, 0, kHeight}));
    EXPECT_NE(b.rect(), a.rect());
    EXPECT_EQ(a.update(ldiCamera()), (VisibleRect{1, 0, kWidth, 0, kHeight}));
}

}  // namespace
}  // namespace strata::mesh
