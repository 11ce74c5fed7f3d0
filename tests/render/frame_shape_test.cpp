// Wide and tall output frames against `strata trace`: pixels are square in both (the view angle
// spans the frame's smaller side), so a square seen head-on covers as many columns as rows, and
// from the LDI's own camera a wide or tall picture is the square one with more scene around it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "command_run.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"

namespace {

using strata::testing::CommandRun;

const std::string kStrata = std::string(STRATA_BINARY_DIR) + "/src/tools/strata";

CommandRun run(const std::string& arguments) {
    return strata::testing::runCommand(kStrata + " " + arguments + " 2>&1");
}

// A red square of side 1 in the plane z = 0, centred on the origin, and the camera that looks
// at it head-on from distance 3 with a 45-degree view angle.
constexpr const char* kSquareCamera = " --pos 0,0,3 --dir 0,0,-1 --up 0,1,0 --fov 45";

bool writeSquareMesh(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    std::fputs(
        "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
        "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
        "element face 2\nproperty list uchar int vertex_indices\nend_header\n"
        "-0.5 -0.5 0 255 0 0\n0.5 -0.5 0 255 0 0\n0.5 0.5 0 255 0 0\n-0.5 0.5 0 255 0 0\n"
        "3 0 1 2\n3 0 2 3\n",
        f);
    return std::fclose(f) == 0;
}

struct Extent {
    int columns = 0;
    int rows = 0;
};

// Columns and rows of the bounding box of the pixels that are not the background grey.
Extent drawnExtent(const std::string& path, int width, int height) {
    strata::imageutil::RgbImage image;
    std::string error;
    EXPECT_TRUE(strata::imageutil::readPng(path, image, &error, width, height)) << error;
    int x0 = width, x1 = -1, y0 = height, y1 = -1;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if ((image.pixels[static_cast<std::size_t>(y) * image.width + x] & 0xFFFFFFu) !=
                0xB2B2B2u) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
        }
    }
    return {x1 - x0 + 1, y1 - y0 + 1};
}

class FrameShape : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::filesystem::temp_directory_path() /
               ("strata_frame_shape_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        ASSERT_TRUE(writeSquareMesh(path("square.ply")));
        const CommandRun square = run("make " + path("square.ply") + " --size 128 --kind rt-qp" +
                                      kSquareCamera + " -o " + path("square"));
        ASSERT_EQ(square.status, 0) << square.out;
        const CommandRun demo = run("make demo --size 128 --kind rt-qp -o " + path("demo"));
        ASSERT_EQ(demo.status, 0) << demo.out;
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }
    // The file the maker wrote for a stem (it may add its own extension).
    static std::string made(const std::string& stem) {
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            if (entry.path().stem() == stem && entry.path().extension() != ".ply") {
                return entry.path().string();
            }
        }
        return path(stem);
    }
    static std::filesystem::path dir_;
};
std::filesystem::path FrameShape::dir_;

// The square spans tan = 1/6 on each axis; with fov across the smaller side S a pixel spans
// 2 tan(22.5 deg) / S, so the square covers S / (6 tan(22.5 deg)) pixels each way.
TEST_F(FrameShape, SquareCoversAsManyColumnsAsRowsInRenderAndTrace) {
    const double t = std::tan(0.39269908169872414);
    for (const auto& [width, height] :
         {std::pair{350, 350}, std::pair{700, 350}, std::pair{350, 700}, std::pair{1920, 1080}}) {
        const std::string size = " --size " + std::to_string(width) + "x" + std::to_string(height);
        const double expected = std::min(width, height) / (6.0 * t);
        const CommandRun traced =
            run("trace " + path("square.ply") + size + kSquareCamera + " -o " + path("st.png"));
        ASSERT_EQ(traced.status, 0) << traced.out;
        const CommandRun drawn = run("render " + made("square") + size + kSquareCamera +
                                     " --quality basic -o " + path("sr.png"));
        ASSERT_EQ(drawn.status, 0) << drawn.out;
        // The drawn square's border samples splat over up to half an LDI pixel's footprint
        // (S / 128 output pixels) beyond the edge.
        const double splat = std::min(width, height) / 128.0;
        for (const auto& [picture, slack] :
             {std::pair{"st.png", 2.0}, std::pair{"sr.png", 2.0 + splat}}) {
            const Extent e = drawnExtent(path(picture), width, height);
            const std::string what = std::string(picture) + size;
            EXPECT_LE(std::abs(e.columns - e.rows), 1) << what;
            EXPECT_NEAR(e.columns, expected, slack) << what;
            EXPECT_NEAR(e.rows, expected, slack) << what;
        }
    }
}

// From the LDI's own camera each front-layer sample lands on the pixel the tracer's ray goes
// through when the smaller side keeps the LDI's resolution: the square picture equals the trace
// exactly, and wide and tall ones up to a pixel or two where the tracer's ray and the warp
// round a pixel-centre coordinate differently.
TEST_F(FrameShape, WideAndTallPicturesFromTheReferenceCameraEqualTheTrace) {
    for (const char* size : {"128x128", "256x128", "128x256", "200x128"}) {
        const CommandRun traced =
            run(std::string("trace demo --size ") + size + " -o " + path("dt.png"));
        ASSERT_EQ(traced.status, 0) << traced.out;
        const CommandRun drawn = run("render " + made("demo") + " --size " + size +
                                     " --fov 45 --no-splat --quality basic -o " + path("dr.png") +
                                     " --compare " + path("dt.png"));
        ASSERT_EQ(drawn.status, 0) << size << ": " << drawn.out;
        double psnr = 0.0;
        int differing = -1;
        ASSERT_EQ(std::sscanf(drawn.out.c_str(), "psnr=%lf differing=%d", &psnr, &differing), 2)
            << drawn.out;
        EXPECT_LE(differing, std::string(size) == "128x128" ? 0 : 2) << size << ": " << drawn.out;
    }
}

}  // namespace
