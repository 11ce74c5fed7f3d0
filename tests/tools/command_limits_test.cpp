// The command line at its limits: every number parsed with its range (overflow and text after it
// refused), cameras that cannot make valid rays, memory that runs out, pictures that cannot be
// drawn, list members that fail or lie outside, names lists cannot hold, video and pattern
// outputs, and stop signals during a video.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "command_run.h"
#include "ldi/ldi_samples.h"
#include "sanitized_build.h"

namespace {

using strata::ldi::testing::makeSample;
using strata::ldi::testing::TempDir;
using strata::ldi::testing::writeText;
using strata::testing::CommandRun;
using strata::testing::runCommand;

const std::string kStrata = STRATA_EXE;

CommandRun runStrata(const std::string& arguments) {
    return runCommand("timeout 120 " + kStrata + " " + arguments + " 2>&1");
}

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

bool hasFfmpeg() {
    return runCommand("command -v ffmpeg >/dev/null 2>&1 && echo yes").out == "yes\n";
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class CommandLimits : public ::testing::Test {
  protected:
    void SetUp() override {
        auto ldi = makeSample(1, 2, 8, 8, 5);
        ASSERT_EQ(ldi->Save(dir_.file("a.ldi")), 1);
    }
    std::string at(const std::string& name) const { return dir_.file(name); }
    std::string render(const std::string& flags) const {
        return "render " + at("a.ldi") + " -o " + at("r.png") + " " + flags;
    }

    TempDir dir_;
};

struct Case {
    std::string arguments;
    const char* expected;  // "" when accepted
};

void expectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const CommandRun run = runStrata(c.arguments);
        if (*c.expected == '\0') {
            EXPECT_EQ(run.status, 0) << run.out;
        } else {
            EXPECT_NE(run.status, 0) << run.out;
            EXPECT_NE(run.status, 134) << run.out;  // never an abort
            EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
            EXPECT_LE(lineCount(run.out), 2) << run.out;
        }
    }
}

// Every number is read whole, in decimal, within its range; one value on each side of each
// limit.
TEST_F(CommandLimits, NumbersAreReadWithTheirRanges) {
    const std::string make = "make demo --kind rt-qp -o " + at("m.ldi") + " ";
    expectAll({
        {render("--size 64x64"), ""},
        {render("--size 16x16"), ""},
        {render("--size 16x40"), ""},
        {render("--size 64x8"), "--size wants WxH with sides 16..16366"},
        {render("--size 15x16"), "sides 16..16366"},
        {render("--size 64x64x"), "sides 16..16366"},
        {render("--size 64x64px"), "sides 16..16366"},
        {render("'--size=64x64 '"), "sides 16..16366"},
        {render("--size 4294967312x4294967312"), "sides 16..16366"},
        {render("--size 16367x16367"), "sides 16..16366"},
        {render("--size 16367x16"), "sides 16..16366"},
        {render("--frames -1"), "--frames wants 0..1000000"},
        {render("--frames 0"), ""},
        {render("--frames 1"), ""},
        {render("--frames 4294967297"), "--frames: wants a whole number"},
        {render("--frames 0x10"), "--frames: wants a whole number"},
        {render("--layer 4294967296"), "--layer: wants a whole number"},
        {render("--false-color 010"), "not in range 0 to 9"},  // decimal 10, not octal 8
        {render("--false-color 09"), ""},
        {render("--yaw 1e39"), "--yaw: wants a finite number"},
        {render("--yaw nan"), "--yaw: wants a finite number"},
        {render("--yaw 10"), ""},
        {render("--near 0"), "--near and --far want positive distances"},
        {render("--near 0.001"), ""},
        {make + "--size 8 --layers 256", "--layers wants 1..255"},
        {make + "--size 8 --layers 255", ""},
        {make + "--size 8 --layers 4294967297", "--layers: wants a whole number"},
        {make + "--size 0x8", "--size: wants a whole number"},
        {make + "--size 16385", "--size wants a grid side in 1..16384"},
        {"trace demo --size 8x8junk -o " + at("t.png"), "--size wants WxH (or N), each 1..16384"},
        {"trace demo --size 16385 -o " + at("t.png"), "each 1..16384"},
        {"trace demo --size 8 -o " + at("t.png"), ""},
        {"trace demo --size 8 --bg 0x1000000 -o " + at("t.png"), "--bg wants a colour"},
        {"trace demo --size 8 --bg -1 -o " + at("t.png"), "--bg wants a colour"},
        {"trace demo --size 8 --bg 0xFFFFFF -o " + at("t.png"), ""},
        {"export " + at("a.ldi") + " --layer -0 -o " + at("e.ply"), "--layer wants a layer"},
        {"export " + at("a.ldi") + " --layer 0 -o " + at("e.ply"), ""},
    });
}

// A picture too large for the frame buffer with its margin is refused up front with the real
// limit, and nothing is written.
TEST_F(CommandLimits, PicturesBeyondTheFrameBufferAreRefusedUpFront) {
    const CommandRun run = runStrata(render("--size 16367x16367"));
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(std::filesystem::exists(at("r.png")));
    writeText(at("big.json"),
              R"({"position": [0, 0, 5], "direction": [0, 0, -1], "up": [0, 1, 0],
                  "fovDegrees": 45, "near": 0.1, "far": 100, "width": 16384, "height": 16384})");
    const CommandRun fromFile = runStrata(render("--camera " + at("big.json")));
    EXPECT_EQ(fromFile.status, 2);
    EXPECT_NE(fromFile.out.find("asks for a 16384x16384 frame; pictures have sides 16..16366"),
              std::string::npos)
        << fromFile.out;
    EXPECT_FALSE(std::filesystem::exists(at("r.png")));
}

// Cameras whose numbers cannot make valid rays or matrices are refused in one line by every
// command and in camera and path files; the narrowest accepted view still draws.
TEST_F(CommandLimits, CamerasOutOfReachAreRefused) {
    const std::string trace = "trace demo --size 8 -o " + at("t.png") + " ";
    const std::string make = "make demo --kind rt-qp --size 8 -o " + at("m.ldi") + " ";
    const auto camera = [this](const std::string& name, const std::string& position,
                               const std::string& fov) {
        writeText(at(name),
                  "{\"position\": " + position +
                      ", \"direction\": [0, 0, -1], \"up\": [0, 1, 0], \"fovDegrees\": " + fov +
                      ", \"near\": 0.1, \"far\": 100, \"width\": 16, "
                      "\"height\": 16}");
        return at(name);
    };
    const std::string far = camera("far.json", "[1e19, 0, 0]", "45");
    const std::string narrow = camera("narrow.json", "[0, 0, 5]", "0.005");
    const std::string key =
        "{\"position\": [0, 0, 5], \"direction\": [0, 0, -1], \"up\": [0, 1, 0], "
        "\"fovDegrees\": 45, \"near\": 0.1, \"far\": 100, \"width\": 16, \"height\": 16}";
    std::string beyond = key;
    beyond.replace(beyond.find("[0, 0, 5]"), 9, "[0, 0, 1e13]");
    writeText(at("path.json"), "[" + key + ", " + beyond + "]");
    expectAll({
        {trace + "--pos 1e19,0,0", "within 1e12 of the origin"},
        {trace + "--pos 1e9,0,0", "more than 1e6 times its radius"},
        {trace + "--fov 1e-20", "must lie in [0.01, 179] degrees"},
        {trace + "--fov 0.0099", "must lie in [0.01, 179] degrees"},
        {trace + "--fov 0.01", ""},
        {trace + "--fov 179", ""},
        {trace + "--fov 179.01", "must lie in [0.01, 179] degrees"},
        {make + "--pos 1e19,0,0", "within 1e12 of the origin"},
        {make + "--fov 1e-20", "must lie in [0.01, 179] degrees"},
        {render("--pos 1e19,0,0"), "within 1e12 of the origin"},
        {render("--pos 1e9,0,0"), "more than 1e6 times its radius"},
        {render("--pos 1000,0,0"), ""},
        {render("--fov 1e-20"), "must lie in [0.01, 179] degrees"},
        {render("--camera " + far), "field \"position\" lies beyond 1e12"},
        {render("--camera " + narrow), "field \"fovDegrees\" wants degrees in [0.01, 179]"},
        {trace + "--camera " + far, "field \"position\" lies beyond 1e12"},
        {"render " + at("a.ldi") + " --path " + at("path.json") + " --frames 2 -o " + at("f%d.png"),
         "camera 1: field \"position\" lies beyond 1e12"},
    });
    EXPECT_FALSE(std::filesystem::exists(at("f0.png")));
}

// Memory that runs out ends the command with one line naming what could not be allocated and
// how much, exit 1, and nothing written.
TEST_F(CommandLimits, MemoryThatRunsOutIsOneLine) {
#ifdef STRATA_SANITIZED
    GTEST_SKIP() << "the address sanitizer needs an unlimited address space";
#else
    const auto limited = [](const std::string& arguments) {
        return runCommand("ulimit -v 1000000; " + kStrata + " " + arguments + " 2>&1");
    };
    const CommandRun high = limited(render("--quality high --size 12000x12000"));
    EXPECT_EQ(high.status, 1) << high.out;
    EXPECT_NE(high.out.find("strata render: out of memory: could not allocate "), std::string::npos)
        << high.out;
    EXPECT_NE(high.out.find(" while drawing the 12000x12000 frame"), std::string::npos) << high.out;
    EXPECT_EQ(lineCount(high.out), 1) << high.out;
    const CommandRun traced = limited("trace demo --size 16384 -o " + at("t.png"));
    EXPECT_EQ(traced.status, 1) << traced.out;
    EXPECT_NE(traced.out.find("strata trace: out of memory: could not allocate"), std::string::npos)
        << traced.out;
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"a.ldi"}));
#endif
}

// A --compare picture far larger than a PNG of its size could be is refused before it is read.
TEST_F(CommandLimits, HugeComparePicturesAreNotRead) {
    ASSERT_EQ(runStrata(render("--size 16x16")).status, 0);
    std::filesystem::copy_file(at("r.png"), at("huge.png"));
    std::filesystem::resize_file(at("huge.png"), std::uint64_t{4} << 30);  // sparse
    const CommandRun run = runStrata(render("--size 16x16 --compare " + at("huge.png")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("file too large (4.00 GB, at most 16.0 MB)"), std::string::npos)
        << run.out;
}

// A pyramid level or set member that the camera chooses but that did not load is an error
// naming it; nothing is written.
TEST_F(CommandLimits, ChosenLevelsAndMembersThatDidNotLoadAreErrors) {
    writeText(at("p.ldipyr"), "2 a.ldi 1 gone.ldi 100\n");
    writeText(at("s.ldiset"), "2 gone.ldipyr 0 0 1 p.ldipyr 0 0 -1\n");
    const std::string pyramid = "render " + at("p.ldipyr") + " -o " + at("p.png");
    expectAll({
        {pyramid + " --pos 0,0,3", ""},
        {pyramid + " --pos 0,0,400", "level 1 of the pyramid did not load: "},
        {"render " + at("s.ldiset") + " -o " + at("s.png") + " --pos 0,0,400",
         "member 0 of the set did not load: "},
        {"render " + at("p.ldipyr") + " --pos 0,0,400 --orbit 10 --frames 2 -o " + at("f%d.png"),
         "frame 0: level 1 of the pyramid did not load"},
    });
    EXPECT_FALSE(std::filesystem::exists(at("s.png")));
    EXPECT_FALSE(std::filesystem::exists(at("f0.png")));
}

// Names lists split at white space are refused before anything is cast or written.
TEST_F(CommandLimits, ListKindsRefuseNamesTheirListsCannotHold) {
    for (const char* name :
         {"my pyr.ldipyr", "my set.ldiset", "my quad.ldiquad", "tab\tq.ldiquad"}) {
        const std::string kind = std::string(name).ends_with("ldipyr")   ? "pyramid"
                                 : std::string(name).ends_with("ldiset") ? "set"
                                                                         : "quad";
        const CommandRun run = runStrata("make demo --size 16 --levels 2 --members 2 --kind " +
                                         kind + " -o '" + at(name) + "'");
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find("a name with white space"), std::string::npos) << run.out;
    }
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"a.ldi"}));
    // A name without them is written and read back.
    const CommandRun made =
        runStrata("make demo --size 16 --kind quad -o " + at("my_quad.ldiquad"));
    ASSERT_EQ(made.status, 0) << made.out;
    EXPECT_EQ(runStrata("info " + at("my_quad.ldiquad")).status, 0);
}

// File names are bytes: `info --json` writes any name as valid JSON, invalid UTF-8 replaced.
TEST_F(CommandLimits, InfoJsonIsValidForAnyFileName) {
    const std::string odd = at("x\xff.ldibrtqp");
    std::filesystem::copy_file(at("a.ldi"), odd);
    writeText(at("p\xfe.ldipyr"), "1 x\xff.ldibrtqp 1\n");
    for (const std::string& file : {odd, at("p\xfe.ldipyr")}) {
        const CommandRun run = runCommand(kStrata + " info --json '" + file + "'");
        EXPECT_EQ(run.status, 0) << run.out;
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(run.out)) << run.out;
        EXPECT_NE(parsed["file"].get<std::string>().find("\xef\xbf\xbd"), std::string::npos);
    }
}

// Lists and models read only inside their own folder unless --allow-outside-paths is given.
TEST_F(CommandLimits, OutsideMembersNeedTheFlag) {
    std::filesystem::create_directory(at("lists"));
    writeText(at("lists/p.ldipyr"), "1 ../a.ldi 1\n");
    const std::string list = at("lists/p.ldipyr");
    const CommandRun refused = runStrata("info " + list);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("\"../a.ldi\" lies outside"), std::string::npos) << refused.out;
    EXPECT_EQ(runStrata("info --allow-outside-paths " + list).status, 0);
    EXPECT_EQ(runStrata("render " + list + " -o " + at("r.png")).status, 1);
    EXPECT_EQ(runStrata("render --allow-outside-paths " + list + " -o " + at("r.png")).status, 0);
    EXPECT_EQ(runStrata("export " + list + " -o " + at("e.ply")).status, 1);
    EXPECT_EQ(runStrata("export --allow-outside-paths " + list + " -o " + at("e.ply")).status, 0);

    // A model's material file outside its folder: refused in one line, the model still loads.
    std::filesystem::create_directory(at("model"));
    writeText(at("o.mtl"), "newmtl red\nKd 1 0 0\n");
    writeText(at("model/m.obj"),
              "mtllib ../o.mtl\nusemtl red\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const CommandRun model =
        runStrata("trace " + at("model/m.obj") + " --size 8 -o " + at("t.png"));
    EXPECT_EQ(model.status, 0) << model.out;
    EXPECT_NE(model.out.find("o.mtl\" lies outside"), std::string::npos) << model.out;
    const CommandRun allowed = runStrata("trace --allow-outside-paths " + at("model/m.obj") +
                                         " --size 8 -o " + at("t.png"));
    EXPECT_EQ(allowed.status, 0);
    EXPECT_EQ(allowed.out.find("lies outside"), std::string::npos) << allowed.out;
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode;
}

// Video and pattern outputs: a FIFO or device is never replaced, a number pattern belongs in
// the file name only, permissions are kept and links are written through.
TEST_F(CommandLimits, SequenceAndPictureOutputs) {
    ASSERT_EQ(::mkfifo(at("fifo.mp4").c_str(), 0600), 0);
    const CommandRun video =
        runStrata("render " + at("a.ldi") + " --orbit 10 --frames 2 -o " + at("fifo.mp4"));
    EXPECT_EQ(video.status, 2) << video.out;
    EXPECT_NE(video.out.find("fifo.mp4 is a FIFO, not a file: not replaced"), std::string::npos)
        << video.out;
    EXPECT_TRUE(S_ISFIFO(modeOf(at("fifo.mp4"))));

    const CommandRun pattern =
        runStrata("render " + at("a.ldi") + " --orbit 10 --frames 2 -o '" + at("d%d/f.png") + "'");
    EXPECT_EQ(pattern.status, 2);
    EXPECT_NE(pattern.out.find("frame number in the file name, not in a folder"), std::string::npos)
        << pattern.out;
    EXPECT_FALSE(std::filesystem::exists(at("d%d")));
    const std::string base = "render " + at("a.ldi") + " --orbit 10 --frames 2 -o ";
    expectAll({
        {base + at("w%12d.png"), ""},
        {base + at("w%123d.png"), "-o wants a picture pattern"},
        {base + at("w%012d.png"), ""},
        {base + at("w%0123d.png"), "-o wants a picture pattern"},
    });

    ASSERT_EQ(runStrata(render("")).status, 0);
    ::chmod(at("r.png").c_str(), 0640);
    ASSERT_EQ(runStrata(render("--size 20x20")).status, 0);
    EXPECT_EQ(modeOf(at("r.png")) & 07777, 0640u);
    std::filesystem::create_symlink("r.png", at("link.png"));
    ASSERT_EQ(runStrata("render " + at("a.ldi") + " -o " + at("link.png") + " --size 24x24").status,
              0);
    EXPECT_TRUE(S_ISLNK(modeOf(at("link.png"))));
    EXPECT_EQ(runStrata("info " + at("a.ldi")).status, 0);
}

// A video stopped by SIGINT or SIGTERM leaves no frames folder; one left by SIGKILL goes with
// the next video made beside it.
TEST_F(CommandLimits, StoppedVideosLeaveNoFrames) {
    if (!hasFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const auto startVideo = [this](const std::string& out) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(kStrata.c_str(), kStrata.c_str(), "render", at("a.ldi").c_str(), "--orbit",
                    "360", "--frames", "5000", "--size", "64x64", "-o", out.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return child;
    };
    const auto framesFolders = [this] {
        int count = 0;
        for (const std::string& name : entries(dir_.path())) {
            count += name.rfind(".strata-frames-", 0) == 0 ? 1 : 0;
        }
        return count;
    };
    for (int signalNumber : {SIGTERM, SIGINT, SIGKILL}) {
        SCOPED_TRACE(signalNumber);
        const pid_t child = startVideo(at("v.mp4"));
        ASSERT_GT(child, 0);
        for (int i = 0; i < 20000 && framesFolders() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(framesFolders(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(child, signalNumber);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << status;
        EXPECT_EQ(framesFolders(), signalNumber == SIGKILL ? 1 : 0);
        EXPECT_FALSE(std::filesystem::exists(at("v.mp4")));
    }
    const CommandRun next =
        runStrata("render " + at("a.ldi") + " --orbit 10 --frames 2 -o " + at("next.mp4"));
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_EQ(framesFolders(), 0);
    EXPECT_TRUE(std::filesystem::exists(at("next.mp4")));
}

}  // namespace
