// World up taken from the file: the horizon background, the spin turntable and the start of the
// movement box, for a y-up file (the maker's) and a z-up one.
#include <cmath>
#include <random>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "app_test_support.h"
#include "geometry/frame_tangents.h"
#include "ldi/draw_common.h"
#include "platform/debug_output.h"

namespace strata::app {
namespace {

using geometry::Vector3;
using testing::DemoSet;
using testing::expectNear;
using testing::TestView;

constexpr float kDegree = 3.14159265f / 180.0f;
constexpr std::uint32_t kSky = 0x7F9FEFu;
constexpr std::uint32_t kGround = 0x0A3C0Au;

// A view of `file` in a width x height frame.
struct SizedView : TestView {
    SizedView(const std::string& file, std::int32_t width, std::int32_t height)
        : TestView(width, height) {
        const platform::DebugCapture quiet;
        opened = view.OpenFile(file);
    }
    bool opened = false;
};

// Ground rows of the horizon background as the original formula gives them for a world with +z
// up: from the y component of the camera's up vector.
std::int32_t zUpGroundRows(std::int32_t height, float upY, float fov) {
    const float a = std::atan2(upY, std::sqrt((1.0f + upY) * (1.0f - upY)));
    const float f = 0.5f * fov;
    const float h = 0.5f * static_cast<float>(height) * (1.0f - a / f);
    return height - static_cast<std::int32_t>(h) - 7;
}

// Every column of the frame: ground below row n, sky from it.
void expectSplitAt(const imageutil::RgbImage& frame, std::int32_t n, const std::string& what) {
    for (std::int32_t x = 0; x < frame.width; x += 7) {
        for (std::int32_t y = 0; y < frame.height; ++y) {
            ASSERT_EQ(frame.at(x, y) & 0xFFFFFFu, y < n ? kGround : kSky)
                << what << " column " << x << " row " << y << " split " << n;
        }
    }
}

TEST(AppWorldUp, TakenFromTheReferenceCameraOfEveryKind) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const std::pair<std::string, Vector3> files[] = {
        {demo.file("ldibrtqp"), {0, 1, 0}}, {demo.file("ldibrtmrqp"), {0, 1, 0}},
        {demo.file("ldipyr"), {0, 1, 0}},   {demo.file("ldiset"), {0, 1, 0}},
        {demo.file("vox"), {0, 1, 0}},      {demo.zUpFile(), {0, 0, 1}}};
    for (const auto& [file, up] : files) {
        SCOPED_TRACE(file);
        TestView t;
        const platform::DebugCapture quiet;
        ASSERT_TRUE(t.view.OpenFile(file)) << t.view.statusNote;
        EXPECT_EQ(t.view.worldUp, up);
    }
    // A reference camera tilted down (as the maker's default camera is) still has +y for up: the
    // axis nearest its up vector.
    TestView t;
    ASSERT_TRUE(t.view.OpenFile(demo.file("ldibrtcp")));
    t.view.ldi->header.view.up = {0.0f, 0.906308f, -0.422618f};
    t.view.OnCommand(kIdReset);
    EXPECT_EQ(t.view.worldUp, (Vector3{0, 1, 0}));
    t.view.ldi->header.view.up = {0.2f, -0.1f, -0.97f};
    t.view.OnCommand(kIdReset);
    EXPECT_EQ(t.view.worldUp, (Vector3{0, 0, -1}));
}

// Cameras level and pitched, heading away from the scene so that only the background shows: the
// horizon sits where the original formula puts it for a z-up world looking along +y, in the
// file's own world.
TEST(AppHorizon, RowsForKnownCamerasOfAYUpAndAZUpFile) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    for (const auto& [width, height] : {std::pair{350, 350}, std::pair{200, 100}}) {
        for (const bool zUp : {false, true}) {
            SizedView t(zUp ? demo.zUpFile() : demo.file("ldibrtqp"), width, height);
            ASSERT_TRUE(t.opened) << t.view.statusNote;
            AppView& v = t.view;
            v.OnCommand(39004);  // Horizon
            for (const float degrees : {-30.0f, -10.0f, 0.0f, 10.0f, 22.0f}) {
                const std::string what = std::string(zUp ? "z-up " : "y-up ") +
                                         std::to_string(width) + "x" + std::to_string(height) +
                                         " pitch " + std::to_string(degrees);
                const float s = std::sin(degrees * kDegree);
                const float c = std::cos(degrees * kDegree);
                // Away from the scene: +z in the y-up world, -y in the z-up one.
                if (zUp) {
                    v.PlaceCamera({0, -60, 1}, {0, -c, s}, {0, s, c});
                } else {
                    v.PlaceCamera({0, 1, 60}, {0, s, c}, {0, c, -s});
                }
                v.OnIdle();
                // The same camera in the original's z-up world looking along +y has up.y = -s.
                expectSplitAt(v.frameImage, zUpGroundRows(height, -s, v.viewCamera.fov), what);
            }
            // Looking 22 degrees up with a 22.5-degree half angle: sky from edge to edge.
            EXPECT_EQ(v.frameImage.at(width / 2, 0) & 0xFFFFFFu, kSky);
        }
    }
}

// For any pitch and roll, in wide and tall frames: every pixel farther than a few rows from the
// true horizon (where a pixel's ray meets the world's horizontal plane through the eye) shows sky
// above it and ground below it.
TEST(AppHorizon, FollowsTheTrueHorizonForAnyPitchAndRoll) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    std::mt19937 random(21);
    std::uniform_real_distribution<float> angle(-1.0f, 1.0f);
    for (const auto& [width, height] : {std::pair{200, 100}, std::pair{100, 200}}) {
        SizedView t(demo.file("ldibrtqp"), width, height);
        ASSERT_TRUE(t.opened) << t.view.statusNote;
        AppView& v = t.view;
        v.OnCommand(39004);
        int both = 0;
        for (int i = 0; i < 40; ++i) {
            const float pitch = 0.6f * angle(random);
            const float roll = 1.6f * angle(random);
            const float heading = 3.0f * angle(random);
            // Heading about +y, then pitch, then roll about the viewing axis.
            const Vector3 level{std::sin(heading), 0.0f, std::cos(heading)};
            const Vector3 dir = level * std::cos(pitch) + Vector3{0, 1, 0} * std::sin(pitch);
            const Vector3 side = geometry::normalized(geometry::cross(dir, {0, 1, 0}));
            const Vector3 flatUp = geometry::cross(side, dir);
            const Vector3 up = flatUp * std::cos(roll) + side * std::sin(roll);
            // Far beyond the scene, looking away from it.
            v.PlaceCamera(level * 80.0f + Vector3{0, 1, 0}, dir, up);
            v.OnIdle();
            const geometry::FrameTangents tan =
                geometry::frameTangents(v.viewCamera.fov, width, height);
            const geometry::ViewCamera& c = v.viewCamera;
            const Vector3 camSide = geometry::normalized(geometry::cross(c.dir, c.up));
            const auto height0 = [&](float x, float y) {
                const Vector3 ray = c.dir + camSide * ((2.0f * x / width - 1.0f) * tan.x) +
                                    c.up * ((2.0f * y / height - 1.0f) * tan.y);
                return ray.y;
            };
            std::size_t ground = 0;
            for (std::int32_t y = 0; y < height; ++y) {
                for (std::int32_t x = 0; x < width; ++x) {
                    const float m = 12.0f;
                    const float cx = x + 0.5f;
                    const float cy = y + 0.5f;
                    const bool sky = height0(cx, cy) > 0.0f;
                    bool clear = true;
                    for (const float dx : {-m, m}) {
                        for (const float dy : {-m, m}) {
                            clear = clear && ((height0(cx + dx, cy + dy) > 0.0f) == sky);
                        }
                    }
                    const std::uint32_t shown = v.frameImage.at(x, y) & 0xFFFFFFu;
                    ground += shown == kGround ? 1 : 0;
                    if (clear) {
                        ASSERT_EQ(shown, sky ? kSky : kGround)
                            << "camera " << i << " pixel " << x << "," << y;
                    }
                }
            }
            both += ground > 0 && ground < v.frameImage.pixelCount() ? 1 : 0;
        }
        EXPECT_GT(both, 10);  // most cameras see the horizon line cross the frame
    }
}

// The spin turns the scene about the world's up axis through the scene's centre: the camera
// circles that axis at a constant height and distance, and its up vector keeps its height.
TEST(AppSpin, TurntableAboutWorldUpThroughTheSceneCentre) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    for (const bool zUp : {false, true}) {
        SCOPED_TRACE(zUp);
        SizedView t(zUp ? demo.zUpFile() : demo.file("ldibrtqp"), 200, 100);
        ASSERT_TRUE(t.opened) << t.view.statusNote;
        AppView& v = t.view;
        const Vector3 w = v.worldUp;
        const Vector3 centre = (v.boundsMin + v.boundsMax) * 0.5f;
        // Turned and moved first, so that the spin starts from a view of the user's.
        v.OnLButtonDown(100, 50, false, false);
        v.OnMouseMove(120, 44);
        v.OnLButtonUp(120, 44);
        v.OnKeyDown(vk::kLeft);
        const geometry::ViewCamera start = v.viewCamera;
        for (const float angle : {0.3f, 1.5707964f, 3.0f}) {
            v.spinAngle = angle;
            v.SpinFrame();
            const geometry::ViewCamera& c = v.viewCamera;
            EXPECT_NEAR(geometry::dot(c.up, w), geometry::dot(start.up, w), 1e-5f) << angle;
            EXPECT_NEAR(geometry::dot(c.dir, w), geometry::dot(start.dir, w), 1e-5f) << angle;
            EXPECT_NEAR(geometry::dot(c.pos - centre, w), geometry::dot(start.pos - centre, w),
                        1e-3f)
                << angle;
            // The camera turned by -angle about the axis (the scene by +angle).
            const Vector3 r0 = start.pos - centre - w * geometry::dot(start.pos - centre, w);
            const Vector3 r1 = c.pos - centre - w * geometry::dot(c.pos - centre, w);
            EXPECT_NEAR(r1.length(), r0.length(), 1e-3f) << angle;
            const float turned =
                std::atan2(geometry::dot(geometry::cross(r0, r1), w), geometry::dot(r0, r1));
            EXPECT_NEAR(turned, std::remainder(-angle, 6.2831853f), 1e-4f) << angle;
        }
        // The navigation itself is untouched: an ordinary frame shows the user's view again.
        v.OnKeyDown(vk::kRight);
        v.OnKeyDown(vk::kLeft);
        expectNear(v.viewCamera.dir, start.dir, 1e-5f, "dir back");
    }
}

}  // namespace
}  // namespace strata::app
