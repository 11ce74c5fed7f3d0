// Photographs with depth carried into a grid and fused: the cameras of pictures, closed-form
// planes seen from other cameras, the depth-edge rule and the depth tolerance on both sides of
// their limits, the weighting of colours by how squarely each view saw a surface, and depth
// noise on the demo.
#include "maker/rgbd_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "maker/demo_scene.h"
#include "maker/ray_caster.h"
#include "maker/texture.h"
#include "maker/trace_image.h"
#include "maker_test_util.h"

namespace strata::maker {
namespace {

using geometry::Vector3;
constexpr float kPi = 3.14159265f;
constexpr float kNone = std::numeric_limits<float>::infinity();

PinholeCamera lookingAlong(const Vector3& pos, const Vector3& dir, float fovDegrees,
                           const Vector3& up = {0, 1, 0}) {
    PinholeCamera camera;
    camera.pos = pos;
    camera.dir = dir;
    camera.up = up;
    camera.fov = fovDegrees * kPi / 180.0f;
    std::string error;
    EXPECT_TRUE(normalizeCamera(camera, error)) << error;
    return camera;
}

// The unit-component ray of pixel (column, row from the bottom) of a photograph's camera.
Vector3 photoRay(const PhotoCamera& c, std::int32_t height, double column, double row) {
    const Vector3 side = geometry::normalized(geometry::cross(c.dir, c.up));
    return c.dir + side * static_cast<float>((column - c.cx) / c.fx) +
           c.up * static_cast<float>((c.cy - (height - 1 - row)) / c.fy);
}

// Distance along a ray (origin o, direction r) to the plane through p with normal n.
double meet(const Vector3& o, const Vector3& r, const Vector3& p, const Vector3& n) {
    return static_cast<double>(geometry::dot(p - o, n)) / geometry::dot(r, n);
}

// A picture of the plane through p with normal n, one colour, seen by camera.
RgbdView planeView(const PhotoCamera& camera, std::int32_t width, std::int32_t height,
                   const Vector3& p, const Vector3& n, std::uint32_t colour) {
    RgbdView view;
    view.camera = camera;
    view.width = width;
    view.height = height;
    for (std::int32_t row = 0; row < height; ++row) {
        for (std::int32_t column = 0; column < width; ++column) {
            const double t = meet(camera.pos, photoRay(camera, height, column, row), p, n);
            view.depth.push_back(t > 0.0 ? static_cast<float>(t) : kNone);
            view.rgb.insert(view.rgb.end(), {static_cast<std::uint8_t>(colour >> 16),
                                             static_cast<std::uint8_t>(colour >> 8),
                                             static_cast<std::uint8_t>(colour)});
        }
    }
    return view;
}

LayeredImage fuse(std::vector<RgbdView> views, const PinholeCamera& camera, std::int32_t side,
                  int layers = 8, float edgeRatio = kDefaultEdgeRatio, int threads = 2) {
    const RgbdViewSource source(std::move(views), edgeRatio, FusionOptions{});
    SampleOptions options;
    options.width = options.height = side;
    options.maxLayers = layers;
    options.threads = threads;
    LayeredImage image;
    std::string error;
    EXPECT_TRUE(source.sample(camera, options, image, error)) << error;
    return image;
}

TEST(PhotoCamera, AFieldOfViewSeesAsTheTraceSeesOnAnyShape) {
    for (const auto& [width, height] : {std::pair{40, 30}, std::pair{30, 40}, std::pair{16, 16}}) {
        const PinholeCamera camera = lookingAlong({1, 2, 3}, {0.3f, -0.2f, -1}, 50.0f);
        const PhotoCamera photo = photoCameraFromFov(camera, width, height);
        const geometry::ImagePlaneFrame frame = pictureRayFrame(camera, width, height);
        for (const auto& [column, row] : {std::pair{0, 0}, std::pair{width - 1, 0},
                                          std::pair{7, height - 1}, std::pair{width / 2, 5}}) {
            const Vector3 a = photoRay(photo, height, column, row);
            const Vector3 b = frame.pixelRay(static_cast<float>(row), static_cast<float>(column));
            EXPECT_NEAR((a - b).length(), 0.0f, 1e-5f) << width << "x" << height;
        }
    }
}

TEST(PhotoCamera, TheCoveringCameraTakesInTheWholePictureAndNoMore) {
    PhotoCamera photo;
    photo.fx = 50.0;
    photo.fy = 40.0;
    photo.cx = 10.0;  // far off the centre of a 40-pixel row
    photo.cy = 14.5;
    std::string error;
    ASSERT_TRUE(normalizePhotoCamera(photo, error)) << error;
    const PinholeCamera covering = coveringCamera(photo, 40, 30);
    const GridView grid(covering, 100, 100);
    double lowest = 1e9;
    double highest = -1e9;
    // The outer edges of the corner pixels.
    for (const auto& [column, row] : {std::pair{-0.5, -0.5}, std::pair{39.5, -0.5},
                                      std::pair{-0.5, 29.5}, std::pair{39.5, 29.5}}) {
        double x = 0.0;
        double y = 0.0;
        double depth = 0.0;
        ASSERT_TRUE(grid.project(photo.pos + photoRay(photo, 30, column, row), x, y, depth));
        lowest = std::min({lowest, x, y});
        highest = std::max({highest, x, y});
    }
    EXPECT_GE(lowest, -1e-3);
    EXPECT_LE(highest, 100.0 + 1e-3);
    EXPECT_NEAR(std::min(lowest, 100.0 - highest), 0.0, 1e-3) << "the widest side just fits";
    // A square picture made from a field of view keeps exactly that one.
    const PinholeCamera camera = lookingAlong({0, 0, 0}, {0, 0, -1}, 37.0f);
    EXPECT_EQ(coveringCamera(photoCameraFromFov(camera, 64, 64), 64, 64).fov, camera.fov);
    // Focal lengths and principal points that cannot make a camera are refused.
    for (const auto& [fx, cx] :
         {std::pair{0.0, 1.0}, std::pair{-2.0, 1.0}, std::pair{std::nan(""), 1.0},
          std::pair{1.0, std::numeric_limits<double>::infinity()}}) {
        PhotoCamera bad;
        bad.fx = fx;
        bad.cx = cx;
        EXPECT_FALSE(normalizePhotoCamera(bad, error)) << fx << " " << cx;
    }
}

TEST(Fusion, APlaneSeenFromAnotherCameraLiesWhereTheRaysMeetIt) {
    // A tilted plane photographed from one camera (off-centre intrinsics, non-square), carried
    // into a camera elsewhere: every sample lies on the plane along that camera's pixel ray.
    const Vector3 p{0.0f, 0.0f, -10.0f};
    const Vector3 n = geometry::normalized({0.3f, 0.2f, 1.0f});
    PhotoCamera photo;
    photo.fx = 60.0;
    photo.fy = 55.0;
    photo.cx = 30.0;
    photo.cy = 18.0;
    std::string error;
    ASSERT_TRUE(normalizePhotoCamera(photo, error));
    const PinholeCamera target = lookingAlong({1.5f, -0.5f, 1.0f}, {-0.15f, 0.05f, -1}, 30.0f);
    const LayeredImage image = fuse({planeView(photo, 64, 40, p, n, 0x336699)}, target, 48);
    ASSERT_GT(image.stats.samples, 48 * 48 / 4);
    const geometry::ImagePlaneFrame frame = rayFrame(target, 48, 48);
    for (int row = 0; row < 48; ++row) {
        for (int column = 0; column < 48; ++column) {
            ASSERT_LE(image.layerCount(row, column), 1);
            if (image.layerCount(row, column) == 0) {
                continue;
            }
            const LayerSample& s = image.sample(row, column, 0);
            const Vector3 ray = frame.pixelRay(static_cast<float>(row), static_cast<float>(column));
            const double expected = meet(target.pos, ray, p, n);
            EXPECT_NEAR(s.depth, expected, 2e-5 * expected) << row << "," << column;
            EXPECT_EQ(s.colour, 0x336699u);
            EXPECT_GT(geometry::dot(s.normal, n), 0.999f) << "the plane's normal, facing the photo";
        }
    }
    // Threads change nothing.
    const LayeredImage one =
        fuse({planeView(photo, 64, 40, p, n, 0x336699)}, target, 48, 8, kDefaultEdgeRatio, 1);
    ASSERT_EQ(one.samples.size(), image.samples.size());
    for (std::size_t i = 0; i < one.samples.size(); ++i) {
        EXPECT_EQ(one.samples[i].depth, image.samples[i].depth);
        EXPECT_EQ(one.samples[i].colour, image.samples[i].colour);
    }
}

TEST(Fusion, NeighboursAcrossADepthEdgeAreNotJoined) {
    // A step: the left half of the picture at depth 10, the right half `ratio` farther. Seen
    // again from the same eye turned by half a pixel, a joined step leaves a sheet of depths
    // between the two halves; an edge leaves none.
    const PinholeCamera camera = lookingAlong({0, 0, 0}, {0, 0, -1}, 40.0f);
    const PhotoCamera photo = photoCameraFromFov(camera, 32, 32);
    const float halfPixel = std::atan(std::tan(camera.fov / 2) / 32.0f);
    const PinholeCamera turned =
        lookingAlong({0, 0, 0}, {std::sin(halfPixel), 0, -std::cos(halfPixel)}, 40.0f);
    for (const float step : {0.049f, 0.051f}) {
        RgbdView view = planeView(photo, 32, 32, {0, 0, -10}, {0, 0, 1}, 0xFFFFFF);
        for (std::size_t i = 0; i < view.depth.size(); ++i) {
            if (i % 32 >= 16) {
                view.depth[i] *= 1.0f + step;
            }
        }
        const LayeredImage image = fuse({view}, turned, 32);
        int between = 0;
        for (const LayerSample& s : image.samples) {
            const float z = -s.position.z;
            between += z > 10.02f && z < 10.0f * (1.0f + step) - 0.02f ? 1 : 0;
        }
        if (step < kDefaultEdgeRatio) {
            EXPECT_GT(between, 16) << "joined at " << step;
        } else {
            EXPECT_EQ(between, 0) << "an edge at " << step;
        }
    }
}

TEST(Fusion, ACentreOnAnEdgeOfTwoTrianglesCountsOnce) {
    // A wall photographed square-on, carried into the same camera moved half a pixel sideways,
    // then upward: the pixel centres fall on the edges between the wall's pixels, each shared by
    // two triangles, and each must give one fragment, neither none nor two.
    const PinholeCamera camera = lookingAlong({0, 0, 0}, {0, 0, -1}, 30.0f);
    const PhotoCamera photo = photoCameraFromFov(camera, 16, 16);
    const RgbdView wall = planeView(photo, 16, 16, {0, 0, -10}, {0, 0, 1}, 0x808080);
    // The same with pixels missing here and there, so that some squares keep one triangle only.
    RgbdView holes = wall;
    for (std::size_t i = 0; i < holes.depth.size(); ++i) {
        if ((i / 16 * 7 + i % 16 * 3) % 11 == 0) {
            holes.depth[i] = kNone;
        }
    }
    const float halfPixel = 0.5f * 10.0f / static_cast<float>(photo.fx);
    for (const Vector3& shift : {Vector3{halfPixel, 0, 0}, Vector3{0, halfPixel, 0}}) {
        PinholeCamera moved = camera;
        moved.pos = shift;
        const LayeredImage image = fuse({wall}, moved, 16);
        // All but the outermost row or column of centres lie within the wall.
        EXPECT_EQ(image.stats.pixelsCovered, 15 * 16) << shift.x;
        EXPECT_EQ(image.stats.hits, image.stats.pixelsCovered) << "one fragment a centre";
        const LayeredImage holed = fuse({holes}, moved, 16);
        EXPECT_EQ(holed.stats.hits, holed.stats.pixelsCovered) << shift.x;
        EXPECT_GT(holed.stats.pixelsCovered, 150);
    }
}

TEST(Fusion, SamplesWithinTheToleranceAreOneSurface) {
    // Two views from one camera see parallel planes `gap` apart: one layer below the tolerance,
    // two above it.
    const PinholeCamera camera = lookingAlong({0, 0, 0}, {0, 0, -1}, 30.0f);
    const PhotoCamera photo = photoCameraFromFov(camera, 24, 24);
    for (const float gap : {0.049f, 0.051f}) {
        const RgbdView near = planeView(photo, 24, 24, {0, 0, -10}, {0, 0, 1}, 0xFF0000);
        const RgbdView far =
            planeView(photo, 24, 24, {0, 0, -10.0f * (1.0f + gap)}, {0, 0, 1}, 0x0000FF);
        const LayeredImage image = fuse({near, far}, camera, 24);
        const int expected = gap < kDefaultDepthTolerance ? 1 : 2;
        EXPECT_EQ(image.stats.minLayers, expected) << gap;
        EXPECT_EQ(image.stats.maxLayers, expected) << gap;
    }
}

TEST(Fusion, ColoursAreAveragedByHowSquarelyEachViewSawTheSurface) {
    // One view faces the plane (weight 1), the other sees it at 60 degrees (weight 1/2).
    const Vector3 centre{0, 0, -10};
    const PinholeCamera square = lookingAlong({0, 0, 0}, {0, 0, -1}, 20.0f);
    const Vector3 slantPos =
        centre + Vector3{10.0f * std::sin(kPi / 3), 0, 10.0f * std::cos(kPi / 3)};
    const PinholeCamera slant = lookingAlong(slantPos, centre - slantPos, 20.0f);
    const RgbdView red =
        planeView(photoCameraFromFov(square, 33, 33), 33, 33, centre, {0, 0, 1}, 0xFF0000);
    const RgbdView blue =
        planeView(photoCameraFromFov(slant, 33, 33), 33, 33, centre, {0, 0, 1}, 0x0000FF);
    // A grid of another size: no pixel centre falls on a pixel of either view, so every
    // fragment comes from a triangle.
    const LayeredImage image = fuse({red, blue}, square, 32);
    ASSERT_EQ(image.layerCount(16, 16), 1);
    const std::uint32_t colour = image.sample(16, 16, 0).colour;
    const auto expected = [](float linear) {
        return static_cast<int>(std::lround(255.0f * linearToSrgb(linear)));
    };
    EXPECT_NEAR(static_cast<int>(colour >> 16), expected(1.0f / 1.5f), 2);
    EXPECT_EQ((colour >> 8) & 0xFFu, 0u);
    EXPECT_NEAR(static_cast<int>(colour & 0xFFu), expected(0.5f / 1.5f), 2);
}

TEST(Fusion, APixelJoinedToNoNeighbourStaysAsItsOwnSquare) {
    const PinholeCamera camera = lookingAlong({0, 0, 0}, {0, 0, -1}, 30.0f);
    RgbdView view = planeView(photoCameraFromFov(camera, 9, 9), 9, 9, {0, 0, -4}, {0, 0, 1}, 0x10);
    for (float& d : view.depth) {
        d = kNone;
    }
    view.depth[4 * 9 + 6] = 4.0f;
    const LayeredImage image = fuse({view}, camera, 9);
    EXPECT_EQ(image.stats.samples, 1);
    EXPECT_EQ(image.layerCount(4, 6), 1);
    // Twice the grid: the square covers its own 2 x 2 pixels.
    const LayeredImage fine = fuse({view}, camera, 18);
    EXPECT_EQ(fine.stats.samples, 4);
    EXPECT_EQ(fine.layerCount(8, 12) + fine.layerCount(9, 13), 2);
}

TEST(Fusion, OnePercentDepthNoiseStillFusesOneLayerPerSurface) {
    // Four traced views of the demo around the default camera, fused into it with and without
    // depth noise (normal, 1 % of the depth): the layers of a pixel are the same surfaces.
    const Scene scene = buildDemoScene();
    std::string error;
    const auto caster = RayCaster::create(scene, error);
    ASSERT_TRUE(caster) << error;
    const PinholeCamera reference = defaultCamera(scene.bounds(), kPi / 4, scene.defaultElevation);
    const Vector3 centre = scene.bounds().centre();
    constexpr std::int32_t kSide = 160;
    std::vector<RgbdView> clean;
    for (const float yaw : {-20.0f, 0.0f, 20.0f, 40.0f}) {
        PinholeCamera camera = reference;
        const float a = yaw * kPi / 180.0f;
        const Vector3 offset = camera.pos - centre;
        camera.pos = centre + Vector3{offset.x * std::cos(a) + offset.z * std::sin(a), offset.y,
                                      -offset.x * std::sin(a) + offset.z * std::cos(a)};
        camera.dir = geometry::normalized(centre - camera.pos);
        camera.up = {0, 1, 0};
        ASSERT_TRUE(normalizeCamera(camera, error));
        TraceOptions options;
        options.width = options.height = kSide;
        RgbdView view;
        std::vector<std::uint32_t> pixels;
        ASSERT_TRUE(traceImage(*caster, camera, options, pixels, error, &view.depth)) << error;
        for (std::uint32_t p : pixels) {
            view.rgb.insert(view.rgb.end(),
                            {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                             static_cast<std::uint8_t>(p)});
        }
        view.width = view.height = kSide;
        view.camera = photoCameraFromFov(camera, kSide, kSide);
        clean.push_back(std::move(view));
    }
    std::vector<RgbdView> noisy = clean;
    std::mt19937 random(27);
    std::normal_distribution<float> normal(0.0f, 0.01f);
    for (RgbdView& view : noisy) {
        for (float& d : view.depth) {
            d *= 1.0f + normal(random);
        }
    }
    const LayeredImage truth = fuse(clean, reference, kSide);
    const LayeredImage image = fuse(noisy, reference, kSide);
    // Where the clean layers of a pixel lie more than twice the tolerance apart (surfaces the
    // noise cannot blur together), each must hold exactly one noisy layer within the tolerance
    // of its depth: two there split a surface. Noisy layers near no clean one are silhouettes
    // the noise moved, and clean layers with none near them are hidden surfaces it lost.
    const float tolerance = kDefaultDepthTolerance;
    int pixels = 0;
    int split = 0;
    int lost = 0;
    for (int row = 0; row < kSide; ++row) {
        for (int column = 0; column < kSide; ++column) {
            const int want = truth.layerCount(row, column);
            bool apart = want > 0 && image.layerCount(row, column) > 0;
            for (int j = 1; j < want; ++j) {
                const float nearer = truth.sample(row, column, j).depth;
                apart = apart &&
                        truth.sample(row, column, j - 1).depth - nearer > 2 * tolerance * nearer;
            }
            if (!apart) {
                continue;
            }
            ++pixels;
            bool pixelSplit = false;
            bool pixelLost = false;
            for (int j = 0; j < want; ++j) {
                const float d = truth.sample(row, column, j).depth;
                int near = 0;
                for (int k = 0; k < image.layerCount(row, column); ++k) {
                    near += std::fabs(image.sample(row, column, k).depth - d) <= tolerance * d;
                }
                pixelSplit = pixelSplit || near > 1;
                pixelLost = pixelLost || near == 0;
            }
            split += pixelSplit ? 1 : 0;
            lost += pixelLost ? 1 : 0;
        }
    }
    std::printf(
        "1%% depth noise: of %d pixels whose surfaces lie apart, %d split a surface in two and "
        "%d lost one\n",
        pixels, split, lost);
    ASSERT_GT(pixels, 5000);
    EXPECT_LE(split, pixels / 200) << "at most 0.5 % of the pixels split a surface";
    EXPECT_LE(lost, pixels / 50);
}

}  // namespace
}  // namespace strata::maker
