// Pyramids, sets and voxel files in the viewer: the dispatch by extension, the reset of modes 10
// and 11, the level keys, ownership across opens, and frames equal to `strata render`.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/app_commands.h"
#include "app/app_view.h"
#include "app_test_support.h"
#include "imageutil/png_file.h"
#include "platform/debug_output.h"

namespace strata::app {
namespace {

using geometry::Vector3;
using testing::DemoSet;
using testing::expectNear;
using testing::OpenedView;
using testing::TestView;

TEST(AppLayered, PyramidOpensAtTheReferenceCameraOfItsLevel) {
    OpenedView t("ldipyr");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    EXPECT_EQ(v.displayMode, ModeLdiPyramid);
    EXPECT_EQ(v.ldiLoaded, 1);
    ASSERT_TRUE(v.pyramid);
    ASSERT_NE(v.ldi, nullptr);
    EXPECT_EQ(v.ldi, v.pyramid->CurrentLdi());
    EXPECT_EQ(t.titles.back(), "Strata Viewer -- demo.ldipyr");
    const ldi::LdiHeader& h = v.ldi->header;
    const float depth = h.boundsMax.z - h.boundsMin.z;
    EXPECT_FLOAT_EQ(v.lookAtDepth, depth);
    expectNear(v.navPosition, h.view.pos, 0.0f, "navigation position");
    expectNear(v.viewCamera.pos, h.view.pos, 1e-4f, "camera");
    expectNear(v.viewCamera.dir, geometry::normalized(h.view.dir), 1e-5f, "dir");
    EXPECT_FLOAT_EQ(v.keyStep, 0.0033333334f * (h.boundsMax - h.boundsMin).length());
    // The open hands the settings to the current level.
    EXPECT_EQ(v.ldi->options.useDepthCorrection, 1);
    v.OnIdle();
    EXPECT_NE(v.drawLdi, nullptr);

    // Level keys: keypad 3 with two levels clamps to the last one.
    ASSERT_EQ(v.pyramid->levelCount, 2);
    v.OnKeyDown(0x63);
    EXPECT_EQ(v.pyramid->currentLevel, 1);
    EXPECT_EQ(v.ldi, v.pyramid->levels[1].get());
    EXPECT_TRUE(v.freezeSelection);
    v.OnIdle();
    EXPECT_EQ(v.drawLdi, v.pyramid->levels[1].get());  // frozen: the level stays
    v.OnKeyDown(0x60);
    EXPECT_EQ(v.ldi, v.pyramid->levels[0].get());
}

// A level the frame driver chooses but that did not load: the frame keeps the last picture and
// the status line says which level and why; a loaded level draws again.
TEST(AppLayered, AChosenLevelThatDidNotLoadKeepsTheLastPicture) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    ldi::LdiPyramid source;
    source.reportErrors = false;
    ASSERT_EQ(source.OpenPyramid(demo.file("ldipyr")), 1);
    const std::string list = demo.folder + "/with_gone_level.ldipyr";
    {
        std::FILE* file = std::fopen(list.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "2 %s 1 gone_level.ldi 1\n",
                     std::filesystem::path(source.levelPath(0)).filename().c_str());
        std::fclose(file);
    }
    TestView t;
    AppView& v = t.view;
    const platform::DebugCapture quiet;
    ASSERT_TRUE(v.OpenFile(list)) << v.statusNote;
    v.pyramid->levelDistance = {1.0f, 1e30f};  // level 0 for every camera
    v.needsRedraw = true;
    v.OnIdle();
    ASSERT_EQ(v.pyramid->currentLevel, 0);
    const std::vector<std::uint32_t> drawn(
        v.frameImage.pixels, v.frameImage.pixels + v.frameImage.width * v.frameImage.height);
    v.pyramid->levelDistance = {-2.0f, -1.0f};  // level 1 for every camera
    v.needsRedraw = true;
    v.OnIdle();
    EXPECT_EQ(v.pyramid->currentLevel, 1);
    EXPECT_NE(v.choiceFailure.find("level 1 of the pyramid did not load: "), std::string::npos)
        << v.choiceFailure;
    EXPECT_NE(t.statusLines.back().find("level 1 of the pyramid did not load"), std::string::npos)
        << t.statusLines.back();
    EXPECT_TRUE(std::equal(drawn.begin(), drawn.end(), v.frameImage.pixels));
    v.pyramid->levelDistance = {1.0f, 1e30f};
    v.needsRedraw = true;
    v.OnIdle();
    EXPECT_EQ(v.choiceFailure, "");
    std::filesystem::remove(list);
}

TEST(AppLayered, ObjectsOfEveryKindStayOwnedAcrossOpens) {
    OpenedView t("ldibrtqp");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    const DemoSet& demo = DemoSet::get();
    const ldi::LdiBase* single = v.singleLdi.get();
    ASSERT_TRUE(v.OpenFile(demo.file("ldipyr")));
    EXPECT_EQ(v.singleLdi.get(), single);  // kept, not freed through ldi
    EXPECT_NE(v.ldi, single);
    ASSERT_TRUE(v.OpenFile(demo.file("ldiset"))) << v.statusNote;
    EXPECT_EQ(v.displayMode, ModeLdiSet);
    ASSERT_TRUE(v.ldiSet);
    EXPECT_TRUE(v.pyramid);  // other kinds stay loaded
    v.OnIdle();
    ASSERT_NE(v.drawLdi, nullptr);
    // A second set replaces the first; nothing points into the old one.
    ASSERT_TRUE(v.OpenFile(demo.file("ldiset")));
    v.OnIdle();
    EXPECT_EQ(v.drawLdi, v.ldiSet->CurrentPyramid()->CurrentLdi());
    // A pyramid that does not open keeps the set on screen.
    EXPECT_FALSE(v.OpenFile(demo.folder + "/missing.ldipyr"));
    EXPECT_EQ(v.displayMode, ModeLdiSet);
    v.OnIdle();
    EXPECT_NE(v.drawLdi, nullptr);
    EXPECT_NE(t.statusLines.back().find("missing.ldipyr"), std::string::npos);
    // Back to a single LDI: mode 4, the new object current.
    ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
    EXPECT_EQ(v.displayMode, ModeLdiQp);
    EXPECT_EQ(v.ldi, v.singleLdi.get());
}

TEST(AppLayered, VoxelFileDrawsInModeSeven) {
    OpenedView t("vox");
    ASSERT_TRUE(t.opened) << t.view.statusNote;
    AppView& v = t.view;
    const DemoSet& demo = DemoSet::get();
    EXPECT_EQ(v.displayMode, ModeVoxel);
    ASSERT_TRUE(v.voxelModel);
    // The voxel reset: the default view.
    expectNear(v.viewCamera.pos, {0, 0, 0}, 0.0f, "pos");
    expectNear(v.viewCamera.dir, {0, 0, -1}, 1e-6f, "dir");
    v.OnIdle();
    std::size_t drawn = 0;
    for (std::size_t i = 0; i < v.frameImage.pixelCount(); ++i) {
        drawn += v.frameImage.pixels[i] != 0xB2B2B2u ? 1 : 0;
    }
    EXPECT_GT(drawn, 0u);
    // A voxel file that does not convert keeps the model.
    EXPECT_FALSE(v.OpenFile(demo.folder + "/missing.vox"));
    EXPECT_TRUE(v.voxelModel);
    EXPECT_EQ(v.displayMode, ModeVoxel);
}

// The frame of `strata render` from the view's camera, as a count of differing pixels.
std::size_t differingFromRender(const AppView& v, const std::string& file, const std::string& png) {
    const geometry::ViewCamera& c = v.viewCamera;
    char flags[512];
    std::snprintf(flags, sizeof flags,
                  " --pos %.9g,%.9g,%.9g --dir %.9g,%.9g,%.9g --up %.9g,%.9g,%.9g --fov 45",
                  c.pos.x, c.pos.y, c.pos.z, c.dir.x, c.dir.y, c.dir.z, c.up.x, c.up.y, c.up.z);
    const std::string command = std::string(STRATA_BINARY_DIR) + "/src/tools/strata render " +
                                file + flags + " -o " + png + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (pipe == nullptr) {
        return ~std::size_t{0};
    }
    char line[512];
    std::string out;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        out += line;
    }
    EXPECT_EQ(::pclose(pipe), 0) << out;
    imageutil::RgbImage rendered;
    std::string error;
    EXPECT_TRUE(imageutil::readPng(png, rendered, &error)) << error;
    if (rendered.pixelCount() != v.frameImage.pixelCount()) {
        return ~std::size_t{0};
    }
    std::size_t differing = 0;
    for (std::size_t i = 0; i < rendered.pixelCount(); ++i) {
        differing += (rendered.pixels[i] & 0xFFFFFFu) != (v.frameImage.pixels[i] & 0xFFFFFFu);
    }
    return differing;
}

TEST(AppLayered, FramesEqualTheRenderCommandForEveryKind) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    for (const char* extension : {"ldirtffqp", "ldiquad", "ldipyr", "ldiset", "vox"}) {
        SCOPED_TRACE(extension);
        TestView t;
        AppView& v = t.view;
        platform::DebugCapture quiet;
        ASSERT_TRUE(v.OpenFile(demo.file(extension)));
        // Move so that pyramids and sets see the scene (their reset looks along +y).
        v.OnKeyDown(vk::kLeft);
        v.OnIdle();
        const std::string png =
            (std::filesystem::path(demo.folder) / (std::string("check_") + extension + ".png"))
                .string();
        // The command line rebuilds its matrices from the printed camera: a last-bit difference
        // may move a handful of splat edges, never the picture.
        EXPECT_LE(differingFromRender(v, demo.file(extension), png),
                  v.frameImage.pixelCount() / 200);
    }
}

}  // namespace
}  // namespace strata::app
