// What lists may make the loaders read, and how much: members outside the opened file's folder,
// one file named by many levels and members, and the memory budget of a list.
#include "ldi/ldi_list_load.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_pyramid.h"
#include "ldi/ldi_samples.h"
#include "ldi/ldi_set.h"
#include "ldi/ldi_types.h"
#include "platform/debug_output.h"
#include "platform/folder_fence.h"

namespace strata::ldi {
namespace {

using testing::TempDir;
using testing::writeText;

void writeLevel(const std::string& path, std::int32_t side = 4, std::uint32_t seed = 1) {
    auto ldi = testing::makeSample(toInt(LdiType::RT), toInt(DptType::QP), side, side, seed);
    ASSERT_TRUE(ldi);
    ASSERT_EQ(ldi->Save(path), 1);
}

std::string levelRefusal(const std::string& list) {
    LdiPyramid pyramid;
    pyramid.reportErrors = false;
    if (pyramid.OpenPyramid(list) == 0) {
        return "open: " + pyramid.openError();
    }
    return pyramid.levels[0] ? std::string("<loaded>") : pyramid.levelError(0);
}

class ListFence : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setOutsidePathsAllowed(false);
        std::filesystem::create_directories(dir_.file("model/sub"));
        std::filesystem::create_directories(dir_.file("elsewhere"));
        writeLevel(dir_.file("model/sub/in.ldi"));
        writeLevel(dir_.file("elsewhere/out.ldi"));
    }
    void TearDown() override { platform::setOutsidePathsAllowed(false); }

    TempDir dir_;
};

// Members inside the list's folder (subfolders too) load; any name leading out, by "..", an
// absolute path, a backslash or a link, is refused with one line that reads the same whether or
// not the outside file exists.
TEST_F(ListFence, MembersOutsideTheListsFolderAreRefused) {
    const platform::DebugCapture quiet;
    const std::string outside = dir_.file("elsewhere/out.ldi");
    std::filesystem::create_symlink("../elsewhere/out.ldi", dir_.file("model/link.ldi"));
    std::filesystem::create_symlink("../elsewhere/none.ldi", dir_.file("model/dangling.ldi"));
    struct Case {
        std::string name;
        const char* expected;
    };
    const Case cases[] = {
        {"sub/in.ldi", "<loaded>"},
        {"./sub/../sub/in.ldi", "<loaded>"},
        {"sub\\in.ldi", "<loaded>"},
        {"../elsewhere/out.ldi", "lies outside"},
        {"..\\elsewhere\\out.ldi", "lies outside"},
        {outside, "lies outside"},
        {"link.ldi", "lies outside"},
        {"dangling.ldi", "lies outside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(dir_.file("model/p.ldipyr"), "1 " + c.name + " 1\n");
        const std::string line = levelRefusal(dir_.file("model/p.ldipyr"));
        EXPECT_NE(line.find(c.expected), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
    // The same line whether the outside file is there or not, and no size or kind of it.
    writeText(dir_.file("model/p.ldipyr"), "1 ../elsewhere/out.ldi 1\n");
    const std::string there = levelRefusal(dir_.file("model/p.ldipyr"));
    std::filesystem::remove(outside);
    const std::string gone = levelRefusal(dir_.file("model/p.ldipyr"));
    EXPECT_EQ(there, gone);
    std::filesystem::create_directory(outside);
    EXPECT_EQ(levelRefusal(dir_.file("model/p.ldipyr")), there);
    EXPECT_EQ(there.find("bytes"), std::string::npos) << there;

    // With outside paths allowed, the outside file is read.
    std::filesystem::remove(outside);
    writeLevel(outside);
    platform::setOutsidePathsAllowed(true);
    EXPECT_EQ(levelRefusal(dir_.file("model/p.ldipyr")), "<loaded>");
}

// A set keeps the fence of its own folder for its pyramids and their levels; quad halves and
// set members are held to it too.
TEST_F(ListFence, SetsAndQuadsKeepTheirFolder) {
    const platform::DebugCapture quiet;
    writeText(dir_.file("model/sub/p.ldipyr"), "2 in.ldi 1 ../../elsewhere/out.ldi 2\n");
    writeText(dir_.file("model/s.ldiset"), "2 sub/p.ldipyr 0 0 1 ../elsewhere/q.ldipyr 0 0 -1\n");
    writeText(dir_.file("elsewhere/q.ldipyr"), "1 out.ldi 1\n");
    LdiSet set;
    set.reportErrors = false;
    ASSERT_EQ(set.OpenSet(dir_.file("model/s.ldiset")), 1) << set.openError();
    ASSERT_EQ(set.memberCount, 2);
    EXPECT_NE(set.members[0]->levels[0], nullptr);
    EXPECT_NE(set.members[0]->levelError(1).find("lies outside"), std::string::npos)
        << set.members[0]->levelError(1);
    EXPECT_NE(set.members[1]->openError().find("lies outside"), std::string::npos)
        << set.members[1]->openError();

    writeText(dir_.file("model/q.ldiquad"), "sub/in.ldi\n../elsewhere/out.ldi\n 1 2 3 4 5 6\n");
    std::string error;
    EXPECT_EQ(LoadLdi(dir_.file("model/q.ldiquad"), &error), nullptr);
    EXPECT_NE(error.find("bottom half refused: \"../elsewhere/out.ldi\" lies outside"),
              std::string::npos)
        << error;
}

// Levels and members naming one file share one loaded LDI, under any spelling of its name.
TEST(ListLoad, OneFileNamedManyTimesIsLoadedOnce) {
    TempDir dir;
    writeLevel(dir.file("a.ldi"));
    writeLevel(dir.file("b.ldi"), 4, 2);
    std::filesystem::create_hard_link(dir.file("a.ldi"), dir.file("hard.ldi"));
    std::string list = "64";
    for (int i = 0; i < 64; ++i) {
        list += i % 3 == 0 ? " a.ldi " : i % 3 == 1 ? " ./a.ldi " : " hard.ldi ";
        list += std::to_string(i + 1);
    }
    writeText(dir.file("p.ldipyr"), list + "\n");
    writeText(dir.file("q.ldipyr"), "2 b.ldi 1 a.ldi 2\n");
    writeText(dir.file("s.ldiset"), "3 p.ldipyr 0 0 1 q.ldipyr 1 0 0 p.ldipyr 0 1 0\n");
    LdiSet set;
    set.reportErrors = false;
    ASSERT_EQ(set.OpenSet(dir.file("s.ldiset")), 1) << set.openError();
    const LdiBase* a = set.members[0]->levels[0].get();
    ASSERT_NE(a, nullptr);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(set.members[0]->levels[static_cast<std::size_t>(i)].get(), a) << i;
        EXPECT_EQ(set.members[2]->levels[static_cast<std::size_t>(i)].get(), a) << i;
    }
    EXPECT_EQ(set.members[1]->levels[1].get(), a);
    EXPECT_NE(set.members[1]->levels[0].get(), a);
    // Options handed from level to level of one file change nothing.
    set.members[0]->levels[0]->options.falseColorMode = 3;
    set.members[0]->SetLevel(5);
    EXPECT_EQ(set.members[0]->CurrentLdi()->options.falseColorMode, 3);
}

// The budget counts each distinct file once, from its header: a list naming one file 64 times
// fits a budget a little over that file's size; a budget just under it refuses the list whole.
TEST(ListLoad, ListsOverTheMemoryBudgetAreRefused) {
    TempDir dir;
    writeLevel(dir.file("a.ldi"), 64);
    writeLevel(dir.file("b.ldi"), 32, 2);
    std::string list = "64";
    for (int i = 0; i < 64; ++i) {
        list += " a.ldi " + std::to_string(i + 1);
    }
    writeText(dir.file("p.ldipyr"), list + "\n");
    writeText(dir.file("two.ldipyr"), "2 a.ldi 1 b.ldi 2\n");
    const auto one = EstimateLoadedBytes(dir.file("a.ldi"));
    const auto other = EstimateLoadedBytes(dir.file("b.ldi"));
    ASSERT_TRUE(one && other);
    // At least the file's arrays, at most the arrays and the object's tables.
    const auto fileBytes = std::filesystem::file_size(dir.file("a.ldi"));
    EXPECT_GE(*one, fileBytes - LdiHeader::kSize);
    EXPECT_LT(*one, fileBytes + 2 * sizeof(LdiBase) + (1 << 20));
    EXPECT_FALSE(EstimateLoadedBytes(dir.file("p.ldipyr")));  // not an LDI

    struct Case {
        std::string list;
        std::uint64_t budget;
        bool loads;
    };
    const Case cases[] = {
        {"p.ldipyr", *one, true},
        {"p.ldipyr", *one - 1, false},
        {"two.ldipyr", *one + *other, true},
        {"two.ldipyr", *one + *other - 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list + " with " + std::to_string(c.budget));
        setListMemoryBudget(c.budget);
        LdiPyramid pyramid;
        pyramid.reportErrors = false;
        EXPECT_EQ(pyramid.OpenPyramid(dir.file(c.list)) == 1, c.loads) << pyramid.openError();
        if (!c.loads) {
            EXPECT_NE(pyramid.openError().find("more than the budget"), std::string::npos)
                << pyramid.openError();
            EXPECT_EQ(pyramid.levelCount, 0);
        }
    }
    // A set is budgeted over all its members together.
    writeText(dir.file("s.ldiset"), "2 p.ldipyr 0 0 1 two.ldipyr 1 0 0\n");
    setListMemoryBudget(*one + *other - 1);
    LdiSet set;
    set.reportErrors = false;
    EXPECT_EQ(set.OpenSet(dir.file("s.ldiset")), 0);
    EXPECT_NE(set.openError().find("2 distinct LDI files"), std::string::npos) << set.openError();
    setListMemoryBudget(std::nullopt);

    // The budget from the environment, and a value that is no byte count.
    ::setenv("STRATA_MEMORY_BUDGET", "1K", 1);
    EXPECT_EQ(listMemoryBudget().bytes, 1024u);
    LdiPyramid small;
    small.reportErrors = false;
    EXPECT_EQ(small.OpenPyramid(dir.file("two.ldipyr")), 0);
    EXPECT_NE(small.openError().find("STRATA_MEMORY_BUDGET"), std::string::npos);
    ::setenv("STRATA_MEMORY_BUDGET", "lots", 1);
    EXPECT_EQ(small.OpenPyramid(dir.file("two.ldipyr")), 0);
    EXPECT_NE(small.openError().find("is not a byte count"), std::string::npos);
    ::unsetenv("STRATA_MEMORY_BUDGET");
    EXPECT_EQ(listMemoryBudget().bytes, physicalMemoryBytes() / 2);
    EXPECT_EQ(small.OpenPyramid(dir.file("two.ldipyr")), 1) << small.openError();
}

}  // namespace
}  // namespace strata::ldi
