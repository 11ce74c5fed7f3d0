// Pyramid and set lists: the level choice by distance, the member choice by direction, the
// option hand-over, name lookup and refusals of short or malformed lists.
#include "ldi/ldi_pyramid.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/ldi_samples.h"
#include "ldi/ldi_set.h"
#include "ldi/ldi_types.h"
#include "platform/debug_output.h"

namespace strata::ldi {
namespace {

using testing::TempDir;
using testing::writeText;

// Writes a small RT/QP LDI under name in dir.
void writeLevel(const TempDir& dir, const std::string& name, std::uint32_t seed = 1) {
    auto ldi = testing::makeSample(toInt(LdiType::RT), toInt(DptType::QP), 4, 3, seed);
    ASSERT_TRUE(ldi);
    ldi->reportErrors = false;
    ASSERT_EQ(ldi->Save(dir.file(name)), 1);
}

// A pyramid of the given distances whose level files exist (or not, for the names given).
void giveLevels(LdiPyramid& pyramid, const std::vector<float>& distances) {
    pyramid.levelCount = static_cast<std::int32_t>(distances.size());
    pyramid.levelDistance = distances;
    pyramid.levels.resize(distances.size());
    for (auto& level : pyramid.levels) {
        level = testing::makeSample(toInt(LdiType::RT), toInt(DptType::QP), 2, 2, 3);
    }
}

TEST(LdiPyramid, SelectLevelSwitchesStrictlyAboveMidpoints) {
    LdiPyramid pyramid;
    giveLevels(pyramid, {1.0f, 2.0f, 4.0f});
    // Midpoints 1.5 (levels 0/1) and 3.0 (levels 1/2); a distance on a midpoint keeps the lower.
    const struct {
        float distance;
        std::int32_t level;
    } cases[] = {{1.4f, 0},   {1.5f, 0},  {1.6f, 1}, {3.0f, 1}, {3.01f, 2},
                 {100.0f, 2}, {-5.0f, 0}, {0.0f, 0}, {2.9f, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(pyramid.SelectLevel(c.distance), c.level) << c.distance;
        EXPECT_EQ(pyramid.currentLevel, c.level) << c.distance;
        EXPECT_EQ(pyramid.CurrentLdi(), pyramid.levels[static_cast<std::size_t>(c.level)].get());
    }
    LdiPyramid one;
    giveLevels(one, {7.0f});
    EXPECT_EQ(one.SelectLevel(1000.0f), 0);
    EXPECT_EQ(one.SelectLevel(-1000.0f), 0);
}

TEST(LdiPyramid, SetLevelClampsAndEmptyPyramidsChangeNothing) {
    LdiPyramid pyramid;
    giveLevels(pyramid, {1.0f, 2.0f, 4.0f});
    EXPECT_EQ(pyramid.SetLevel(-3), 0);
    EXPECT_EQ(pyramid.SetLevel(99), 2);
    EXPECT_EQ(pyramid.currentLevel, 2);
    EXPECT_EQ(pyramid.SetLevel(3), 2);
    EXPECT_EQ(pyramid.SetLevel(1), 1);
    EXPECT_EQ(pyramid.SetLevel(0), 0);

    LdiPyramid empty;
    EXPECT_EQ(empty.SetLevel(5), 0);
    EXPECT_EQ(empty.SelectLevel(5.0f), 0);
    EXPECT_EQ(empty.CurrentLdi(), nullptr);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(16, 16);
    const LdiDrawStats stats =
        empty.DrawAll(geometry::Matrix4::identity(), geometry::Matrix4::identity(), {}, frame);
    EXPECT_EQ(stats.visited, 0);
}

TEST(LdiPyramid, LevelSwitchesCarryTheRenderOptionsAndSkipEmptyLevels) {
    LdiPyramid pyramid;
    giveLevels(pyramid, {1.0f, 2.0f, 4.0f, 8.0f});
    pyramid.levels[0]->options.useSplat = 1;
    pyramid.levels[0]->options.falseColorMode = 6;
    pyramid.levels[0]->options.backfaceCulling = 1;
    EXPECT_EQ(pyramid.SelectLevel(1.6f), 1);
    EXPECT_EQ(pyramid.levels[1]->options.useSplat, 1);
    EXPECT_EQ(pyramid.levels[1]->options.falseColorMode, 6);
    EXPECT_EQ(pyramid.levels[1]->options.backfaceCulling, 1);
    // SetLevel hands over too.
    pyramid.levels[1]->options.falseColorMode = 2;
    EXPECT_EQ(pyramid.SetLevel(3), 3);
    EXPECT_EQ(pyramid.levels[3]->options.falseColorMode, 2);
    // An empty level becomes current without giving or taking options, and draws nothing.
    pyramid.levels[2].reset();
    EXPECT_EQ(pyramid.SelectLevel(3.5f), 2);
    EXPECT_EQ(pyramid.CurrentLdi(), nullptr);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(16, 16);
    EXPECT_EQ(
        pyramid.DrawAll(geometry::Matrix4::identity(), geometry::Matrix4::identity(), {}, frame)
            .visited,
        0);
    pyramid.levels[0]->options.falseColorMode = 1;
    EXPECT_EQ(pyramid.SelectLevel(1.0f), 0);
    EXPECT_EQ(pyramid.levels[0]->options.falseColorMode, 1);  // nothing came from level 2
}

TEST(LdiPyramid, OpensListsBesideTheListAndFallsBackToTheLdipyrName) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("v1.2"));
    writeLevel(dir, "v1.2/a_l0.ldi", 1);
    writeLevel(dir, "v1.2/a_l1.ldi", 2);
    // Tokens may be split over lines any way; names resolve beside the list.
    writeText(dir.file("v1.2/a.ldipyr"), "2\na_l0.ldi\n1.5 a_l1.ldi 3.25\n");
    writeText(dir.file("v1.2/scene.ldipyr"), "1 a_l0.ldi 2\n");
    LdiPyramid pyramid;
    pyramid.reportErrors = false;
    ASSERT_EQ(pyramid.OpenPyramid(dir.file("v1.2/a.ldipyr")), 1) << pyramid.openError();
    EXPECT_EQ(pyramid.levelCount, 2);
    EXPECT_EQ(pyramid.levelDistance, (std::vector<float>{1.5f, 3.25f}));
    ASSERT_NE(pyramid.levels[0], nullptr);
    ASSERT_NE(pyramid.levels[1], nullptr);
    EXPECT_EQ(pyramid.levelPath(1), dir.file("v1.2/a_l1.ldi"));

    // Missing files retry "<first part of the file name>.ldipyr" in the same folder.
    const struct {
        std::string asked;
        std::string opened;
        std::int32_t levels;
    } fallbacks[] = {
        {"v1.2/scene.ldi", "v1.2/scene.ldipyr", 1},
        {"v1.2/a.b.c", "v1.2/a.ldipyr", 2},
        {"v1.2/scene", "v1.2/scene.ldipyr", 1},
    };
    for (const auto& f : fallbacks) {
        LdiPyramid p;
        p.reportErrors = false;
        EXPECT_EQ(p.OpenPyramid(dir.file(f.asked)), 1) << f.asked << ": " << p.openError();
        EXPECT_EQ(p.listPath(), dir.file(f.opened));
        EXPECT_EQ(p.levelCount, f.levels);
    }
    EXPECT_EQ(PyramidFallbackPath("a.b.c"), "a.ldipyr");
    EXPECT_EQ(PyramidFallbackPath("/data/v1.2/scene"), "/data/v1.2/scene.ldipyr");
    EXPECT_EQ(PyramidFallbackPath("./scene.ldi"), "./scene.ldipyr");
    EXPECT_EQ(PyramidFallbackPath("dir/.hidden"), "");

    LdiPyramid missing;
    missing.reportErrors = false;
    EXPECT_EQ(missing.OpenPyramid(dir.file("v1.2/nothing.ldi")), 0);
    EXPECT_EQ(missing.openError(), "Can't open file " + dir.file("v1.2/nothing.ldi") + " (nor " +
                                       dir.file("v1.2/nothing.ldipyr") + ").");
    EXPECT_EQ(missing.levelCount, 0);
}

TEST(LdiPyramid, AMemberThatDoesNotLoadLeavesAnEmptyLevel) {
    TempDir dir;
    writeLevel(dir, "good.ldi");
    writeText(dir.file("bad.ldi"), "not an LDI");
    writeText(dir.file("p.ldipyr"), "3 good.ldi 1 bad.ldi 2 gone.ldi 4\n");
    const platform::DebugCapture quiet;
    LdiPyramid pyramid;
    pyramid.reportErrors = false;
    ASSERT_EQ(pyramid.OpenPyramid(dir.file("p.ldipyr")), 1);
    ASSERT_EQ(pyramid.levelCount, 3);
    EXPECT_NE(pyramid.levels[0], nullptr);
    EXPECT_EQ(pyramid.levels[1], nullptr);
    EXPECT_EQ(pyramid.levels[2], nullptr);
    EXPECT_EQ(pyramid.levelError(0), "");
    EXPECT_NE(pyramid.levelError(1), "");
    EXPECT_NE(pyramid.levelError(2).find("gone.ldi"), std::string::npos);
    EXPECT_EQ(pyramid.FirstLoadedLdi(), pyramid.levels[0].get());
}

TEST(LdiPyramid, ShortOrMalformedListsAreRefusedNamingTheLine) {
    TempDir dir;
    writeLevel(dir, "l.ldi");
    const struct {
        const char* text;
        int line;
        const char* says;
    } cases[] = {
        {"", 1, "no level count"},
        {"two l.ldi 1", 1, "level count"},
        {"-1", 1, "level count"},
        {"65\n", 1, "level count"},
        {"2.0 l.ldi 1 l.ldi 2", 1, "level count"},
        {"2\nl.ldi 1\n", 2, "ends after 1 of its 2"},
        {"2\nl.ldi 1\nl.ldi\n", 3, "level 1 has no distance"},
        {"1\nl.ldi far\n", 2, "not a number"},
        {"1\nl.ldi 1.5x\n", 2, "not a number"},
        {"1\nl.ldi nan\n", 2, "not a number"},
        {"1\nl.ldi 1\n\nextra\n", 4, "text after"},
        {"1\nl.ldi 1 2\n", 2, "text after"},
        {"1\nl.\x01ldi 1\n", 0, "not a text list"},
    };
    for (const auto& c : cases) {
        writeText(dir.file("m.ldipyr"), c.text);
        LdiPyramid pyramid;
        pyramid.reportErrors = false;
        EXPECT_EQ(pyramid.OpenPyramid(dir.file("m.ldipyr")), 0) << c.text;
        EXPECT_EQ(pyramid.levelCount, 0) << c.text;
        EXPECT_TRUE(pyramid.levels.empty()) << c.text;
        const std::string& error = pyramid.openError();
        EXPECT_NE(error.find(dir.file("m.ldipyr")), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.text << " -> " << error;
        if (c.line > 0) {
            EXPECT_NE(error.find(", line " + std::to_string(c.line) + ":"), std::string::npos)
                << c.text << " -> " << error;
        }
    }
    // The largest count is accepted when the entries are there.
    std::string full = "64\n";
    for (int i = 0; i < 64; ++i) {
        full += "l.ldi " + std::to_string(i) + "\n";
    }
    writeText(dir.file("full.ldipyr"), full);
    LdiPyramid pyramid;
    pyramid.reportErrors = false;
    EXPECT_EQ(pyramid.OpenPyramid(dir.file("full.ldipyr")), 1) << pyramid.openError();
    EXPECT_EQ(pyramid.levelCount, 64);
    writeText(dir.file("zero.ldipyr"), "0\n");
    EXPECT_EQ(pyramid.OpenPyramid(dir.file("zero.ldipyr")), 1);
    EXPECT_EQ(pyramid.levelCount, 0);
    EXPECT_EQ(pyramid.CurrentLdi(), nullptr);
}

TEST(LdiSet, ChoosesTheSmallestDotProductAndKeepsTheLowerIndexOnTies) {
    const std::vector<geometry::Vector3> directions = {
        {0, 0, 1}, {1, 0, 0}, {0, 0, -1}, {-1, 0, 0}, {1, 0, 0}};
    // v points from the camera toward the look-at centre: a camera on +z has v along -z.
    EXPECT_EQ(ChooseMemberByDirection({0, 0, -5}, directions), 0);
    EXPECT_EQ(ChooseMemberByDirection({-2, 0, 0}, directions), 1);  // members 1 and 4 tie
    EXPECT_EQ(ChooseMemberByDirection({0, 0, 3}, directions), 2);
    EXPECT_EQ(ChooseMemberByDirection({1, 0, 0}, directions), 3);
    EXPECT_EQ(ChooseMemberByDirection({-1, 0, -1}, directions), 0);  // 0 and 1 tie at -1
    EXPECT_EQ(ChooseMemberByDirection({0, 0, 0}, directions), 0);    // every dot 0
    EXPECT_EQ(ChooseMemberByDirection({1, 0, 0}, {}), 0);
}

TEST(LdiSet, OpensMembersAndPicksMemberThenLevelForACamera) {
    TempDir dir;
    writeLevel(dir, "f0.ldi", 1);
    writeLevel(dir, "f1.ldi", 2);
    writeText(dir.file("front.ldipyr"), "2 f0.ldi 1 f1.ldi 4\n");
    writeText(dir.file("back.ldipyr"), "1 f0.ldi 1\n");
    writeText(dir.file("s.ldiset"),
              "3\nfront.ldipyr 0 0 1\nback.ldipyr 0 0 -1\nmissing.ldipyr 1 0 0\n");
    LdiSet set;
    set.reportErrors = false;
    ASSERT_EQ(set.OpenSet(dir.file("s.ldiset")), 1) << set.openError();
    ASSERT_EQ(set.memberCount, 3);
    EXPECT_EQ(set.memberDirection[1].z, -1.0f);
    ASSERT_NE(set.members[2], nullptr);  // present, empty
    EXPECT_EQ(set.members[2]->levelCount, 0);
    // Camera on +z far away: member 0, level 1 (distance 10 from (0, 0, 0) is past 2.5).
    LdiBase* drawn = ChooseMemberAndLevel(set, {0, 0, 10}, 0.0f);
    EXPECT_EQ(set.currentMember, 0);
    EXPECT_EQ(set.members[0]->currentLevel, 1);
    EXPECT_EQ(drawn, set.members[0]->levels[1].get());
    // Frozen: the member still follows the direction, the level does not change.
    drawn = ChooseMemberAndLevel(set, {0, 0, 2}, 0.0f, true);
    EXPECT_EQ(set.members[0]->currentLevel, 1);
    // Camera on -z: member 1; on +x: the empty member draws nothing.
    ChooseMemberAndLevel(set, {0, 0, -3}, 0.0f);
    EXPECT_EQ(set.currentMember, 1);
    EXPECT_EQ(ChooseMemberAndLevel(set, {9, 0, 0}, 0.0f), nullptr);
    EXPECT_EQ(set.currentMember, 2);
    // The look-at centre sits at (0, 0, lookAtDepth).
    EXPECT_FLOAT_EQ(LookAtDistance({3, 4, 7}, 7.0f), 5.0f);
}

TEST(LdiSet, ShortOrMalformedListsAreRefusedNamingTheLine) {
    TempDir dir;
    writeText(dir.file("p.ldipyr"), "0\n");
    const struct {
        const char* text;
        int line;
        const char* says;
    } cases[] = {
        {"", 1, "no member count"},
        {"257\n", 1, "member count"},
        {"x\n", 1, "member count"},
        {"1\np.ldipyr 0 0\n", 2, "2 of its 3"},
        {"2\np.ldipyr 0 0 1\n", 2, "ends after 1 of its 2"},
        {"1\np.ldipyr 0 zero 1\n", 2, "not a number"},
        {"1\np.ldipyr 0 0 1\n0\n", 3, "text after"},
    };
    for (const auto& c : cases) {
        writeText(dir.file("m.ldiset"), c.text);
        LdiSet set;
        set.reportErrors = false;
        EXPECT_EQ(set.OpenSet(dir.file("m.ldiset")), 0) << c.text;
        EXPECT_EQ(set.memberCount, 0);
        EXPECT_TRUE(set.members.empty());
        EXPECT_NE(set.openError().find(c.says), std::string::npos)
            << c.text << " -> " << set.openError();
        EXPECT_NE(set.openError().find(", line " + std::to_string(c.line) + ":"), std::string::npos)
            << set.openError();
    }
    LdiSet set;
    set.reportErrors = false;
    EXPECT_EQ(set.OpenSet(dir.file("none.ldiset")), 0);
    EXPECT_EQ(set.openError(), "Can't open file " + dir.file("none.ldiset") + " .");
}

}  // namespace
}  // namespace strata::ldi
