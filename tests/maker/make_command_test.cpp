// End-to-end runs of `strata make` and `strata trace`: the files they write, their pictures and
// their refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_qp.h"
#include "maker_test_util.h"

namespace strata::maker {
namespace {

using testing::run;

TEST(MakeCommand, DemoWithoutKindWritesEveryKindIntoTheFolder) {
    const testing::ScratchFolder scratch("cli_all");
    const std::string folder = scratch.path + "/out";
    std::string output;
    ASSERT_EQ(run("make demo --size 24 --levels 2 --members 2 -o " + folder, &output), 0);
    for (const char* name :
         {"demo.ldibrtcp", "demo.ldibrtqp", "demo.ldibrtmrqp", "demo.ldirtffcp", "demo.ldirtffqp",
          "demo.ldirtffmrqp", "demo.ldiquad", "demo_top.ldibrtqp", "demo_bot.ldibrtqp",
          "demo.ldipyr", "demo_l0.ldibrtqp", "demo_l1.ldibrtqp", "demo.ldiset", "demo_m0.ldipyr",
          "demo_m1_l1.ldibrtqp"}) {
        EXPECT_TRUE(std::filesystem::exists(folder + "/" + name)) << name;
    }
    // One summary line per file: file, kind, grid, depth pixels, layers, rays per second.
    EXPECT_NE(output.find(folder + "/demo.ldibrtqp: rt-qp 24x24, "), std::string::npos) << output;
    EXPECT_NE(output.find(" depth pixels, layers mean "), std::string::npos);
    EXPECT_NE(output.find(" rays/s\n"), std::string::npos);
}

TEST(MakeCommand, TraceWithTheDefaultCameraIsTheFrontLayerOfMake) {
    const testing::ScratchFolder scratch("cli_trace");
    const std::string folder = scratch.path;
    ASSERT_EQ(run("make demo --kind rt-qp --size 40 -o " + folder + "/d.ldibrtqp"), 0);
    ASSERT_EQ(run("trace demo --size 40x40 -o " + folder + "/t.png"), 0);
    imageutil::RgbImage picture;
    ASSERT_TRUE(imageutil::readPng(folder + "/t.png", picture));
    ASSERT_EQ(picture.width, 40);
    auto ldi = ldi::LoadLdi(folder + "/d.ldibrtqp");
    auto* qp = dynamic_cast<ldi::LdiRtQp*>(ldi.get());
    ASSERT_TRUE(qp);
    for (int row = 0; row < 40; ++row) {
        for (int column = 0; column < 40; ++column) {
            const int n = qp->LayerCount(row, column);
            const std::uint32_t expected =
                n == 0 ? 0xB2B2B2u
                       : qp->pixels[2 * (qp->rowStart[row] + qp->layerOffset[row * 41 + column] +
                                         n - 1)];
            EXPECT_EQ(picture.at(column, row) & 0xFFFFFFu, expected) << row << "," << column;
        }
    }
}

TEST(MakeCommand, TraceWritesBmpForABmpNameAndHonoursTheBackground) {
    const testing::ScratchFolder scratch("cli_bmp");
    const std::string folder = scratch.path;
    ASSERT_EQ(run("trace demo --size 16x8 --bg 0x102030 --dir 0,1,0 --up 0,0,-1 -o " + folder +
                  "/sky.bmp"),
              0);
    imageutil::RgbImage picture;
    ASSERT_TRUE(picture.load(folder + "/sky.bmp"));
    EXPECT_EQ(picture.width, 16);
    EXPECT_EQ(picture.height, 8);
    EXPECT_EQ(picture.at(3, 5) & 0xFFFFFFu, 0x102030u);  // looking up from above the scene
}

TEST(MakeCommand, RefusesBadInputWithAnExitStatus) {
    const testing::ScratchFolder scratch("cli_bad");
    const std::string folder = scratch.path;
    EXPECT_EQ(run("make demo --kind nonsense -o " + folder + "/x"), 2);
    EXPECT_EQ(run("make " + folder + "/missing.obj --kind rt-qp -o " + folder + "/x"), 1);
    EXPECT_EQ(run("make demo --kind rt-qp --layers 256 -o " + folder + "/x"), 1);
    EXPECT_EQ(run("make demo --kind rt-qp --pos 1,2 -o " + folder + "/x"), 1);
    EXPECT_EQ(run("trace demo --size 0x4 -o " + folder + "/t.png"), 1);
    EXPECT_EQ(run("trace demo --bg red -o " + folder + "/t.png"), 1);
    EXPECT_EQ(run("trace demo --dir 0,1,0 --up 0,2,0 -o " + folder + "/t.png"), 1);
    EXPECT_FALSE(std::filesystem::exists(folder + "/x"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/t.png"));
}

}  // namespace
}  // namespace strata::maker
