// End-to-end runs of the camera files, sequences, coverage and layer flags of `strata render`
// and `strata trace`.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command_run.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"

namespace {

using CommandResult = strata::testing::CommandRun;

namespace imageutil = strata::imageutil;

const std::string kStrata = STRATA_EXE;

CommandResult runShell(const std::string& command) {
    return strata::testing::runCommand(command + " 2>&1");
}

CommandResult run(const std::string& arguments) {
    return runShell(kStrata + " " + arguments);
}

class ViewTools : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::filesystem::temp_directory_path() /
               ("strata_view_tools_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        const CommandResult made = run("make demo --size 64 --kind rt-qp -o " + path("demo.ldi"));
        ASSERT_EQ(made.status, 0) << made.out;
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }
    static std::string ldi() { return path("demo.ldi"); }

    static std::filesystem::path dir_;
};
std::filesystem::path ViewTools::dir_;

imageutil::RgbImage readPicture(const std::string& file) {
    imageutil::RgbImage image;
    std::string error;
    EXPECT_TRUE(imageutil::readPng(file, image, &error)) << file << ": " << error;
    return image;
}

bool samePictures(const std::string& a, const std::string& b) {
    const imageutil::RgbImage x = readPicture(a);
    const imageutil::RgbImage y = readPicture(b);
    if (x.empty() || x.width != y.width || x.height != y.height) {
        return false;
    }
    return std::equal(x.pixels, x.pixels + x.pixelCount(), y.pixels);
}

void writeText(const std::string& file, const std::string& text) {
    std::ofstream(file) << text;
}

// Every command that opens a file chooses its kind by the extension ignoring case.
TEST_F(ViewTools, ExtensionsMatchIgnoringCaseInEveryCommand) {
    for (const char* kind : {"pyramid", "quad"}) {
        SCOPED_TRACE(kind);
        const std::string lower =
            path(std::string("case.") + (kind[0] == 'p' ? "ldipyr" : "ldiquad"));
        const std::string upper =
            path(std::string("Case.") + (kind[0] == 'p' ? "LDIPYR" : "LDIQUAD"));
        const CommandResult made =
            run(std::string("make demo --size 32 --kind ") + kind + " -o " + lower);
        ASSERT_EQ(made.status, 0) << made.out;
        std::filesystem::copy_file(lower, upper, std::filesystem::copy_options::overwrite_existing);
        const CommandResult rendered = run("render " + upper + " -o " + path("case.png"));
        EXPECT_EQ(rendered.status, 0) << rendered.out;
        const CommandResult info = run("info " + upper);
        EXPECT_EQ(info.status, 0) << info.out;
        // The same report as for the lower-case name, but for the name.
        std::string named = info.out;
        for (auto at = named.find(upper); at != std::string::npos; at = named.find(upper, at)) {
            named.replace(at, upper.size(), lower);
        }
        EXPECT_EQ(named, run("info " + lower).out);
        const CommandResult bench = run("bench " + upper + " --frames 1");
        EXPECT_EQ(bench.status, 0) << bench.out;
        EXPECT_NE(bench.out.find("P6_CLOCK:"), std::string::npos) << bench.out;
        EXPECT_NE(bench.out.find("frames=1 "), std::string::npos) << bench.out;
    }
}

TEST_F(ViewTools, PrintedCameraFileGivesTheIdenticalPicture) {
    const std::string moved = " --offset 0.3,-0.2,0.4 --yaw 17 --pitch -6 --size 80x60";
    const CommandResult printed =
        run("render " + ldi() + moved + " --print-camera --json -o " + path("flags.png"));
    ASSERT_EQ(printed.status, 0) << printed.out;
    writeText(path("cam.json"), printed.out);
    EXPECT_NE(printed.out.find("\"width\": 80"), std::string::npos) << printed.out;
    EXPECT_NE(printed.out.find("\"height\": 60"), std::string::npos) << printed.out;

    const CommandResult again =
        run("render " + ldi() + " --camera " + path("cam.json") + " -o " + path("file.png"));
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_TRUE(samePictures(path("flags.png"), path("file.png")));
    // In false colour too (depth from the camera reads near and far).
    ASSERT_EQ(run("render " + ldi() + moved + " --false-color 2 -o " + path("fc1.png")).status, 0);
    ASSERT_EQ(run("render " + ldi() + " --camera " + path("cam.json") + " --false-color 2 -o " +
                  path("fc2.png"))
                  .status,
              0);
    EXPECT_TRUE(samePictures(path("fc1.png"), path("fc2.png")));
    // --size overrides the file's frame size.
    ASSERT_EQ(run("render " + ldi() + " --camera " + path("cam.json") + " --size 32x32 -o " +
                  path("small.png"))
                  .status,
              0);
    EXPECT_EQ(readPicture(path("small.png")).width, 32);
}

TEST_F(ViewTools, TraceAndRenderAgreeOnTheCamera) {
    const CommandResult printed =
        run("render " + ldi() + " --size 64x64 --print-camera --json -o " + path("ref.png"));
    ASSERT_EQ(printed.status, 0) << printed.out;
    writeText(path("ref.json"), printed.out);
    const CommandResult flags =
        run("render " + ldi() + " --size 64x64 --print-camera -o " + path("ref2.png"));
    ASSERT_EQ(flags.status, 0);
    std::string cameraFlags = flags.out.substr(0, flags.out.find('\n'));
    const CommandResult byFile =
        run("trace demo --camera " + path("ref.json") + " -o " + path("trace_file.png"));
    ASSERT_EQ(byFile.status, 0) << byFile.out;
    const CommandResult byFlags = run("trace demo --size 64x64 " + cameraFlags +
                                      " --near 0.1 --far 10000 -o " + path("trace_flags.png"));
    ASSERT_EQ(byFlags.status, 0) << byFlags.out;
    EXPECT_TRUE(samePictures(path("trace_file.png"), path("trace_flags.png")));
    // From the LDI's own camera the front layer is the ray-traced picture.
    const CommandResult compared = run("render " + ldi() + " --camera " + path("ref.json") +
                                       " --no-splat --quality basic -o " + path("ref3.png") +
                                       " --compare " + path("trace_file.png"));
    ASSERT_EQ(compared.status, 0) << compared.out;
    EXPECT_NE(compared.out.find("differing=0"), std::string::npos) << compared.out;
    EXPECT_NE(compared.out.find("uncovered=0.000000 uncovered_pixels=0 "), std::string::npos)
        << compared.out;
}

TEST_F(ViewTools, CameraFileWithABadFieldIsRefusedInOneLine) {
    writeText(path("bad.json"), R"({"position": [0, 0, 5], "direction": [0, 0, -1],
        "up": [0, 1, 0], "fovDegrees": 45, "far": 100, "width": 64, "height": 64})");
    for (const std::string& command : {"render " + ldi() + " -o " + path("x.png"),
                                       std::string("trace demo -o ") + path("x.png")}) {
        const CommandResult r = run(command + " --camera " + path("bad.json"));
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.out.find("bad.json: field \"near\" is missing\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    }
}

std::vector<std::string> framesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(ViewTools, FullOrbitEndsWhereItStartedWithFramesNumberedWithoutGaps) {
    const CommandResult r = run("render " + ldi() + " --size 48x48 --orbit 360 --frames 5 -o " +
                                path("orbit") + "/%03d.png");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(framesIn(path("orbit")),
              (std::vector<std::string>{"000.png", "001.png", "002.png", "003.png", "004.png"}));
    EXPECT_TRUE(samePictures(path("orbit/000.png"), path("orbit/004.png")));
    EXPECT_FALSE(samePictures(path("orbit/000.png"), path("orbit/001.png")));
    // The first frame is the single picture of the same camera.
    ASSERT_EQ(run("render " + ldi() + " --size 48x48 -o " + path("still.png")).status, 0);
    EXPECT_TRUE(samePictures(path("orbit/000.png"), path("still.png")));

    const CommandResult traced =
        run("trace demo --size 24x24 --orbit 90 --frames 3 -o " + path("torbit") + "/f%d.png");
    ASSERT_EQ(traced.status, 0) << traced.out;
    EXPECT_EQ(framesIn(path("torbit")), (std::vector<std::string>{"f0.png", "f1.png", "f2.png"}));
}

TEST_F(ViewTools, PathThroughTwoEqualRecordsIsAStill) {
    const CommandResult printed = run("render " + ldi() +
                                      " --size 40x40 --yaw 20 --print-camera "
                                      "--json -o " +
                                      path("p.png"));
    ASSERT_EQ(printed.status, 0) << printed.out;
    writeText(path("still.json"), "[" + printed.out + "," + printed.out + "]");
    const CommandResult r = run("render " + ldi() + " --path " + path("still.json") +
                                " --frames 4 -o " + path("still") + "/%04d.png");
    ASSERT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(framesIn(path("still")).size(), 4u);
    for (const char* name : {"0001.png", "0002.png", "0003.png"}) {
        EXPECT_TRUE(samePictures(path("still/0000.png"), path("still/") + name)) << name;
    }
    EXPECT_TRUE(samePictures(path("still/0000.png"), path("p.png")));
}

TEST_F(ViewTools, VideoWithoutFfmpegSaysSoAndDrawsNothing) {
    const CommandResult r = runShell("PATH=/nonexistent " + kStrata + " render " + ldi() +
                                     " --orbit 90 --frames 3 -o " + path("v.mp4"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "strata render: ffmpeg is not installed, so no video; write the frames with -o "
              "frames/%04d.png instead\n");
    EXPECT_FALSE(std::filesystem::exists(path("v.mp4")));
    const CommandResult t = runShell("PATH=/nonexistent " + kStrata +
                                     " trace demo --orbit 90 --frames 3 -o " + path("t.mp4"));
    EXPECT_EQ(t.status, 1);
    EXPECT_NE(t.out.find("ffmpeg is not installed"), std::string::npos) << t.out;
}

TEST_F(ViewTools, VideoThroughFfmpeg) {
    if (runShell("command -v ffmpeg").status != 0) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const CommandResult r =
        run("render " + ldi() + " --size 50x40 --orbit 30 --frames 4 -o " + path("v.mp4"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_GT(std::filesystem::file_size(path("v.mp4")), 100u);
    // No frame folder is left beside the video.
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().filename().string().rfind(".strata-frames", 0), std::string::npos);
    }
}

TEST_F(ViewTools, RefusesBadSequences) {
    struct Case {
        std::string flags;
        const char* message;
    };
    const Case cases[] = {
        {"--orbit 90 --frames 3 -o " + path("one.png"), "-o wants a picture pattern"},
        {"--orbit 90 --frames 3 -o " + path("%d_%d.png"), "-o wants a picture pattern"},
        {"--orbit 90 --frames 3 -o " + path("%s.png"), "-o wants a picture pattern"},
        {"--orbit 90 --frames 3 -o " + path("%d.jpg"), "-o wants a picture pattern"},
        {"--orbit 90 --frames 0 -o " + path("%d.png"), "--frames N with N in 1..100000"},
        {"--orbit 90 --frames 100001 -o " + path("%d.png"), "--frames N with N in 1..100000"},
        {"--orbit 90 -o " + path("%d.png"), "--frames N"},
        {"--orbit nan --frames 2 -o " + path("%d.png"), "--orbit wants degrees"},
        {"--orbit 90x --frames 2 -o " + path("%d.png"), "--orbit wants degrees"},
        {"--orbit 90 --frames 2 --fps 0 -o " + path("%d.png"), "--fps wants 1..240"},
        {"--orbit 90 --frames 2 --fps 241 -o " + path("%d.png"), "--fps wants 1..240"},
        {"--orbit 90 --path x.json --frames 2 -o " + path("%d.png"), "exclude each other"},
        {"--path x.json --yaw 3 --frames 2 -o " + path("%d.png"), "--path brings its own"},
        {"--orbit 9 --frames 2 --coverage m.png -o " + path("%d.png"), "not a sequence"},
    };
    for (const Case& c : cases) {
        const CommandResult r = run("render " + ldi() + " " + c.flags);
        EXPECT_EQ(r.status, 2) << c.flags << ": " << r.out;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.flags << ": " << r.out;
    }
    EXPECT_EQ(run("render " + ldi() + " --size 16x16 --orbit 90 --frames 1 --fps 240 -o " +
                  path("edge") + "/%d.bmp")
                  .status,
              0);
    EXPECT_TRUE(std::filesystem::exists(path("edge/0.bmp")));
}

TEST_F(ViewTools, CoverageMaskAndLayerViews) {
    // From the reference camera (the LDI's own grid) nothing is uncovered.
    const CommandResult ref =
        run("render " + ldi() + " --size 64x64 --fov 45 --no-splat --quality basic --coverage " +
            path("mask_ref.png") + " -o " + path("cov_ref.png"));
    ASSERT_EQ(ref.status, 0) << ref.out;
    EXPECT_NE(ref.out.find("uncovered=0.000000 uncovered_pixels=0 "), std::string::npos) << ref.out;
    // Single pixels into a frame twice the LDI's side reach about one pixel in four; splats
    // close nearly all of the gaps.
    const auto uncovered = [&](const std::string& flags, const std::string& mask) {
        const CommandResult r = run("render " + ldi() + " --size 128x128 --yaw 5 --quality basic " +
                                    flags + " --coverage " + path(mask) + " -o " + path("cov.png"));
        EXPECT_EQ(r.status, 0) << r.out;
        double share = -1.0;
        const std::size_t at = r.out.find("uncovered=");
        EXPECT_NE(at, std::string::npos) << r.out;
        if (at != std::string::npos) {
            std::sscanf(r.out.c_str() + at, "uncovered=%lf", &share);
        }
        return share;
    };
    const double sparse = uncovered("--no-splat", "mask_moved.png");
    EXPECT_GT(sparse, 0.6);
    EXPECT_LT(sparse, 0.85);
    EXPECT_LT(uncovered("", "mask_splat.png"), 0.05);
    const imageutil::RgbImage mask = readPicture(path("mask_moved.png"));
    int white = 0;
    for (std::size_t i = 0; i < mask.pixelCount(); ++i) {
        const std::uint32_t p = mask.pixels[i] & 0xFFFFFFu;
        EXPECT_TRUE(p == 0 || p == 0xFFFFFFu || p == 0x808080u) << std::hex << p;
        white += p == 0xFFFFFFu ? 1 : 0;
    }
    EXPECT_GT(white, 0);

    // --layer: bounds and the layer false colour run.
    EXPECT_EQ(run("render " + ldi() + " --layer 1 --false-color 8 -o " + path("l1.png")).status, 0);
    EXPECT_EQ(run("render " + ldi() + " --layer 65535 -o " + path("l2.png")).status, 0);
    EXPECT_EQ(run("render " + ldi() + " --layer 65536 -o " + path("l3.png")).status, 2);
    EXPECT_EQ(run("render " + ldi() + " --layer -2 -o " + path("l4.png")).status, 2);
    EXPECT_EQ(run("render " + ldi() + " --false-color 9 -o " + path("fc9.png")).status, 0);
}

}  // namespace
