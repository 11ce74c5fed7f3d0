// End-to-end runs of `strata render` against `strata make` and `strata trace`: from the LDI's
// own camera every front-layer sample lands on its own pixel, so the picture equals the ray
// traced one.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "command_run.h"
#include "render/scan_mesh.h"

namespace {

using CommandResult = strata::testing::CommandRun;

const std::string kStrata = std::string(STRATA_BINARY_DIR) + "/src/tools/strata";

CommandResult run(const std::string& arguments) {
    return strata::testing::runCommand(kStrata + " " + arguments + " 2>&1");
}

class RenderCommand : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::filesystem::temp_directory_path() /
               ("strata_render_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        for (const char* kind : {"rt-qp", "rtff-qp", "quad", "rt-cp", "rtff-mrqp"}) {
            const CommandResult made = run("make demo --size 128 --kind " + std::string(kind) +
                                           " -o " + path(std::string("demo_") + kind));
            ASSERT_EQ(made.status, 0) << made.out;
        }
        for (const char* list : {"pyramid", "set", "voxel"}) {
            const CommandResult made = run("make demo --size 64 --levels 3 --members 4 --kind " +
                                           std::string(list) + " -o " + viewerFile(list));
            ASSERT_EQ(made.status, 0) << made.out;
        }
        const CommandResult traced = run("trace demo --size 128x128 -o " + path("truth.png"));
        ASSERT_EQ(traced.status, 0) << traced.out;
        // A mesh that fills the whole view, border included, seen from straight above.
        ASSERT_TRUE(strata::render::testing::writeScanMesh(path("scan.ply")));
        for (const char* kind : {"rt-qp", "rtff-qp", "quad", "rt-cp", "rtff-mrqp"}) {
            const CommandResult made =
                run("make " + path("scan.ply") + " --size 96 --kind " + kind + kTopCamera + " -o " +
                    path(std::string("scan_") + kind));
            ASSERT_EQ(made.status, 0) << made.out;
        }
        const CommandResult tracedScan = run("trace " + path("scan.ply") + " --size 96x96" +
                                             kTopCamera + " -o " + path("scan_truth.png"));
        ASSERT_EQ(tracedScan.status, 0) << tracedScan.out;
    }
    static constexpr const char* kTopCamera =
        " --pos 0.05,2.2,0.1 --dir 0,-1,0 --up 0,0,-1 --fov 45";
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }
    // The pyramid, set and voxel files, named with their extensions.
    static std::string viewerFile(const std::string& kind) {
        return path(kind == "pyramid" ? "p.ldipyr" : kind == "set" ? "s.ldiset" : "v.vox");
    }
    static std::string ldi(const std::string& kind) {
        const std::filesystem::path base = dir_ / ("demo_" + kind);
        if (kind == "quad") {
            return base.string() + ".ldiquad";
        }
        return base.string();
    }

    static std::filesystem::path dir_;
};
std::filesystem::path RenderCommand::dir_;

// The file the maker wrote for a stem and kind (it may add its own extension).
std::string madeFile(const std::filesystem::path& dir, const std::string& stem,
                     const std::string& kind) {
    const std::filesystem::path base = dir / (stem + "_" + kind);
    if (kind == "quad") {
        return base.string() + ".ldiquad";
    }
    std::string file = base.string();
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(stem + "_" + kind, 0) == 0 && name.find("_top") == std::string::npos &&
            name.find("_bot") == std::string::npos) {
            file = entry.path().string();
        }
    }
    return file;
}

TEST_F(RenderCommand, ReferenceCameraEqualsTheRayTracedPicture) {
    for (const char* kind : {"rt-qp", "rtff-qp", "quad", "rt-cp", "rtff-mrqp"}) {
        const std::string file = madeFile(dir_, "demo", kind);
        // MRQP splats: without splatting it draws stretched masks; its samples splat to just
        // under one pixel from their own camera.
        const bool mrqp = std::string(kind).find("mrqp") != std::string::npos;
        const CommandResult r = run("render " + file + " --size 128x128 --fov 45 --quality basic" +
                                    (mrqp ? "" : " --no-splat") + " -o " + path("ref.png") +
                                    " --compare " + path("truth.png"));
        ASSERT_EQ(r.status, 0) << kind << ": " << r.out;
        EXPECT_NE(r.out.find("differing=0"), std::string::npos) << kind << ": " << r.out;
    }
}

// The scan fills the frame to its edges: every pixel is drawn, the border included, exactly in
// the basic mode and up to a few silhouette pixels in the high-quality mode.
TEST_F(RenderCommand, BorderPixelsEqualTheRayTracedPicture) {
    for (const char* kind : {"rt-qp", "rtff-qp", "quad", "rt-cp", "rtff-mrqp"}) {
        const std::string file = madeFile(dir_, "scan", kind);
        // MRQP samples splat to one pixel from their own camera; without splats they stretch.
        const bool mrqp = std::string(kind).find("mrqp") != std::string::npos;
        for (const char* quality : {"basic", "high"}) {
            const CommandResult r =
                run("render " + file + " --size 96x96 --fov 45" + (mrqp ? "" : " --no-splat") +
                    " --quality " + quality + " -o " + path("scan.png") + " --compare " +
                    path("scan_truth.png"));
            ASSERT_EQ(r.status, 0) << kind << ": " << r.out;
            if (std::string(quality) == "basic") {
                EXPECT_NE(r.out.find("differing=0\n"), std::string::npos) << kind << ": " << r.out;
            } else {
                // Backface culling with the 64 stored normals drops some silhouette samples, and
                // a silhouette's front and back may blend within the soft depth test.
                double psnr = 0.0;
                int differing = -1;
                ASSERT_EQ(std::sscanf(r.out.c_str(), "psnr=%lf differing=%d", &psnr, &differing), 2)
                    << r.out;
                EXPECT_GT(psnr, 40.0) << kind << ": " << r.out;
                EXPECT_LT(differing, 96) << kind << ": " << r.out;
            }
        }
    }
}

// True when some line of text reads exactly like format (sscanf) with `fields` conversions.
bool hasLine(const std::string& text, const char* format, int fields) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(begin, end - begin);
        double a = 0, b = 0, c = 0;
        char tail = 0;
        if (std::sscanf(line.c_str(), (std::string(format) + "%c").c_str(), &a, &b, &c, &tail) ==
            fields) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

TEST_F(RenderCommand, TimingAndCounterLines) {
    const CommandResult r = run("render " + ldi("rt-qp") +
                                " --frames 3 --stats --round nearest -o " + path("timed.bmp"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(hasLine(r.out, "frames=3 ms_per_frame=%lf samples_per_s=%lf threads=%lf", 3))
        << r.out;
    EXPECT_TRUE(hasLine(r.out, "visited=%lf inside=%lf written=%lf", 3)) << r.out;
    EXPECT_NE(r.out.find("visited=0 "), 0u);
    EXPECT_TRUE(std::filesystem::exists(path("timed.bmp")));
}

TEST_F(RenderCommand, MovedCameraAndFalseColourRun) {
    const CommandResult r = run("render " + ldi("rt-qp") +
                                " --offset 0.5,0,0 --yaw 10 --pitch -5 --false-color 4 --backface "
                                "--scanline --print-camera -o " +
                                path("moved.png"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("--pos ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" --fov 45\n"), std::string::npos) << r.out;
}

TEST_F(RenderCommand, RefusesBadInput) {
    EXPECT_EQ(run("render " + ldi("rt-qp") + " --size 5x5 -o " + path("x.png")).status, 2);
    EXPECT_EQ(run("render " + ldi("rt-qp") + " --round up -o " + path("x.png")).status, 2);
    EXPECT_EQ(run("render " + ldi("rt-qp") + " --false-color 10 -o " + path("x.png")).status, 2);
    EXPECT_EQ(run("render " + ldi("rt-qp") + " --dir 0,0,0 -o " + path("x.png")).status, 2);
    for (const char* quality : {"best", "High", "high ", "highx"}) {
        const CommandResult r =
            run("render " + ldi("rt-qp") + " --quality '" + quality + "' -o " + path("x.png"));
        EXPECT_EQ(r.status, 2) << quality;
        EXPECT_EQ(r.out, "strata render: --quality wants high or basic, got \"" +
                             std::string(quality) + "\"\n");
    }
    // The default is high; "default" stays the old name of basic, from when it was the default.
    const auto draw = [&](const std::string& flags, const std::string& picture,
                          const std::string& against) {
        return run("render " + ldi("rt-qp") + " --size 64x64 --yaw 8" + flags + " -o " +
                   path(picture) + (against.empty() ? "" : " --compare " + path(against)));
    };
    ASSERT_EQ(draw("", "default.png", "").status, 0);
    ASSERT_EQ(draw(" --quality basic", "basic.png", "").status, 0);
    for (const auto& [flags, against] : {std::pair{" --quality high", "default.png"},
                                         std::pair{" --quality default", "basic.png"}}) {
        const CommandResult r = draw(flags, "again.png", against);
        EXPECT_EQ(r.out.rfind("psnr=inf differing=0\n", 0), 0u) << flags << ": " << r.out;
    }
    const CommandResult apart = draw("", "again.png", "basic.png");
    EXPECT_EQ(apart.out.find("differing=0\n"), std::string::npos) << apart.out;
    const CommandResult missing = run("render " + path("missing.ldi") + " -o " + path("x.png"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("missing.ldi"), std::string::npos) << missing.out;
}

TEST_F(RenderCommand, ThreadCountIsCheckedAndDoesNotChangeThePicture) {
    for (const char* threads : {"0", "-1", "257", "abc", "2x", " 2", "1.5", "0x2", "+2"}) {
        for (const char* command : {"render", "bench"}) {
            const std::string target = std::string(command) == "render"
                                           ? ldi("rt-qp") + " -o " + path("x.png")
                                           : ldi("rt-qp");
            const CommandResult r =
                run(std::string(command) + " " + target + " --threads '" + threads + "'");
            EXPECT_EQ(r.status, 2) << command << " " << threads << ": " << r.out;
            EXPECT_EQ(r.out, "strata " + std::string(command) +
                                 ": --threads wants a whole number 1..256, got \"" + threads +
                                 "\"\n");
        }
    }
    // Both ends of the range, and a moved camera whose epipole lies inside the grid.
    for (const char* kind : {"rt-qp", "rt-cp", "rtff-mrqp", "quad"}) {
        const std::string camera = " --pos 0.3,1.4,2.5 --dir -0.1,-0.45,-0.9 --size 96x96";
        for (const char* quality : {" --quality basic", ""}) {
            ASSERT_EQ(
                run("render " + ldi(kind) + camera + quality + " --threads 1 -o " + path("t1.png"))
                    .status,
                0);
            for (const char* threads : {"2", "256"}) {
                const CommandResult r =
                    run("render " + ldi(kind) + camera + quality + " --threads " + threads +
                        " -o " + path("tn.png") + " --compare " + path("t1.png"));
                ASSERT_EQ(r.status, 0) << r.out;
                EXPECT_EQ(r.out.rfind("psnr=inf differing=0\n", 0), 0u)
                    << kind << quality << ": " << r.out;
            }
        }
    }
    const CommandResult bench = run("bench " + ldi("rt-qp") + " --threads 2 --frames 2");
    EXPECT_EQ(bench.status, 0) << bench.out;
}

TEST_F(RenderCommand, PyramidsAndSetsSayWhichLevelAndMemberTheyDrew) {
    const struct {
        std::string arguments;
        std::string says;
    } cases[] = {
        {viewerFile("pyramid") + " --size 64x64", "level=0\n"},
        // Backing away along the view: the coarser levels.
        {viewerFile("pyramid") + " --size 64x64 --offset 0,0,-100", "level=1\n"},
        {viewerFile("pyramid") + " --size 64x64 --offset 0,0,-400", "level=2\n"},
        {viewerFile("set") + " --size 64x64", "member=0 level=0\n"},
        // Seen from the other side (-z) and from +x: the members made from there (directions
        // +z, +x, -z, -x in that order).
        {viewerFile("set") + " --size 64x64 --pos 0,2,-12 --dir 0,0,1", "member=2 level=0\n"},
        {viewerFile("set") + " --size 64x64 --pos 12,2,0 --dir -1,0,0", "member=1 level=0\n"},
    };
    for (const auto& c : cases) {
        const CommandResult r = run("render " + c.arguments + " -o " + path("l.png"));
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, c.says) << c.arguments;
    }
    const CommandResult voxel =
        run("render " + viewerFile("voxel") + " --stats --no-splat -o " + path("v.png"));
    EXPECT_EQ(voxel.status, 0) << voxel.out;
    EXPECT_EQ(voxel.out.find("visited=0 "), std::string::npos) << voxel.out;
}

TEST_F(RenderCommand, InfoChecksListsVoxelFilesAndEveryMember) {
    for (const char* kind : {"pyramid", "set", "voxel"}) {
        const CommandResult text = run("info " + viewerFile(kind));
        EXPECT_EQ(text.status, 0) << text.out;
        EXPECT_NE(text.out.find("verdict: valid"), std::string::npos) << text.out;
        const CommandResult json = run("info --json " + viewerFile(kind));
        EXPECT_EQ(json.status, 0) << json.out;
        EXPECT_NE(json.out.find("\"verdict\": \"valid\""), std::string::npos) << json.out;
    }
    EXPECT_NE(run("info " + viewerFile("set")).out.find("member 3: "), std::string::npos);
    EXPECT_NE(run("info " + viewerFile("voxel")).out.find("voxel grid: 129 x 129"),
              std::string::npos);
    // A list naming a level that is not there, a malformed list, a bad voxel file: exit 1 and
    // the reason.
    std::FILE* file = std::fopen(path("broken.ldipyr").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("2 p_l0.ldibrtqp 1 gone.ldibrtqp 2\n", file);
    std::fclose(file);
    CommandResult broken = run("info " + path("broken.ldipyr"));
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_NE(broken.out.find("gone.ldibrtqp"), std::string::npos) << broken.out;
    file = std::fopen(path("short.ldiset").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("2\np.ldipyr 0 0 1\n", file);
    std::fclose(file);
    broken = run("info --json " + path("short.ldiset"));
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_NE(broken.out.find("line 2"), std::string::npos) << broken.out;
    file = std::fopen(path("bad.vox").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("abc", file);
    std::fclose(file);
    broken = run("info " + path("bad.vox"));
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_NE(broken.out.find("truncated"), std::string::npos) << broken.out;
    EXPECT_EQ(run("render " + path("bad.vox") + " -o " + path("x.png")).status, 1);
    EXPECT_EQ(run("render " + path("short.ldiset") + " -o " + path("x.png")).status, 1);
}

}  // namespace
