// AppView: defaults, opening every file of the demo set, failed opens, and the command table.
#include <cmath>
#include <cstdio>
#include <functional>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "app_test_support.h"
#include "ldi/draw_common.h"
#include "ldi/ldi_factory.h"
#include "platform/debug_output.h"
#include "platform/worker_pool.h"
#include "render/output_view.h"

namespace strata::app {
namespace {

using testing::DemoSet;
using testing::expectNear;
using testing::TestView;

TEST(AppView, ConstructorDefaults) {
    AppView v;
    EXPECT_EQ(v.displayMode, 0);
    EXPECT_EQ(v.ldiLoaded, 0);
    EXPECT_EQ(v.mouseMode, 99);
    EXPECT_FLOAT_EQ(v.moveScale, 1.0f);
    EXPECT_FLOAT_EQ(v.turnGain, 0.25f);
    EXPECT_FLOAT_EQ(v.keyStep, 0.005f);
    EXPECT_FALSE(v.instrument);
    EXPECT_TRUE(v.useSinglePrecision);
    EXPECT_TRUE(v.useTrunc);
    EXPECT_TRUE(v.relativeMouse);
    EXPECT_FALSE(v.restrictMovement);
    EXPECT_TRUE(v.useSplat);
    EXPECT_TRUE(v.useDepthCorrection);
    EXPECT_TRUE(v.frustumClipper);
    EXPECT_TRUE(v.frontSegment);
    EXPECT_FALSE(v.backSegment);
    EXPECT_EQ(v.falseColorMode, 0);
    EXPECT_EQ(v.sizeAccurate, 0);
    EXPECT_EQ(v.stereoMode, 0);
    EXPECT_EQ(v.backgroundColor, 0xB2B2B2u);
    EXPECT_EQ(v.groundColor, 0x0A3C0Au);
    EXPECT_FALSE(v.benchFlag);
    EXPECT_EQ(v.ldi, nullptr);
    EXPECT_EQ(v.frameStopwatch.frequency, 1000000000);
}

TEST(AppView, InitialUpdateMakesFramesAndTheDefaultView) {
    TestView t;
    AppView& v = t.view;
    EXPECT_EQ(v.frameImage.width, 350);
    EXPECT_EQ(v.frameImage.height, 350);
    EXPECT_EQ(v.frameImage.bytesPerPixel, 4);
    EXPECT_EQ(v.stereoImage.width, 350);
    EXPECT_EQ(v.targetImage, &v.frameImage);
    EXPECT_TRUE(v.needsRedraw);
    // No file: the camera looks along -z from the origin, box of side 2.
    expectNear(v.viewCamera.pos, {0, 0, 0}, 1e-6f, "pos");
    expectNear(v.viewCamera.dir, {0, 0, -1}, 1e-6f, "dir");
    expectNear(v.viewCamera.up, {0, 1, 0}, 1e-6f, "up");
    EXPECT_NEAR(v.keyStep, 0.011547f, 1e-6f);
    EXPECT_NEAR(v.moveScale, 4.0f * std::sqrt(3.0f), 1e-5f);
    expectNear(v.lookAtCentre, {0, 0, -1}, 1e-6f, "look-at centre");
    EXPECT_FLOAT_EQ(v.viewCamera.near, 0.1f);
    EXPECT_FLOAT_EQ(v.viewCamera.far, 10000.0f);
    EXPECT_FLOAT_EQ(v.viewCamera.fov, 0.7853982f);
    // Idle passes and paints with nothing open draw the background alone.
    EXPECT_EQ(v.OnIdle(), 0);
    v.OnDraw();
    EXPECT_FALSE(t.statusLines.empty());
    EXPECT_EQ(t.statusLines.back().rfind("hz: ", 0), 0u);
    EXPECT_EQ(v.frameImage.at(175, 175), 0xB2B2B2u);
}

TEST(AppView, LargerFrameSizeBeforeTheFirstUpdate) {
    AppView v;
    v.CreateFrameImages(512, 400);
    v.OnInitialUpdate();
    EXPECT_EQ(v.frameImage.width, 512);
    EXPECT_EQ(v.frameImage.height, 400);
    EXPECT_EQ(v.trackball.width, 512);
    EXPECT_EQ(v.trackball.height, 400);
}

struct DemoKind {
    const char* extension;
    std::int32_t mode;
};

// The frame of `strata render` from the view's camera with the view's settings.
imageutil::RgbImage renderedLikeTheCommandLine(const std::string& path, const AppView& v,
                                               bool high) {
    std::unique_ptr<ldi::LdiBase> object = ldi::LoadLdi(path);
    EXPECT_TRUE(object);
    const render::OutputView out = render::makeOutputView(
        v.viewCamera.pos, v.viewCamera.dir, v.viewCamera.up, v.viewCamera.fov, 350, 350);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(350, 350);
    ldi::FrameSettings settings;
    settings.highQualitySplats = high;
    ldi::DrawFrame(*object, settings, out, frame);
    return frame;
}

TEST(AppView, OpensEveryDemoFileAtItsReferenceCamera) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const DemoKind kinds[] = {{"ldibrtcp", 5},  {"ldibrtqp", 4},  {"ldibrtmrqp", 6},
                              {"ldirtffcp", 5}, {"ldirtffqp", 4}, {"ldirtffmrqp", 6},
                              {"ldiquad", 4}};
    for (const DemoKind& kind : kinds) {
        SCOPED_TRACE(kind.extension);
        TestView t;
        AppView& v = t.view;
        const std::string path = demo.file(kind.extension);
        ASSERT_TRUE(v.OpenFile(path));
        EXPECT_EQ(v.displayMode, kind.mode);
        EXPECT_EQ(v.ldiLoaded, 1);
        EXPECT_EQ(v.fullPath, path);
        EXPECT_EQ(v.fileTitle, std::string("demo.") + kind.extension);
        EXPECT_EQ(v.fileExt, kind.extension);
        ASSERT_FALSE(t.titles.empty());
        EXPECT_EQ(t.titles.back(), std::string("Strata Viewer -- demo.") + kind.extension);
        ASSERT_NE(v.ldi, nullptr);

        const ldi::LdiHeader& h = v.ldi->header;
        expectNear(v.viewCamera.pos, h.view.pos, 1e-4f, "pos");
        expectNear(v.viewCamera.dir, h.view.dir, 1e-5f, "dir");
        expectNear(v.viewCamera.up, h.view.up, 1e-5f, "up");
        expectNear(v.boundsMin, h.boundsMin, 0.0f, "boundsMin");
        expectNear(v.boundsMax, h.boundsMax, 0.0f, "boundsMax");
        const float diagonal = (h.boundsMax - h.boundsMin).length();
        EXPECT_FLOAT_EQ(v.keyStep, 0.0033333334f * diagonal);
        EXPECT_FLOAT_EQ(v.moveScale, 2.0f * diagonal);
        EXPECT_FLOAT_EQ(v.lookAtDepth, 0.0f);  // only pyramids and sets set it
        // The open hands the view's settings over.
        EXPECT_EQ(v.ldi->options.useDepthCorrection, 1);
        EXPECT_EQ(v.ldi->options.sizeAccurate, 0);
        EXPECT_EQ(v.ldi->options.falseColorMode, 0);

        // The first frame draws the default, the high-quality splats; then the basic mode.
        EXPECT_TRUE(v.highQualitySplats);
        ASSERT_TRUE(v.needsRedraw);
        for (const bool high : {true, false}) {
            SCOPED_TRACE(high ? "high quality" : "basic");
            v.highQualitySplats = high;
            v.needsRedraw = true;
            v.OnIdle();
            EXPECT_FALSE(v.needsRedraw);
            EXPECT_EQ(v.drawLdi, v.ldi);
            const imageutil::RgbImage expected = renderedLikeTheCommandLine(path, v, high);
            std::size_t same = 0;
            std::size_t background = 0;
            for (std::size_t i = 0; i < v.frameImage.pixelCount(); ++i) {
                same += v.frameImage.pixels[i] == expected.pixels[i] ? 1 : 0;
                background += v.frameImage.pixels[i] == 0xB2B2B2u ? 1 : 0;
            }
            // The blended footprints land on whole pixels, the same for matrices that differ in
            // their last bits; soft footprints weigh the samples' fractions, so a sample that
            // lies on a pixel's edge from its own camera may tip a few edge pixels the other way.
            const std::size_t tipped = high ? v.frameImage.pixelCount() / 2000 : 0;
            EXPECT_GE(same + tipped, v.frameImage.pixelCount());
            if (kind.mode == ModeLdiQp) {  // the scene is drawn (the kinds that draw today)
                EXPECT_LT(background, v.frameImage.pixelCount() * 9 / 10);
            }
        }
    }
}

TEST(AppView, FailedOpensKeepThePreviousDataAndSayWhy) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    TestView t;
    AppView& v = t.view;
    // Nothing open yet: a missing file leaves the view empty and says why.
    EXPECT_FALSE(v.OpenFile(demo.folder + "/missing.ldi"));
    EXPECT_EQ(v.ldiLoaded, 0);
    EXPECT_EQ(v.ldi, nullptr);
    EXPECT_FALSE(v.statusNote.empty());
    v.OnIdle();
    EXPECT_NE(t.statusLines.back().find("missing.ldi"), std::string::npos);

    ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
    const ldi::LdiBase* opened = v.ldi;
    EXPECT_TRUE(v.statusNote.empty());
    {
        std::FILE* text = std::fopen((demo.folder + "/notes.txt").c_str(), "wb");
        ASSERT_NE(text, nullptr);
        std::fputs("not an LDI\n", text);
        std::fclose(text);
    }
    for (const std::string& name : {std::string("missing.ldibrtcp"), std::string("notes.txt")}) {
        EXPECT_FALSE(v.OpenFile(demo.folder + "/" + name)) << name;
        EXPECT_EQ(v.ldi, opened);
        EXPECT_EQ(v.ldiLoaded, 1);
        EXPECT_EQ(v.displayMode, ModeLdiQp);
        v.OnIdle();
        EXPECT_EQ(v.drawLdi, opened);  // the previous data is still drawn
        EXPECT_NE(t.statusLines.back().find(name), std::string::npos);
    }
    // Extensions are matched ignoring case, as on the command line.
    const std::pair<const char*, std::int32_t> upperCase[] = {{"ldipyr", ModeLdiPyramid},
                                                              {"ldiset", ModeLdiSet},
                                                              {"vox", ModeVoxel},
                                                              {"ldiquad", ModeLdiQp},
                                                              {"ldibrtcp", ModeLdiCp}};
    for (const auto& [extension, mode] : upperCase) {
        std::string shouted = extension;
        for (char& c : shouted) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        const std::string upper = demo.folder + "/Copy." + shouted;
        std::filesystem::copy_file(demo.file(extension), upper,
                                   std::filesystem::copy_options::overwrite_existing);
        EXPECT_TRUE(v.OpenFile(upper)) << upper << ": " << v.statusNote;
        EXPECT_EQ(v.displayMode, mode) << upper;
    }
}

// A failed open keeps the picture, the title and the camera of what is shown, and says why in
// full; a failed first file shows the background and the reason.
TEST(AppView, FailedOpenKeepsTitleCameraAndPictureAndGivesTheWholeReason) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const std::string missing =
        demo.folder + "/a folder name long enough to be cut off by a status bar/missing.ldi";
    {
        TestView t(200, 100);
        AppView& v = t.view;
        const platform::DebugCapture quiet;
        EXPECT_FALSE(v.OpenFile(missing));
        EXPECT_TRUE(t.titles.empty());
        EXPECT_TRUE(v.needsRedraw);
        v.OnIdle();
        for (std::size_t i = 0; i < v.frameImage.pixelCount(); ++i) {
            ASSERT_EQ(v.frameImage.pixels[i], 0xB2B2B2u) << i;
        }
        ASSERT_FALSE(t.statusLines.empty());
        EXPECT_NE(t.statusLines.back().find(v.statusNote), std::string::npos);
        EXPECT_NE(v.statusNote.find(missing), std::string::npos) << v.statusNote;
    }
    TestView t(200, 100);
    AppView& v = t.view;
    const platform::DebugCapture quiet;
    for (const std::string& shown : {demo.file("ldibrtqp"), demo.file("ldipyr")}) {
        SCOPED_TRACE(shown);
        ASSERT_TRUE(v.OpenFile(shown));
        v.OnKeyDown(vk::kLeft);
        v.OnLButtonDown(100, 50, false, false);
        v.OnMouseMove(110, 45);
        v.OnLButtonUp(110, 45);
        v.OnIdle();
        const std::string title = t.titles.back();
        const std::size_t titles = t.titles.size();
        const geometry::ViewCamera camera = v.viewCamera;
        const std::vector<std::uint32_t> picture(v.frameImage.pixels,
                                                 v.frameImage.pixels + v.frameImage.pixelCount());
        for (const std::string& failed :
             {missing, demo.folder + "/missing.ldipyr", demo.folder + "/missing.ldiset"}) {
            EXPECT_FALSE(v.OpenFile(failed));
            EXPECT_EQ(t.titles.size(), titles);
            EXPECT_EQ(v.fileTitle + "", title.substr(title.find("-- ") + 3));
            EXPECT_EQ(v.viewCamera.pos, camera.pos);
            EXPECT_EQ(v.viewCamera.dir, camera.dir);
            v.OnIdle();
            EXPECT_EQ(std::vector<std::uint32_t>(v.frameImage.pixels,
                                                 v.frameImage.pixels + v.frameImage.pixelCount()),
                      picture);
            const std::string name = failed.substr(failed.rfind('/') + 1);
            EXPECT_NE(t.statusLines.back().find(name), std::string::npos) << t.statusLines.back();
        }
    }
}

// ---- The command table ----------------------------------------------------------------------

struct Expectation {
    int id;
    const char* text;
    std::function<std::int64_t(const AppView&)> field;
    std::int64_t after;  // value after one command from the defaults
    bool redraw;
    // The value the current LDI holds afterwards (-1: not handed over).
    std::function<std::int64_t(const ldi::LdiRenderOptions&)> handed;
    bool checkedAfter;
};

std::vector<Expectation> expectations() {
    using O = ldi::LdiRenderOptions;
    return {
        {34001, "Instrument", [](const AppView& v) { return v.instrument; }, 1, false, nullptr,
         true},
        {34002, "Use Single Precision", [](const AppView& v) { return v.useSinglePrecision; }, 0,
         true, nullptr, false},
        {34003, "Use Trunc", [](const AppView& v) { return v.useTrunc; }, 0, true, nullptr, false},
        {34004, "Threads: Automatic", [](const AppView& v) { return v.drawThreads; }, 0, true,
         nullptr, true},
        {34005, "Threads: 1", [](const AppView& v) { return v.drawThreads; }, 1, true, nullptr,
         true},
        {34006, "Threads: 2", [](const AppView& v) { return v.drawThreads; }, 2, true, nullptr,
         true},
        {34007, "Threads: 4", [](const AppView& v) { return v.drawThreads; }, 4, true, nullptr,
         true},
        {35000, "Orbit Behind", [](const AppView& v) { return v.orbitBehind; }, 1, false, nullptr,
         true},
        {35001, "Orbit In Front", [](const AppView& v) { return v.orbitBehind; }, 0, false, nullptr,
         true},
        {35002, "Relative Mouse", [](const AppView& v) { return v.relativeMouse; }, 1, false,
         nullptr, true},
        {35003, "Constant Velocity Mouse", [](const AppView& v) { return v.relativeMouse; }, 0,
         false, nullptr, true},
        {35004, "Restrict Movement", [](const AppView& v) { return v.restrictMovement; }, 1, false,
         nullptr, true},
        {37000, "Use False Color", [](const AppView& v) { return v.useFalseColor; }, 1, true,
         [](const O& o) { return o.useFalseColor; }, true},
        {37001, "1 - Depth from Camera 1", [](const AppView& v) { return v.falseColorMode; }, 1,
         true, [](const O& o) { return o.falseColorMode; }, true},
        {37002, "2 - Depth from Camera 2", [](const AppView& v) { return v.falseColorMode; }, 2,
         true, [](const O& o) { return o.falseColorMode; }, true},
        {37003, "3 - Backface cull", [](const AppView& v) { return v.falseColorMode; }, 3, true,
         [](const O& o) { return o.falseColorMode; }, true},
        {37004, "4 - Normal", [](const AppView& v) { return v.falseColorMode; }, 4, true,
         [](const O& o) { return o.falseColorMode; }, true},
        {37005, "5 - Size - Approximate", [](const AppView& v) { return v.falseColorMode; }, 5,
         true, [](const O& o) { return o.falseColorMode; }, true},
        {37006, "6 - Size - Accurate", [](const AppView& v) { return v.sizeAccurate; }, 1, true,
         [](const O& o) { return o.sizeAccurate; }, true},
        {37007, "7 - Size - Anisotropic", [](const AppView& v) { return v.falseColorMode; }, 7,
         true, [](const O& o) { return o.falseColorMode; }, true},
        {37008, "8 - Layer", [](const AppView& v) { return v.falseColorMode; }, 8, true,
         [](const O& o) { return o.falseColorMode; }, true},
        {37009, "9 - Uncovered", [](const AppView& v) { return v.falseColorMode; }, 9, true,
         [](const O& o) { return o.falseColorMode; }, true},
        {36000, "Use Splat", [](const AppView& v) { return v.useSplat; }, 0, true, nullptr, false},
        {36020, "High Quality Splats", [](const AppView& v) { return v.highQualitySplats; }, 0,
         true, nullptr, false},
        {36001, "Use Depth Correction", [](const AppView& v) { return v.useDepthCorrection; }, 0,
         true, [](const O& o) { return o.useDepthCorrection; }, false},
        {36002, "Backface Culling", [](const AppView& v) { return v.backfaceCulling; }, 1, true,
         [](const O& o) { return o.backfaceCulling; }, true},
        {36003, "Scanline Culling", [](const AppView& v) { return v.scanlineCulling; }, 1, true,
         [](const O& o) { return o.scanlineCulling; }, true},
        {36004, "Frustum Clipper", [](const AppView& v) { return v.frustumClipper; }, 0, true,
         [](const O& o) { return o.frustumClipper; }, false},
        {36005, "Front Sement", [](const AppView& v) { return v.frontSegment; }, 0, true, nullptr,
         false},
        {36006, "Back Segment", [](const AppView& v) { return v.backSegment; }, 1, true, nullptr,
         true},
        {36007, "Environment Map", [](const AppView& v) { return v.environmentMap; }, 1, true,
         nullptr, true},
        {36008, "LDP", [](const AppView& v) { return v.useLdp; }, 1, true, nullptr, true},
        {39000, "Black", [](const AppView& v) { return v.backgroundColor; }, 0x000000, true,
         nullptr, true},
        {39001, "Grey", [](const AppView& v) { return v.backgroundColor; }, 0xB2B2B2, true, nullptr,
         true},
        {39002, "White", [](const AppView& v) { return v.backgroundColor; }, 0xFFFFFF, true,
         nullptr, true},
        {39003, "Blue", [](const AppView& v) { return v.backgroundColor; }, 0x7F9FEF, true, nullptr,
         true},
        {39004, "Horizon", [](const AppView& v) { return v.horizonBackground; }, 1, true, nullptr,
         true},
        {38000, "None", [](const AppView& v) { return v.stereoMode; }, 0, true, nullptr, true},
        {38002, "Color", [](const AppView& v) { return v.stereoMode; }, 1, true, nullptr, true},
        {38001, "Monochromatic", [](const AppView& v) { return v.stereoMode; }, 2, true, nullptr,
         true},
        {40000, "Run test", [](const AppView& v) { return v.benchFlag; }, 1, false,
         [](const O& o) { return o.benchFlag; }, false},
    };
}

TEST(AppCommands, EveryCommandSetsItsFieldHandsItOverAndRedrawsAsListed) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    const std::vector<Expectation> all = expectations();
    // Every command of the table is expected, and nothing else.
    // + RESET, Save View..., Load View..., Restore Default Settings
    EXPECT_EQ(all.size() + 4, commandTable().size());
    for (const Expectation& e : all) {
        SCOPED_TRACE(e.text);
        const CommandInfo* info = findCommand(e.id);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->text, e.text);
        for (const bool withFile : {false, true}) {
            TestView t;
            AppView& v = t.view;
            platform::DebugCapture quiet;
            if (withFile) {
                ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
            }
            v.needsRedraw = false;
            v.OnCommand(e.id);
            EXPECT_EQ(e.field(v), e.after);
            EXPECT_EQ(v.needsRedraw, e.redraw);
            EXPECT_EQ(v.IsChecked(e.id), e.checkedAfter);
            if (withFile && e.handed) {
                EXPECT_EQ(e.handed(v.ldi->options), e.after);
            }
        }
    }
}

TEST(AppCommands, TogglesReturnAndGroupsAssignOneField) {
    TestView t;
    AppView& v = t.view;
    for (const CommandInfo& c : commandTable()) {
        if (c.kind != CommandKind::toggle) {
            continue;
        }
        const bool before = v.IsChecked(c.id);
        v.OnCommand(c.id);
        EXPECT_NE(v.IsChecked(c.id), before) << c.text;
        v.OnCommand(c.id);
        EXPECT_EQ(v.IsChecked(c.id), before) << c.text;
    }
    // Size modes set the accuracy too; modes and the false-colour switch are independent.
    v.OnCommand(37006);
    v.OnCommand(37005);
    EXPECT_EQ(v.sizeAccurate, 0);
    EXPECT_EQ(v.falseColorMode, 5);
    EXPECT_FALSE(v.useFalseColor);
    // Any background other than Horizon clears the horizon.
    v.OnCommand(39004);
    EXPECT_EQ(v.backgroundColor, 0x7F9FEFu);
    v.OnCommand(39003);
    EXPECT_FALSE(v.horizonBackground);
    EXPECT_EQ(v.backgroundColor, 0x7F9FEFu);
    // One thread count is checked at a time, and the frame draws on that many threads.
    v.OnCommand(34005);
    EXPECT_TRUE(v.IsChecked(34005));
    EXPECT_FALSE(v.IsChecked(34004));
    v.DrawFrame();
    EXPECT_EQ(platform::drawThreads(), 1);
    v.OnCommand(34006);
    v.DrawFrame();
    EXPECT_EQ(platform::drawThreads(), 2);
    v.OnCommand(34004);
    v.DrawFrame();
    EXPECT_EQ(platform::drawThreads(), platform::defaultThreadCount());
    // Stereo check marks follow the one field.
    v.OnCommand(38001);
    EXPECT_FALSE(v.IsChecked(38000));
    EXPECT_FALSE(v.IsChecked(38002));
    EXPECT_TRUE(v.IsChecked(38001));
    EXPECT_FALSE(v.IsChecked(12345));
    v.OnCommand(12345);  // unknown ids do nothing
}

TEST(AppCommands, MenusInOrderWithTheirTexts) {
    std::vector<std::string> menus;
    for (const CommandInfo& c : commandTable()) {
        if (menus.empty() || menus.back() != c.menu) {
            menus.emplace_back(c.menu);
        }
    }
    const std::vector<std::string> expected{"&File", "Options",    "Control", "LDIs", "False Color",
                                            "LDIs",  "Background", "Stereo",  "Bench"};
    EXPECT_EQ(menus, expected);
    std::vector<int> stereo;
    for (const CommandInfo& c : commandTable()) {
        if (c.menu == "Stereo") {
            stereo.push_back(c.id);
        }
    }
    EXPECT_EQ(stereo, (std::vector<int>{38000, 38002, 38001}));
}

// ---- Bench and the instrumented frame -------------------------------------------------------

TEST(AppBench, RunTestPrintsTheTableAndAlternatesTheBenchFlag) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    TestView t;
    AppView& v = t.view;
    ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
    t.fake->counts = {{0x60790300u, 4294967396}};  // above 2^32: printed in full
    const int blits = t.blits;
    v.needsRedraw = false;
    {
        platform::DebugCapture capture;
        v.OnCommand(kIdRunTest);
        ASSERT_EQ(capture.pieces().size(), 8u);
        EXPECT_EQ(capture.pieces()[0], "-------------------------------------\n");
        EXPECT_EQ(capture.pieces()[1], "P6_CLOCK:    4294967396 \tClockticks\n");
        EXPECT_EQ(capture.pieces()[2], "P6_DMREF:             0 \tData Memory References\n");
        EXPECT_EQ(capture.pieces()[6], "P6_L2ALO:             0 \tL2 Lines Allocated\n");
        EXPECT_EQ(capture.pieces()[7], "-------------------------------------\n");
    }
    EXPECT_EQ(v.ldi->options.benchFlag, 1);
    EXPECT_FALSE(v.needsRedraw);
    EXPECT_EQ(t.blits, blits + 1);
    EXPECT_EQ(v.counterTable.events, (std::vector<std::int32_t>{48, 24, 25, 23, 22, 12}));
    EXPECT_EQ(v.counterTable.totals[0], 4294967396);
    {
        platform::DebugCapture capture;
        v.OnCommand(kIdRunTest);
    }
    EXPECT_EQ(v.ldi->options.benchFlag, 0);
    EXPECT_FALSE(v.benchFlag);
}

TEST(AppBench, InstrumentedFrameDrawsThreeTimesAndPrintsTheTable) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    TestView t;
    AppView& v = t.view;
    ASSERT_TRUE(v.OpenFile(demo.file("ldibrtcp")));
    v.OnCommand(34001);
    platform::DebugCapture capture;
    v.OnIdle();
    EXPECT_EQ(capture.pieces().size(), 8u);
    // Three passes read two counters each.
    EXPECT_EQ(t.fake->reads, 6);
    EXPECT_EQ(t.statusLines.back().rfind("hz: ", 0), 0u);

    // Without counters the table still prints, after one line that says so.
    TestView none;
    none.fake->openResult = false;
    ASSERT_TRUE(none.view.OpenFile(demo.file("ldibrtcp")));
    capture.clear();
    none.view.OnCommand(kIdRunTest);
    ASSERT_EQ(capture.pieces().size(), 9u);
    EXPECT_EQ(capture.pieces()[0].rfind("performance counters unavailable", 0), 0u);
}

}  // namespace
}  // namespace strata::app
