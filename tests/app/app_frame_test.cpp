// Frames: the stereo merges and the stereo frame, the horizon background, the per-frame
// hand-over, the spin frame, the view dump, and one frame against the `strata render` command.
#include <cstdio>
#include <filesystem>
#include <utility>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "app_test_support.h"
#include "imageutil/png_file.h"
#include "ldi/draw_common.h"
#include "platform/debug_output.h"

namespace strata::app {
namespace {

using geometry::Vector3;
using testing::DemoSet;
using testing::expectNear;
using testing::OpenedView;
using testing::TestView;

imageutil::RgbImage imageOf(std::initializer_list<std::uint32_t> words, int width) {
    imageutil::RgbImage image =
        imageutil::RgbImage::createOwned(width, static_cast<int>(words.size()) / width);
    std::copy(words.begin(), words.end(), image.pixels);
    return image;
}

TEST(StereoMerge, ColourAndMonochromatic) {
    const imageutil::RgbImage left =
        imageOf({0x00123456u, 0x00FF00FFu, 0x0000FF00u, 0x00808080u}, 2);
    // Identical eyes in colour mode: the picture is unchanged.
    imageutil::RgbImage same = left;
    MergeStereo(1, same, left);
    EXPECT_EQ(std::vector<std::uint32_t>(same.pixels, same.pixels + 4),
              std::vector<std::uint32_t>(left.pixels, left.pixels + 4));
    // Red from the right eye, green and blue from the left.
    imageutil::RgbImage colour = left;
    const imageutil::RgbImage right =
        imageOf({0x00AB0000u, 0x00000000u, 0x00FFFFFFu, 0x00010203u}, 2);
    MergeStereo(1, colour, right);
    EXPECT_EQ(colour.pixels[0], 0x00AB3456u);
    EXPECT_EQ(colour.pixels[1], 0x000000FFu);
    EXPECT_EQ(colour.pixels[2], 0x00FFFF00u);
    EXPECT_EQ(colour.pixels[3], 0x00018080u);
    // Monochromatic: brightest channel of the left in blue, of the right in red.
    imageutil::RgbImage green = imageOf({0x0000FF00u}, 1);
    MergeStereo(2, green, imageOf({0x0000FF00u}, 1));
    EXPECT_EQ(green.pixels[0], 0x00FF00FFu);
    imageutil::RgbImage mono = left;
    MergeStereo(2, mono, right);
    EXPECT_EQ(mono.pixels[0], 0x00AB0056u);
    EXPECT_EQ(mono.pixels[3], 0x00030080u);
}

TEST(FrameBackground, HorizonSplitsAtTheUpVector) {
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(350, 350);
    ldi::FrameSettings s;
    s.background = 0x7F9FEFu;
    s.horizonBackground = true;
    geometry::ViewCamera camera;
    camera.fov = 0.7853982f;
    camera.up = {0, 0, 1};  // up.y = 0: level view
    ldi::FillBackground(frame, s, camera);
    EXPECT_EQ(frame.at(10, 167), 0x0A3C0Au);
    EXPECT_EQ(frame.at(10, 168), 0x7F9FEFu);
    EXPECT_EQ(frame.at(349, 0), 0x0A3C0Au);
    camera.up = {0, 1.0000001f, 0};  // rounding beyond 1: all ground, no undefined conversion
    ldi::FillBackground(frame, s, camera);
    EXPECT_EQ(frame.at(0, 349), 0x0A3C0Au);
    camera.up = {0, -1, 0};
    ldi::FillBackground(frame, s, camera);
    EXPECT_EQ(frame.at(0, 0), 0x7F9FEFu);
    s.horizonBackground = false;
    ldi::FillBackground(frame, s, camera);
    EXPECT_EQ(frame.at(0, 0), 0x7F9FEFu);
    EXPECT_EQ(frame.at(0, 349), 0x7F9FEFu);
}

struct Snapshot {
    Vector3 navPosition;
    geometry::Matrix4 view;
    geometry::Matrix4 warp;
    Vector3 pos, dir, up;

    explicit Snapshot(const AppView& v)
        : navPosition(v.navPosition),
          view(v.navViewMatrix),
          warp(v.warpMatrix),
          pos(v.viewCamera.pos),
          dir(v.viewCamera.dir),
          up(v.viewCamera.up) {}
    void expectSame(const AppView& v) const {
        EXPECT_EQ(v.navPosition, navPosition);
        EXPECT_EQ(v.navViewMatrix, view);
        EXPECT_EQ(v.warpMatrix, warp);
        EXPECT_EQ(v.viewCamera.pos, pos);
        EXPECT_EQ(v.viewCamera.dir, dir);
        EXPECT_EQ(v.viewCamera.up, up);
    }
};

TEST(StereoFrame, TheSecondEyeIsShiftedSidewaysAndTheCameraComesBack) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    v.OnIdle();
    const imageutil::RgbImage mono = v.frameImage;
    // Turned first, so that the camera axes differ from the world axes.
    v.OnLButtonDown(175, 175, false, false);
    v.OnMouseMove(200, 160);
    v.OnLButtonUp(200, 160);
    v.OnCommand(kIdReset);
    for (const bool restrict : {false, true}) {
        SCOPED_TRACE(restrict);
        v.restrictMovement = restrict;  // the camera is outside the box: the shift is still taken
        v.environmentMap = true;
        v.OnCommand(38002);
        const Snapshot before(v);
        v.OnIdle();
        before.expectSame(v);
        EXPECT_EQ(v.targetImage, &v.frameImage);
        EXPECT_TRUE(v.environmentMap);
        const float e = 2.0f * 0.1f / 350.0f;
        expectNear(v.keyMotion, {-e, 0, 0}, 0.0f, "keyMotion");
        // Green and blue are the unshifted picture; red comes from the shifted one.
        for (std::size_t i = 0; i < mono.pixelCount(); ++i) {
            ASSERT_EQ(v.frameImage.pixels[i] & 0xFF00FFFFu, mono.pixels[i] & 0xFF00FFFFu) << i;
            ASSERT_EQ(v.frameImage.pixels[i] & 0x00FF0000u, v.stereoImage.pixels[i] & 0x00FF0000u)
                << i;
        }
    }
}

TEST(StereoFrame, EyeShiftIsAlongTheCameraSide) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    v.OnLButtonDown(175, 175, false, false);
    v.OnMouseMove(230, 140);
    v.OnLButtonUp(230, 140);
    v.OnCommand(38002);
    const Vector3 side = geometry::normalized(geometry::cross(v.viewCamera.dir, v.viewCamera.up));
    const Vector3 start = v.viewCamera.pos;
    // The eye shift of the stereo frame, step by step.
    const float e = 2.0f * 0.1f / 350.0f;
    v.keyMotion = {e, 0, 0};
    ASSERT_TRUE(v.MoveCamera());
    expectNear(v.viewCamera.pos - start, side * e, 1e-6f, "shift");
    v.keyMotion = {-e, 0, 0};
    ASSERT_TRUE(v.MoveCamera());
    expectNear(v.viewCamera.pos, start, 1e-6f, "back");
}

// The second eye of a wide or tall frame is shifted by two near-plane pixels of its width.
TEST(StereoFrame, EyeShiftOfANonSquareFrameUsesItsWidth) {
    for (const auto& [w, h] : {std::pair{500, 200}, std::pair{200, 500}}) {
        SCOPED_TRACE(::testing::Message() << w << " x " << h);
        AppView v;
        v.frameWidth = w;
        v.frameHeight = h;
        v.OnInitialUpdate();
        v.OnCommand(38002);
        v.OnIdle();
        const float e = 2.0f * v.viewCamera.near / static_cast<float>(w);
        expectNear(v.keyMotion, {-e, 0, 0}, 1e-9f, "keyMotion");
    }
}

TEST(FrameDriver, PerFrameSwitchesReachTheDrawnObject) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    v.OnKeyDown(vk::kU);
    v.OnCommand(36000);  // splat off
    v.OnCommand(37000);  // false colour on
    v.OnCommand(37003);
    v.OnIdle();
    ASSERT_EQ(v.drawLdi, v.ldi);
    EXPECT_EQ(v.ldi->options.upperHalfOnly, 1);
    EXPECT_EQ(v.ldi->options.lowerHalfOnly, 0);
    EXPECT_EQ(v.ldi->options.useSplat, 0);
    EXPECT_EQ(v.ldi->options.useFalseColor, 1);
    EXPECT_EQ(v.ldi->options.falseColorMode, 3);
    EXPECT_EQ(v.ldi->settingsGiven, 1);
    v.OnKeyDown(vk::kL);
    v.OnIdle();
    EXPECT_EQ(v.ldi->options.upperHalfOnly, 0);
    EXPECT_EQ(v.ldi->options.lowerHalfOnly, 1);
    // An unknown display mode clears to the background and draws no object.
    v.displayMode = 9;
    v.OnCommand(39002);
    v.OnIdle();
    EXPECT_EQ(v.drawLdi, nullptr);
    for (std::size_t i = 0; i < v.frameImage.pixelCount(); ++i) {
        ASSERT_EQ(v.frameImage.pixels[i], 0xFFFFFFu);
    }
}

TEST(SpinFrame, TurnsTheViewAndLeavesTheNavigationAlone) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    const Snapshot reference(v);
    // Angle 0: the navigation view itself.
    v.timerTick = true;
    v.OnIdle();
    EXPECT_FALSE(v.timerTick);
    expectNear(v.viewCamera.pos, reference.pos, 1e-4f, "pos");
    expectNear(v.viewCamera.dir, reference.dir, 1e-5f, "dir");
    EXPECT_EQ(t.statusLines.back().rfind("hz: ", 0), 0u);
    // A quarter turn: the scene turns about the navigation frame's z axis (the viewing axis of
    // the reference camera through the origin).
    v.spinAngle = 1.5707964f;
    v.SpinFrame();
    EXPECT_EQ(v.navPosition, reference.navPosition);
    expectNear(v.viewCamera.dir, reference.dir, 1e-5f, "dir stays on the turned axis");
    EXPECT_NEAR(geometry::dot(v.viewCamera.up, reference.up), 0.0f, 1e-5f);
    // The next ordinary step starts from the navigation view again.
    v.OnKeyDown(vk::kUp);
    v.OnKeyDown(vk::kDown);
    expectNear(v.viewCamera.up, reference.up, 1e-5f, "up back");
}

TEST(ViewDump, NineValidBitmapsNumberedZeroToEight) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    const DemoSet& demo = DemoSet::get();
    const std::filesystem::path folder = std::filesystem::path(demo.folder) / "dump";
    std::filesystem::create_directories(folder);
    v.dumpFolder = folder.string();
    {
        std::FILE* old = std::fopen((folder / "ldi_dump3.bmp").string().c_str(), "wb");
        ASSERT_NE(old, nullptr);
        std::fputs("an older file", old);
        std::fclose(old);
    }
    const int blits = t.blits;
    v.OnKeyDown(vk::kH);
    EXPECT_EQ(t.blits, blits + 9);  // each view is shown too
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 9);
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        imageutil::RgbImage image;
        ASSERT_TRUE(image.load((folder / ("ldi_dump" + std::to_string(i) + ".bmp")).string()));
        EXPECT_EQ(image.width, 350);
        EXPECT_EQ(image.height, 350);
    }
    // The view stays at the last dump view; RESET brings the reference back.
    const Vector3 last = v.viewCamera.pos;
    v.OnCommand(kIdReset);
    EXPECT_NE(v.viewCamera.pos, last);
}

}  // namespace
}  // namespace strata::app

namespace strata::app {
namespace {

TEST(Stopwatch, RatesAndReportsIn64Bits) {
    Stopwatch s;
    s.frequency = 1000000000;
    s.start = 0;
    s.stop = 5000000000;  // five seconds: beyond 32 bits of nanoseconds
    EXPECT_DOUBLE_EQ(s.rate(), 0.2);
    EXPECT_EQ(s.ticks, 5000000000);
    platform::DebugCapture capture;
    s.stop = 2000000;  // 2 ms
    s.reportCycles("frame");
    s.reportCyclesPerItem("sample", 1000.0);
    ASSERT_EQ(capture.pieces().size(), 2u);
    EXPECT_EQ(capture.pieces()[0], "frame cycles/hz:      1100000 \t       500.00\n");
    EXPECT_EQ(capture.pieces()[1], "sample cycles:      1100.00 \t    500000.00\n");
    s.stop = s.start;
    EXPECT_EQ(s.rate(), 0.0);  // no time: no division by zero
}

}  // namespace
}  // namespace strata::app
