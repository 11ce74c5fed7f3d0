// Save View... and Load View...: camera files written by the viewer, read back by it and by
// `strata render --camera`.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/app_commands.h"
#include "app/app_test_support.h"
#include "app/app_view.h"
#include "imageutil/png_file.h"
#include "platform/debug_output.h"

namespace strata::app {
namespace {

using testing::DemoSet;
using testing::expectNear;
using testing::TestView;

std::size_t differing(const imageutil::RgbImage& a, const imageutil::RgbImage& b) {
    if (a.pixelCount() != b.pixelCount()) {
        return ~std::size_t{0};
    }
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.pixelCount(); ++i) {
        n += (a.pixels[i] & 0xFFFFFFu) != (b.pixels[i] & 0xFFFFFFu) ? 1 : 0;
    }
    return n;
}

TEST(AppViewFile, SavedViewLoadsBackAndRendersOnTheCommandLine) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    TestView t;
    AppView& v = t.view;
    platform::DebugCapture quiet;
    ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
    // Turned and moved, so that no axis is a world axis.
    v.OnLButtonDown(175, 175, true, false);
    v.OnMouseMove(190, 168);
    v.OnLButtonUp(190, 168);
    v.OnKeyDown(vk::kLeft);
    v.OnKeyDown(vk::kUp);
    v.OnIdle();
    const geometry::ViewCamera saved = v.viewCamera;
    const imageutil::RgbImage before = v.frameImage;
    const std::string file = demo.folder + "/view.json";
    std::string error;
    ASSERT_TRUE(v.SaveView(file, error)) << error;

    v.OnCommand(kIdReset);
    v.OnIdle();
    EXPECT_GT(differing(before, v.frameImage), 0u);
    ASSERT_TRUE(v.LoadView(file, error)) << error;
    EXPECT_TRUE(v.needsRedraw);
    expectNear(v.viewCamera.pos, saved.pos, 1e-5f, "pos");
    expectNear(v.viewCamera.dir, saved.dir, 1e-5f, "dir");
    expectNear(v.viewCamera.up, saved.up, 1e-5f, "up");
    EXPECT_NEAR(v.viewCamera.fov, saved.fov, 1e-6f);
    v.OnIdle();
    EXPECT_LE(differing(before, v.frameImage), before.pixelCount() / 100);
    // Navigation goes on from the loaded view.
    v.OnKeyDown(vk::kUp);
    EXPECT_GT((v.viewCamera.pos - saved.pos).length(), 0.0f);

    // The same file on the command line gives the viewer's picture.
    const std::string png = demo.folder + "/view.png";
    const std::string command = std::string(STRATA_BINARY_DIR) + "/src/tools/strata render " +
                                demo.file("ldibrtqp") + " --camera " + file + " -o " + png +
                                " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    imageutil::RgbImage rendered;
    ASSERT_TRUE(imageutil::readPng(png, rendered, &error)) << error;
    EXPECT_LE(differing(before, rendered), before.pixelCount() / 100);
}

TEST(AppViewFile, CommandsAskTheShellAndReportFailures) {
    const DemoSet& demo = DemoSet::get();
    ASSERT_TRUE(demo.ok);
    TestView t;
    AppView& v = t.view;
    platform::DebugCapture quiet;
    ASSERT_TRUE(v.OpenFile(demo.file("ldibrtqp")));
    // Without a shell to ask, and when the choice is cancelled, nothing happens.
    v.OnCommand(kIdSaveView);
    std::vector<int> asked;
    std::string answer;
    v.onChooseFile = [&](int id) {
        asked.push_back(id);
        return answer;
    };
    v.OnCommand(kIdLoadView);
    EXPECT_EQ(asked, (std::vector<int>{kIdLoadView}));

    answer = demo.folder + "/chosen.json";
    v.OnCommand(kIdSaveView);
    std::ifstream in(answer);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\"width\": 350"), std::string::npos) << text;

    // A hand-edited file without "up": one status line naming the field; the camera stays.
    answer = demo.folder + "/broken.json";
    std::ofstream(answer) << R"({"position": [0, 0, 9], "direction": [0, 0, -1],
        "fovDegrees": 45, "near": 0.1, "far": 100, "width": 350, "height": 350})";
    const geometry::Vector3 pos = v.viewCamera.pos;
    t.statusLines.clear();
    v.needsRedraw = false;
    v.OnCommand(kIdLoadView);
    ASSERT_EQ(t.statusLines.size(), 1u);
    EXPECT_NE(t.statusLines[0].find("field \"up\" is missing"), std::string::npos)
        << t.statusLines[0];
    expectNear(v.viewCamera.pos, pos, 0.0f, "pos");
    EXPECT_FALSE(v.needsRedraw);
}

}  // namespace
}  // namespace strata::app
