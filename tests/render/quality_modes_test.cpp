// Picture quality of whole frames on synthetic LDIs: the frame margin, hidden samples bleeding
// through nearer surfaces, and the lattice of background in magnified views, in the default and
// the high-quality splat modes. Which pixels lie inside a surface is decided in closed form, by
// intersecting each output pixel's ray with the surface's plane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "geometry/normal_table.h"
#include "geometry/quantise.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/draw_support.h"
#include "ldi/ldi_rt_qp.h"
#include "render/output_view.h"
#include "render/surface_splat.h"
#include "render/synthetic_ldi.h"

namespace strata::render {
namespace {

using geometry::Vector3;
using testing::SyntheticCamera;

constexpr std::uint32_t kRed = 0xFF0000u;
constexpr std::uint32_t kBlue = 0x0000FFu;
constexpr std::uint32_t kBackground = 0xB2B2B2u;
constexpr float kNear = 3.0f;
constexpr float kFar = 12.0f;

// A red square at distance 3 over the middle third of the grid, in front of a blue wall at
// distance 12 (or nothing). Size classes follow the distance, so footprints are about one
// reference pixel wide, as a maker's are.
std::unique_ptr<ldi::LdiRtQp> squareScene(const SyntheticCamera& cam, int n, bool wall) {
    return testing::makeSyntheticQp(cam, n, n, [n, wall](int r, int c, auto& out) {
        if (wall) {
            out.push_back({kFar, kBlue, 34, static_cast<int>(kFar)});
        }
        if (r >= n / 3 && r < 2 * n / 3 && c >= n / 3 && c < 2 * n / 3) {
            out.push_back({kNear, kRed, 34, static_cast<int>(kNear)});
        }
    });
}

// Where the ray through the centre of output pixel (x, y) meets the plane at `distance` in
// front of the reference camera, in reference grid columns and rows (continuous).
struct GridPoint {
    float column = 0.0f;
    float row = 0.0f;
};
GridPoint gridPointOf(const SyntheticCamera& cam, int n, const OutputView& view, int size, int x,
                      int y, float distance) {
    const geometry::ViewCamera& out = view.camera;
    const float t = std::tan(out.fov * 0.5f);
    const Vector3 side = geometry::normalized(geometry::cross(out.dir, out.up));
    const float u = (2.0f * (static_cast<float>(x) + 0.5f) / static_cast<float>(size) - 1.0f) * t;
    const float v = (2.0f * (static_cast<float>(y) + 0.5f) / static_cast<float>(size) - 1.0f) * t;
    const Vector3 ray = out.dir + side * u + out.up * v;
    // The plane: points p with (p - cam.pos) . cam.dir = distance.
    const float along = geometry::dot(ray, cam.dir);
    const float s = (distance - geometry::dot(out.pos - cam.pos, cam.dir)) / along;
    const Vector3 p = out.pos + ray * s - cam.pos;
    const Vector3 camSide = geometry::normalized(geometry::cross(cam.dir, cam.up));
    const float tr = std::tan(cam.fov * 0.5f) * distance;
    GridPoint g;
    g.column = (geometry::dot(p, camSide) / tr + 1.0f) * 0.5f * static_cast<float>(n);
    g.row = (geometry::dot(p, cam.up) / tr + 1.0f) * 0.5f * static_cast<float>(n);
    return g;
}

// True when the point lies inside the square by at least inset grid pixels (outside by at
// least inset when inset is negative).
bool insideSquare(const GridPoint& g, int n, float inset) {
    const float lo = static_cast<float>(n / 3) + inset;
    const float hi = static_cast<float>(2 * n / 3) - inset;
    return g.column >= lo && g.column <= hi && g.row >= lo && g.row <= hi;
}

imageutil::RgbImage drawFrame(ldi::LdiBase& ldi, const OutputView& view, int size, bool high) {
    ldi::FrameSettings settings;
    settings.highQualitySplats = high;
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(size, size);
    ldi::DrawFrame(ldi, settings, view, frame);
    return frame;
}

OutputView lookingAtSquare(const Vector3& eye, int size, float fov) {
    const Vector3 dir = geometry::normalized(Vector3{0.0f, 0.0f, -kNear} - eye);
    const Vector3 up = geometry::normalized(Vector3{0.0f, 1.0f, 0.0f} - dir * dir.y);
    return makeOutputView(eye, dir, up, fov, size, size);
}

// A surface's samples, carried by any local linear map J (magnified, minified, turned, sheared,
// stretched four times by a grazing angle), cover every pixel inside their lattice with one
// sample's weight in all, and past the last ones stop where the tent falls to half, half-way to
// where the next sample would be: no lattice of holes, no grown silhouette.
TEST(QualityModes, SurfaceFootprintsTileTheirPlane) {
    struct Map {
        const char* name;
        float jux, juy, jvx, jvy;
    };
    const Map maps[] = {
        {"one to one", 1.0f, 0.0f, 0.0f, 1.0f},
        {"magnified 1.37", 1.37f, 0.0f, 0.0f, 1.37f},
        {"minified", 0.6f, 0.0f, 0.0f, 0.55f},
        {"turned 30 degrees", 1.2f * 0.866f, 1.2f * 0.5f, -1.2f * 0.5f, 1.2f * 0.866f},
        {"seen at 75 degrees, head on", 3.86f, 0.0f, 0.0f, 1.0f},
        {"sheared", 1.3f, 0.4f, -0.2f, 0.9f},
        {"mirrored", -1.1f, 0.0f, 0.0f, 1.2f},
    };
    constexpr int kSize = 64;
    constexpr int kLattice = 12;  // samples (i, j), 0 <= i, j < kLattice
    for (const Map& m : maps) {
        SoftSplatBuffer buffer;
        buffer.reset(kSize, kSize);
        const float ox = 31.3f - 0.5f * (kLattice - 1) * (m.jux + m.jvx);
        const float oy = 30.8f - 0.5f * (kLattice - 1) * (m.juy + m.jvy);
        for (int j = 0; j < kLattice; ++j) {
            for (int i = 0; i < kLattice; ++i) {
                const float sx = ox + static_cast<float>(i) * m.jux + static_cast<float>(j) * m.jvx;
                const float sy = oy + static_cast<float>(i) * m.juy + static_cast<float>(j) * m.jvy;
                SurfaceSplat splat;
                const auto x = static_cast<std::int32_t>(std::floor(sx + 0.5f));
                const auto y = static_cast<std::int32_t>(std::floor(sy + 0.5f));
                ASSERT_TRUE(shapeSurfaceSplat(splat, sx, sy, x, y, m.jux, m.juy, m.jvx, m.jvy));
                splat.zOut = -0.5f;
                splat.tolerance = 0.01f;
                splat.colour = 0x00FF0000u;
                writeSurfaceSplat(
                    buffer, splat, [](std::int32_t, std::int32_t) { return true; }, nullptr);
            }
        }
        // Lattice coordinates of every pixel: (i, j) = J^-1 (pixel - origin).
        const float det = m.jux * m.jvy - m.jvx * m.juy;
        int inside = 0;
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const float dx = static_cast<float>(x) - ox;
                const float dy = static_cast<float>(y) - oy;
                const float i = (m.jvy * dx - m.jvx * dy) / det;
                const float j = (-m.juy * dx + m.jux * dy) / det;
                // The last sample's tent, along each axis, past the lattice's edge.
                const auto tent = [](float t) {
                    return std::max(0.0f, 1.0f - std::max({0.0f, -t, t - (kLattice - 1)}));
                };
                const float expected = static_cast<float>(kWeightNew) * tent(i) * tent(j);
                const std::uint32_t w =
                    buffer.pixels[static_cast<std::size_t>(y * kSize + x)].weight();
                if (expected == static_cast<float>(kWeightNew)) {
                    ++inside;
                    EXPECT_GE(w, kWeightNew - 2) << m.name << " at " << x << "," << y;
                    EXPECT_LE(w, kWeightNew + 2) << m.name << " at " << x << "," << y;
                } else if (expected > 9.5f) {
                    EXPECT_GE(w, kCoveredWeight) << m.name << " at " << x << "," << y;
                } else if (expected < 6.5f) {
                    EXPECT_LT(w, kCoveredWeight) << m.name << " at " << x << "," << y;
                }
            }
        }
        EXPECT_GT(inside, 30) << m.name;
    }
}

TEST(QualityModes, HiddenSamplesBleedThroughOnlyInTheDefaultMode) {
    SyntheticCamera cam;
    const int n = 64;
    auto ldi = squareScene(cam, n, true);
    ASSERT_NE(ldi, nullptr);
    // Eyes moved sideways and turned back to the square: the wall's samples next to the square
    // are drawn after the square's and their footprints reach over its pixels.
    const Vector3 eyes[] = {{0.8f, 0.0f, 0.0f}, {-0.8f, 0.3f, 0.0f}, {0.5f, -0.6f, 0.5f}};
    int defaultBleeding = 0;
    for (const Vector3& eye : eyes) {
        const OutputView view = lookingAtSquare(eye, n, cam.fov);
        const imageutil::RgbImage plain = drawFrame(*ldi, view, n, false);
        const imageutil::RgbImage high = drawFrame(*ldi, view, n, true);
        int inside = 0;
        int bleeding = 0;
        int highWrong = 0;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                if (!insideSquare(gridPointOf(cam, n, view, n, x, y, kNear), n, 1.0f)) {
                    continue;
                }
                ++inside;
                const std::uint32_t a = plain.pixels[y * n + x] & 0xFFFFFFu;
                bleeding += (a & kBlue) != 0;
                highWrong += (high.pixels[y * n + x] & 0xFFFFFFu) != kRed;
            }
        }
        EXPECT_GT(inside, 200) << eye.x;
        EXPECT_EQ(highWrong, 0) << "eye " << eye.x << "," << eye.y << "," << eye.z;
        defaultBleeding += bleeding;
    }
    // The specified drawing blends the wall's footprints over the square.
    EXPECT_GT(defaultBleeding, 10);
}

TEST(QualityModes, MagnifiedViewsAreSolidInHighQualityMode) {
    SyntheticCamera cam;
    const int n = 48;
    auto walled = squareScene(cam, n, true);
    auto bare = squareScene(cam, n, false);
    ASSERT_NE(walled, nullptr);
    ASSERT_NE(bare, nullptr);
    for (const int size : {72, 96}) {  // 1.5 and 2 times the grid
        const float scale = static_cast<float>(size) / static_cast<float>(n);
        for (const Vector3& eye : {Vector3{0.0f, 0.0f, 0.0f}, Vector3{0.3f, 0.2f, 0.0f}}) {
            const OutputView view = lookingAtSquare(eye, size, cam.fov);
            // Wherever the wall lies between the grid's outer sample centres no pixel may stay
            // background; the specified footprints leave blends with the background there (the
            // only colour with green in it).
            const imageutil::RgbImage plain = drawFrame(*walled, view, size, false);
            const imageutil::RgbImage high = drawFrame(*walled, view, size, true);
            int plainMixed = 0;
            int highHoles = 0;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    const GridPoint g = gridPointOf(cam, n, view, size, x, y, kFar);
                    const float hi = static_cast<float>(n) - 0.5f;
                    if (g.column < 0.5f || g.column > hi || g.row < 0.5f || g.row > hi) {
                        continue;
                    }
                    plainMixed += (plain.pixels[y * size + x] & 0x00FF00u) != 0;
                    highHoles += (high.pixels[y * size + x] & 0x00FF00u) != 0;
                }
            }
            EXPECT_EQ(highHoles, 0) << size << " eye " << eye.x;
            if (size == 96) {
                EXPECT_GT(plainMixed, size * size / 8) << "the lattice of the specified footprints";
            }
            // The square alone: solid inside, background outside, edges within one pixel.
            const imageutil::RgbImage square = drawFrame(*bare, view, size, true);
            int inside = 0;
            int wrong = 0;
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x) {
                    const GridPoint g = gridPointOf(cam, n, view, size, x, y, kNear);
                    const std::uint32_t p = square.pixels[y * size + x];
                    if (insideSquare(g, n, 1.01f / scale)) {
                        ++inside;
                        wrong += (p & 0xFFFFFFu) != kRed;
                    } else if (!insideSquare(g, n, -1.01f / scale)) {
                        wrong += p != kBackground;
                    }
                }
            }
            EXPECT_GT(inside, size * size / 16) << size;
            EXPECT_EQ(wrong, 0) << size << " eye " << eye.x;
        }
    }
}

TEST(QualityModes, OwnCameraUnchangedAndBorderDrawnInBothModes) {
    SyntheticCamera cam;
    const int n = 40;
    auto ldi = testing::makeSyntheticQp(cam, n, n, [](int r, int c, auto& out) {
        out.push_back({5.0f, static_cast<std::uint32_t>((r * 131 + c * 7 + 1) & 0xFFFFFF), 34, 5});
    });
    ASSERT_NE(ldi, nullptr);
    const OutputView view = makeOutputView(cam.pos, cam.dir, cam.up, cam.fov, n, n);
    for (const bool high : {false, true}) {
        ldi::FrameSettings settings;
        settings.useSplat = false;
        settings.highQualitySplats = high;
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
        ldi::DrawFrame(*ldi, settings, view, frame);
        int wrong = 0;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                const auto expected = static_cast<std::uint32_t>((y * 131 + x * 7 + 1) & 0xFFFFFF);
                wrong += (frame.pixels[y * n + x] & 0xFFFFFFu) != expected;
            }
        }
        EXPECT_EQ(wrong, 0) << "high " << high;
    }
}

// A front sample whose stored normal faces away from the camera that saw it (a file written
// with the opposite winding) is drawn: the camera saw that surface, so it faces the camera. A
// red square over a blue wall, both stored facing away, from the reference camera and moved
// ones.
TEST(QualityModes, FrontSamplesFacingAwayInTheFileAreDrawn) {
    SyntheticCamera cam;
    const int n = 60;
    constexpr int kAway = 43;  // (-0.115, -0.089, -0.989): away from a camera looking down -z
    ASSERT_LT(geometry::normalTable()[kAway].z, -0.9f);
    auto ldi = testing::makeSyntheticQp(cam, n, n, [n](int r, int c, auto& out) {
        out.push_back({kFar, kBlue, kAway, static_cast<int>(kFar)});
        if (r >= n / 3 && r < 2 * n / 3 && c >= n / 3 && c < 2 * n / 3) {
            out.push_back({kNear, kRed, kAway, static_cast<int>(kNear)});
        }
    });
    ASSERT_NE(ldi, nullptr);
    for (const Vector3& eye :
         {Vector3{0.0f, 0.0f, 0.0f}, Vector3{0.4f, 0.2f, 0.0f}, Vector3{-0.5f, -0.3f, 0.5f}}) {
        const OutputView view = lookingAtSquare(eye, n, cam.fov);
        const imageutil::RgbImage high = drawFrame(*ldi, view, n, true);
        int red = 0;
        int wrong = 0;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                const std::uint32_t p = high.pixels[y * n + x] & 0xFFFFFFu;
                if (insideSquare(gridPointOf(cam, n, view, n, x, y, kNear), n, 1.0f)) {
                    red += p == kRed ? 1 : 0;
                    wrong += p != kRed ? 1 : 0;
                }
            }
        }
        EXPECT_GT(red, 200) << eye.x;
        EXPECT_EQ(wrong, 0) << eye.x;
    }
}

// A surface the reference camera saw at 75 degrees from its normal, seen face on by the new
// camera: its samples lie 3.9 times farther apart across the slope than along it, and the
// footprints shaped by the surface cover it whole, with no background inside its outline; the
// specified drawing leaves streaks.
TEST(QualityModes, ASurfaceSeenAtAGrazingAngleIsWholeFaceOn) {
    SyntheticCamera cam;
    cam.near = 1.0f;
    cam.far = 20.0f;
    const int n = 96;
    const float angle = 75.0f * 3.14159265f / 180.0f;
    // The plane through (0, 0, -6) with normal (sin 75, 0, cos 75); its patch: |y| < 0.9 and
    // along the slope from -2.5 to 2.5.
    const Vector3 centre{0.0f, 0.0f, -6.0f};
    const Vector3 normal{std::sin(angle), 0.0f, std::cos(angle)};
    const Vector3 slope{std::cos(angle), 0.0f, -std::sin(angle)};  // in the plane, along x
    const int normalIndex = geometry::nearestNormal(normal);
    const float t = std::tan(cam.fov * 0.5f);
    auto ldi = testing::makeSyntheticQp(cam, n, n, [&](int r, int c, auto& out) {
        const Vector3 ray{(2.0f * (c + 0.5f) / n - 1.0f) * t, (2.0f * (r + 0.5f) / n - 1.0f) * t,
                          -1.0f};
        const float along = geometry::dot(centre, normal) / geometry::dot(ray, normal);
        const Vector3 p = ray * along;
        const float s = geometry::dot(p - centre, slope);
        if (along > 0.0f && std::fabs(p.y) < 0.9f && std::fabs(s) < 2.5f) {
            const auto colour =
                static_cast<std::uint32_t>(((static_cast<int>(std::floor(2.0f * s)) +
                                             static_cast<int>(std::floor(2.0f * p.y))) &
                                            1)
                                               ? 0xE04020u
                                               : 0x2060E0u);
            out.push_back({along, colour, normalIndex, static_cast<int>(along)});
        }
    });
    ASSERT_NE(ldi, nullptr);
    // Face on from 6 units in front of the plane, as wide as the patch is long.
    const int size = 120;
    const Vector3 eye = centre + normal * 6.0f;
    const OutputView view = makeOutputView(eye, -normal, {0.0f, 1.0f, 0.0f}, 0.9f, size, size);
    const float tOut = std::tan(0.45f);
    const Vector3 side = geometry::normalized(geometry::cross(-normal, Vector3{0.0f, 1.0f, 0.0f}));
    int inside = 0;
    int holes[2] = {0, 0};
    for (const bool high : {false, true}) {
        const imageutil::RgbImage frame = drawFrame(*ldi, view, size, high);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const float u = (2.0f * (x + 0.5f) / size - 1.0f) * tOut;
                const float v = (2.0f * (y + 0.5f) / size - 1.0f) * tOut;
                const Vector3 ray = -normal + side * u + Vector3{0.0f, v, 0.0f};
                const Vector3 p = eye + ray * (6.0f / geometry::dot(ray, -normal));
                const float s = geometry::dot(p - centre, slope);
                // Inside the outline by a reference pixel's stretch (about 0.2 units).
                if (std::fabs(p.y) < 0.8f && std::fabs(s) < 2.3f) {
                    inside += high ? 1 : 0;
                    holes[high ? 1 : 0] += (frame.pixels[y * size + x] & 0xFFFFFFu) == kBackground;
                }
            }
        }
    }
    EXPECT_GT(inside, size * size / 6);
    std::printf("%d pixels inside: %d and %d of them background\n", inside, holes[0], holes[1]);
    EXPECT_EQ(holes[1], 0) << "high quality";
    EXPECT_GT(holes[0], inside / 20) << "the specified drawing's streaks";
}

}  // namespace
}  // namespace strata::render
