// Runs the built `strata info` on valid and refused files: exit codes, verdict lines, JSON.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "command_run.h"
#include "ldi/ldi_samples.h"

namespace {

using strata::ldi::testing::makeSample;
using strata::ldi::testing::readBytes;
using strata::ldi::testing::TempDir;
using strata::ldi::testing::writeBytes;
using strata::testing::CommandRun;

CommandRun runStrata(const std::string& arguments) {
    return strata::testing::runCommand(std::string(STRATA_EXE) + " " + arguments + " 2>/dev/null");
}

std::string lastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n') {
        trimmed.pop_back();
    }
    const auto nl = trimmed.find_last_of('\n');
    return nl == std::string::npos ? trimmed : trimmed.substr(nl + 1);
}

TEST(StrataInfo, ValidFileReportsItsContents) {
    TempDir dir;
    auto ldi = makeSample(2, 6, 5, 3, 4);
    ASSERT_EQ(ldi->Save(dir.file("m.ldi")), 1);
    const CommandRun run = runStrata("info " + dir.file("m.ldi"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(lastLine(run.out), "verdict: valid");
    EXPECT_NE(run.out.find("kind: RTFF / MRQP (ldiType 2, dptType 6)"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("grid: 5 x 3"), std::string::npos);
    EXPECT_NE(run.out.find("layers per pixel: min "), std::string::npos);
    EXPECT_NE(run.out.find("bins: 32 in use"), std::string::npos);
    EXPECT_NE(run.out.find("reference camera: pos (0.5, 0.25, 4)"), std::string::npos);
    EXPECT_NE(run.out.find("generator: 1001 rays, 1002 hits"), std::string::npos);
}

TEST(StrataInfo, RefusedFileGivesTheLoadersReason) {
    TempDir dir;
    auto ldi = makeSample(1, 2, 5, 3, 4);
    ASSERT_EQ(ldi->Save(dir.file("q.ldi")), 1);
    auto bytes = readBytes(dir.file("q.ldi"));
    bytes.resize(bytes.size() - 3);
    writeBytes(dir.file("q.ldi"), bytes);
    const CommandRun run = runStrata("info " + dir.file("q.ldi"));
    EXPECT_EQ(run.status, 1);
    const std::string verdict = lastLine(run.out);
    EXPECT_EQ(verdict.rfind("verdict: refused: " + dir.file("q.ldi") + ": truncated", 0), 0u)
        << verdict;
    EXPECT_NE(run.out.find("kind: RT / QP"), std::string::npos);

    const CommandRun missing = runStrata("info " + dir.file("none.ldi"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(lastLine(missing.out).find("cannot open"), std::string::npos);
}

TEST(StrataInfo, JsonAndUsage) {
    TempDir dir;
    auto quad = makeSample(5, 2, 4, 2, 8);
    ASSERT_EQ(quad->Save(dir.file("scene")), 1);
    const CommandRun run = runStrata("info --json " + dir.file("scene.ldiquad"));
    EXPECT_EQ(run.status, 0);
    const auto json = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << run.out;
    EXPECT_EQ(json["verdict"], "valid");
    EXPECT_EQ(json["ldiTypeName"], "RTQuad");
    EXPECT_EQ(json["depthPixels"].get<long long>(), quad->DepthPixelCount());
    EXPECT_EQ(json["layersPerPixel"]["min"].get<int>() >= 0, true);

    EXPECT_EQ(runStrata("info").status, 2);
    EXPECT_EQ(runStrata("info a b").status, 2);
}

}  // namespace
