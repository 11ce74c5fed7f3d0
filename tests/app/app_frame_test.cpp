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
    s.worldUp = {0, 0, 1};
    geometry::ViewCamera camera;
    camera.fov = 0.7853982f;
    camera.dir = {0, 1, 0};
    camera.up = {0, 0, 1};  // up.y = 0: level view
    ldi::FillBackground(frame, s, camera);
    EXPECT_EQ(frame.at(10, 167), 0x0A3C0Au);
    EXPECT_EQ(frame.at(10, 168), 0x7F9FEFu);
    EXPECT_EQ(frame.at(349, 0), 0x0A3C0Au);
    camera.dir = {0, 0, -1.0000001f};  // straight down, rounded beyond 1: all ground
    camera.up = {0, 1.0000001f, 0};
    ldi::FillBackground(frame, s, camera);
    EXPECT_EQ(frame.at(0, 349), 0x0A3C0Au);
    camera.dir = {0, 0, 1};  // straight up
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
        const float e = v.stereoSeparation;
        expectNear(v.keyMotion, {-e, 0, 0}, 0.0f, "keyMotion");
        // Green and blue are the unshifted picture; red comes from the shifted one.
        for (std::size_t i = 0; i < mono.pixelCount(); ++i) {
            ASSERT_EQ(v.frameImage.pixels[i] & 0xFF00FFFFu, mono.pixels[i] & 0xFF00FFFFu) << i;
            ASSERT_EQ(v.frameImage.pixels[i] & 0x00FF0000u, v.stereoImage.pixels[i] & 0x00FF0000u)
                << i;
        }
    }
}

// The horizontal shift (0..maxShift pixels) that best maps row y of `left` onto `right`
// (right(x - s) = left(x)), over the row's scene pixels; -1 where the row holds too few.
int rowShift(const imageutil::RgbImage& left, const imageutil::RgbImage& right, int y,
             std::uint32_t background, int maxShift) {
    int best = -1;
    double bestCost = 0.0;
    for (int s = 0; s <= maxShift; ++s) {
        double cost = 0.0;
        int n = 0;
        for (int x = maxShift; x < left.width; ++x) {
            const std::uint32_t l = left.at(x, y) & 0xFFFFFFu;
            if (l == background) {
                continue;
            }
            const std::uint32_t r = right.at(x - s, y) & 0xFFFFFFu;
            for (int shift = 0; shift < 24; shift += 8) {
                cost += std::abs(static_cast<int>((l >> shift) & 0xFFu) -
                                 static_cast<int>((r >> shift) & 0xFFu));
            }
            ++n;
        }
        if (n < left.width / 4) {
            return -1;
        }
        cost /= n;
        if (best < 0 || cost < bestCost) {
            best = s;
            bestCost = cost;
        }
    }
    return best;
}

// The eyes stand apart so that the nearest surfaces of the start view show a few pixels of
// disparity: the second eye's picture matches the first one shifted left by up to about four
// pixels, least far away.
TEST(StereoFrame, NearestSurfacesShowAFewPixelsOfDisparity) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    for (const auto& [width, height] : {std::pair{350, 350}, std::pair{350, 175}}) {
        TestView t(width, height);
        AppView& v = t.view;
        const platform::DebugCapture quiet;
        ASSERT_TRUE(v.OpenFile(demo.file("ldibrtcp")));
        // Looking down on the floor, so that rows run from near (bottom) to far (top).
        v.OnKeyDown(vk::kA);
        v.OnLButtonDown(175, height / 2, false, false);
        v.OnMouseMove(175, height / 2 + 60);
        v.OnLButtonUp(175, height / 2 + 60);
        v.OnCommand(38002);
        v.OnIdle();
        const imageutil::RgbImage& right = v.stereoImage;
        v.OnCommand(38000);
        v.OnIdle();
        const imageutil::RgbImage& left = v.frameImage;
        int nearest = 0;
        int farthest = 99;
        for (int y = 0; y < height; y += 4) {
            const int s = rowShift(left, right, y, v.backgroundColor, 12);
            if (s >= 0) {
                nearest = std::max(nearest, s);
                farthest = std::min(farthest, s);
            }
        }
        EXPECT_GE(nearest, 2) << width << "x" << height;
        EXPECT_LE(nearest, 6) << width << "x" << height;
        EXPECT_LT(farthest, nearest);
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
    const float e = v.stereoSeparation;
    v.keyMotion = {e, 0, 0};
    ASSERT_TRUE(v.MoveCamera());
    expectNear(v.viewCamera.pos - start, side * e, 1e-6f, "shift");
    v.keyMotion = {-e, 0, 0};
    ASSERT_TRUE(v.MoveCamera());
    expectNear(v.viewCamera.pos, start, 1e-6f, "back");
}

// The second eye of a wide or tall frame stands as far from the first as in the square frame:
// the separation is a distance in the scene, whatever the frame's shape.
TEST(StereoFrame, EyeShiftOfANonSquareFrameIsTheSquareFramesShift) {
    AppView square;
    square.OnInitialUpdate();
    ASSERT_GT(square.stereoSeparation, 0.0f);
    for (const auto& [w, h] : {std::pair{500, 200}, std::pair{200, 500}}) {
        SCOPED_TRACE(::testing::Message() << w << " x " << h);
        AppView v;
        v.frameWidth = w;
        v.frameHeight = h;
        v.OnInitialUpdate();
        v.OnCommand(38002);
        v.OnIdle();
        EXPECT_FLOAT_EQ(v.stereoSeparation, square.stereoSeparation);
        expectNear(v.keyMotion, {-v.stereoSeparation, 0, 0}, 1e-9f, "keyMotion");
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
    // A quarter turn: the scene turns about the world's up axis (+y here) like a turntable, so
    // the level reference camera (looking along -z) now looks along +x, still upright.
    v.spinAngle = 1.5707964f;
    v.SpinFrame();
    EXPECT_EQ(v.navPosition, reference.navPosition);
    expectNear(v.viewCamera.dir, {1, 0, 0}, 1e-5f, "dir turned about +y");
    expectNear(v.viewCamera.up, reference.up, 1e-5f, "up stays");
    // The next ordinary step starts from the navigation view again.
    v.OnKeyDown(vk::kUp);
    v.OnKeyDown(vk::kDown);
    expectNear(v.viewCamera.up, reference.up, 1e-5f, "up back");
}

// Every dump view sees the scene, from around it: view 4 from beyond it, looking straight back
// toward the current eye. The status line says where the files went.
TEST(ViewDump, EveryViewSeesTheSceneAndViewFourLooksBackAtTheEye) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    for (const char* extension : {"ldibrtqp", "ldipyr", "vox"}) {
        SCOPED_TRACE(extension);
        TestView t(200, 100);
        AppView& v = t.view;
        const platform::DebugCapture quiet;
        ASSERT_TRUE(v.OpenFile(demo.file(extension)));
        // The blended footprints: the share of scene pixels below counts their spread edges.
        v.highQualitySplats = false;
        // From a view of the user's: moved and turned.
        v.OnKeyDown(vk::kLeft);
        v.OnLButtonDown(100, 50, false, false);
        v.OnMouseMove(106, 47);
        v.OnLButtonUp(106, 47);
        const geometry::ViewCamera current = v.viewCamera;
        const std::filesystem::path folder =
            std::filesystem::path(demo.folder) / (std::string("dump_") + extension);
        std::filesystem::create_directories(folder);
        v.dumpFolder = folder.string();
        std::vector<geometry::ViewCamera> cameras;
        v.onBlit = [&] { cameras.push_back(v.viewCamera); };
        v.OnKeyDown(vk::kH);
        ASSERT_EQ(cameras.size(), 9u);
        for (int i = 0; i < 9; ++i) {
            SCOPED_TRACE(i);
            imageutil::RgbImage image;
            ASSERT_TRUE(image.load((folder / ("ldi_dump" + std::to_string(i) + ".bmp")).string()));
            ASSERT_EQ(image.width, 200);
            ASSERT_EQ(image.height, 100);
            std::size_t scene = 0;
            for (std::size_t p = 0; p < image.pixelCount(); ++p) {
                scene += (image.pixels[p] & 0xFFFFFFu) != v.backgroundColor ? 1 : 0;
            }
            EXPECT_GT(scene, image.pixelCount() / 20);
            // Each looks at the scene's centre from outside its box.
            const Vector3 centre = (v.boundsMin + v.boundsMax) * 0.5f;
            const Vector3 toCentre = geometry::normalized(centre - cameras[i].pos);
            EXPECT_GT(geometry::dot(toCentre, geometry::normalized(cameras[i].dir)), 0.999f);
            const Vector3& p = cameras[i].pos;
            EXPECT_FALSE(v.boundsMin.x < p.x && p.x < v.boundsMax.x && v.boundsMin.y < p.y &&
                         p.y < v.boundsMax.y && v.boundsMin.z < p.z && p.z < v.boundsMax.z);
        }
        // View 4: along the current view, looking back toward the current eye.
        const Vector3 back = geometry::normalized(current.pos - cameras[4].pos);
        EXPECT_GT(geometry::dot(geometry::normalized(cameras[4].dir), back), 0.99f);
        EXPECT_LT(
            geometry::dot(geometry::normalized(cameras[4].dir), geometry::normalized(current.dir)),
            -0.999f);
        ASSERT_FALSE(t.statusLines.empty());
        EXPECT_NE(t.statusLines.back().find("ldi_dump0.bmp"), std::string::npos);
        EXPECT_NE(t.statusLines.back().find(std::filesystem::absolute(folder).string()),
                  std::string::npos)
            << t.statusLines.back();
    }
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
