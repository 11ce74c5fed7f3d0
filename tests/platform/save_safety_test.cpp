// Saves under hostile conditions: real stop signals to a real child in the middle of a set's
// renames, leftovers of a save killed outright, old members that cannot be hard-linked, and
// outputs that are symbolic links or carry permission bits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "file_test_support.h"
#include "platform/file_io.h"

namespace strata::platform {
namespace {

using testing::slurp;
using testing::tempDir;

void put(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

constexpr int kMembers = 48;

std::string member(const std::string& dir, int i) {
    return dir + "/m" + std::to_string(i);
}

// Saves generation after generation of one set until stopped; every member of generation g
// holds "g".
[[noreturn]] void saveForever(const std::string& dir) {
    for (int generation = 1;; ++generation) {
        FileSetTransaction set;
        const std::string text = std::to_string(generation);
        for (int i = 0; i < kMembers; ++i) {
            const std::string temp = set.stage(member(dir, i));
            std::FILE* file = std::fopen(temp.c_str(), "wb");
            if (file == nullptr) {
                ::_exit(3);
            }
            std::fputs(text.c_str(), file);
            std::fclose(file);
        }
        if (!set.commit()) {
            ::_exit(4);
        }
    }
}

// The generations the members hold now (one entry when the set is whole).
std::set<std::string> generations(const std::string& dir) {
    std::set<std::string> seen;
    for (int i = 0; i < kMembers; ++i) {
        seen.insert(slurp(member(dir, i)));
    }
    return seen;
}

void writeGenerationZero(const std::string& dir) {
    for (int i = 0; i < kMembers; ++i) {
        put(member(dir, i), "0");
    }
}

// Starts a child saving generation after generation of a fresh set in dir, and returns once its
// first save is in.
pid_t startSaving(const std::string& dir) {
    writeGenerationZero(dir);
    const pid_t child = ::fork();
    if (child == 0) {
        saveForever(dir);
    }
    for (int wait = 0; child > 0 && wait < 20000 && slurp(member(dir, kMembers - 1)) == "0";
         ++wait) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return child;
}

// SIGINT and SIGTERM at random moments of a child saving a set over and over: the set left is
// always one generation, and nothing but its members is left beside it.
TEST(SaveSafety, StopSignalsNeverLeaveAMixedSet) {
    std::mt19937 random(12345);
    int stoppedLate = 0;
    for (int round = 0; round < 40; ++round) {
        const std::string dir = tempDir();
        const pid_t child = startSaving(dir);
        ASSERT_GT(child, 0);
        // Half the rounds stop the child at a random moment, the other half as soon as the first
        // member of a save is renamed and the last not yet.
        if (round % 4 < 2) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 100000));
        } else {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            while (slurp(member(dir, 0)) == slurp(member(dir, kMembers - 1)) &&
                   std::chrono::steady_clock::now() < until) {
            }
        }
        const int signalNumber = round % 2 == 0 ? SIGTERM : SIGINT;
        ::kill(child, signalNumber);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own: " << status;
        EXPECT_EQ(WTERMSIG(status), signalNumber);
        const std::set<std::string> seen = generations(dir);
        EXPECT_EQ(seen.size(), 1u)
            << "round " << round << ": a mixed set of " << seen.size() << " generations";
        stoppedLate += seen.count("0") == 0 ? 1 : 0;
        const std::vector<std::string> names = entries(dir);
        EXPECT_EQ(names.size(), static_cast<std::size_t>(kMembers))
            << "round " << round << ": left " << names.back();
        std::filesystem::remove_all(dir);
    }
    EXPECT_GT(stoppedLate, 0) << "no round stopped after the first save";
}

// A save killed outright (SIGKILL cannot be caught) leaves temporaries or backups; the next save
// of the same targets removes them, and leaves those of a live process alone.
TEST(SaveSafety, LeftoversOfAKilledSaveGoWithTheNextSave) {
    std::mt19937 random(777);
    bool leftovers = false;
    const std::string dir = tempDir();
    for (int attempt = 0; attempt < 40 && !leftovers; ++attempt) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directory(dir);
        const pid_t child = startSaving(dir);
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 100000));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        leftovers = entries(dir).size() > static_cast<std::size_t>(kMembers);
    }
    ASSERT_TRUE(leftovers) << "no kill landed inside a save";
    // A live process's temporary (this one's) is not touched.
    const std::string mine = member(dir, 0) + ".tmp" + std::to_string(::getpid()) + ".abcdef";
    put(mine, "mine");
    FileSetTransaction set;
    for (int i = 0; i < kMembers; ++i) {
        put(set.stage(member(dir, i)), "next");
    }
    ASSERT_TRUE(set.commit()) << set.error();
    std::vector<std::string> names = entries(dir);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kMembers) + 1)
        << ::testing::PrintToString(names);
    EXPECT_TRUE(std::filesystem::exists(mine));
    EXPECT_EQ(generations(dir), std::set<std::string>{"next"});
    std::filesystem::remove_all(dir);
}

// When the old member cannot be hard-linked (here: it has the most links ext4 allows) and a later
// rename fails, the old member comes back from a copy instead of being deleted.
TEST(SaveSafety, OldMembersThatCannotBeLinkedAreCopied) {
    const std::string dir = tempDir();
    put(dir + "/a", "old a");
    put(dir + "/b", "old b");
    std::filesystem::create_directory(dir + "/links");
    int made = 0;
    for (; made < 70000; ++made) {
        const std::string name = dir + "/links/" + std::to_string(made);
        if (::link((dir + "/a").c_str(), name.c_str()) != 0) {
            break;
        }
    }
    if (errno != EMLINK || made >= 70000) {
        std::filesystem::remove_all(dir);
        GTEST_SKIP() << "this file system allows more hard links than can be made here";
    }
    {
        FileSetTransaction set;
        put(set.stage(dir + "/a"), "new a");
        const std::string bTemp = set.stage(dir + "/b");
        put(bTemp, "new b");
        std::filesystem::remove(bTemp);  // b's rename will fail after a's succeeded
        EXPECT_FALSE(set.commit());
        EXPECT_NE(set.error().find(dir + "/b"), std::string::npos) << set.error();
    }
    EXPECT_EQ(slurp(dir + "/a"), "old a");
    EXPECT_EQ(slurp(dir + "/b"), "old b");
    std::filesystem::remove_all(dir + "/links");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"a", "b"}));
    std::filesystem::remove_all(dir);
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// A replaced file keeps its permission bits; a new one gets those of an ordinary create.
TEST(SaveSafety, ReplacedFilesKeepTheirPermissions) {
    const std::string dir = tempDir();
    put(dir + "/single", "old");
    put(dir + "/member", "old");
    ::chmod((dir + "/single").c_str(), 0640);
    ::chmod((dir + "/member").c_str(), 0604);
    {
        AtomicFileWriter writer(dir + "/single");
        ASSERT_TRUE(writer.write("new", 3));
        ASSERT_TRUE(writer.commit());
    }
    {
        FileSetTransaction set;
        put(set.stage(dir + "/member"), "new");
        put(set.stage(dir + "/fresh"), "new");
        ASSERT_TRUE(set.commit());
    }
    EXPECT_EQ(modeOf(dir + "/single"), 0640u);
    EXPECT_EQ(modeOf(dir + "/member"), 0604u);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(dir + "/fresh"), 0666u & ~mask);
    EXPECT_EQ(slurp(dir + "/single"), "new");
    std::filesystem::remove_all(dir);
}

// An output that is a symbolic link is written through: the file it leads to is replaced and
// the link stays a link. A link to a FIFO is refused like the FIFO.
TEST(SaveSafety, SymbolicLinkOutputsAreWrittenThrough) {
    const std::string dir = tempDir();
    std::filesystem::create_directory(dir + "/real");
    put(dir + "/real/target.png", "old");
    std::filesystem::create_symlink("real/target.png", dir + "/link.png");
    std::filesystem::create_symlink("real/new.png", dir + "/dangling.png");
    ASSERT_EQ(::mkfifo((dir + "/real/fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("real/fifo", dir + "/tofifo.png");
    for (const char* name : {"/link.png", "/dangling.png"}) {
        AtomicFileWriter writer(dir + name);
        ASSERT_TRUE(writer.write("new", 3));
        ASSERT_TRUE(writer.commit()) << writer.error();
        EXPECT_TRUE(std::filesystem::is_symlink(dir + name)) << name;
    }
    EXPECT_EQ(slurp(dir + "/real/target.png"), "new");
    EXPECT_EQ(slurp(dir + "/real/new.png"), "new");
    {
        FileSetTransaction set;
        put(set.stage(dir + "/link.png"), "set");
        ASSERT_TRUE(set.commit()) << set.error();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.png"));
    EXPECT_EQ(slurp(dir + "/real/target.png"), "set");
    AtomicFileWriter fifo(dir + "/tofifo.png");
    EXPECT_FALSE(fifo.isOpen());
    EXPECT_NE(fifo.error().find("is a FIFO"), std::string::npos) << fifo.error();
    EXPECT_EQ(entries(dir),
              (std::vector<std::string>{"dangling.png", "link.png", "real", "tofifo.png"}));
    EXPECT_EQ(entries(dir + "/real"), (std::vector<std::string>{"fifo", "new.png", "target.png"}));
    std::filesystem::remove_all(dir);
}

// A finished file moved into place is checked as any save target and keeps the old bits.
TEST(SaveSafety, MoveIntoPlaceChecksTheTarget) {
    const std::string dir = tempDir();
    put(dir + "/video.tmp", "encoded");
    ASSERT_EQ(::mkfifo((dir + "/fifo.mp4").c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(moveIntoPlace(dir + "/video.tmp", dir + "/fifo.mp4", error));
    EXPECT_NE(error.find("is a FIFO"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::exists(dir + "/video.tmp"));
    put(dir + "/out.mp4", "old");
    ::chmod((dir + "/out.mp4").c_str(), 0600);
    ASSERT_TRUE(moveIntoPlace(dir + "/video.tmp", dir + "/out.mp4", error)) << error;
    EXPECT_EQ(slurp(dir + "/out.mp4"), "encoded");
    EXPECT_EQ(modeOf(dir + "/out.mp4"), 0600u);
    std::filesystem::remove_all(dir);
}

// A registered folder goes with every file in it when a stop signal comes.
TEST(SaveSafetyDeathTest, StopSignalsRemoveRegisteredFolders) {
    const std::string dir = tempDir();
    EXPECT_EXIT(
        {
            const std::string frames = dir + "/frames";
            registerTemporaryFolder(frames);
            std::filesystem::create_directory(frames);
            for (int i = 0; i < 300; ++i) {
                put(frames + "/" + std::to_string(i) + ".png", "frame");
            }
            std::raise(SIGTERM);
            std::exit(3);
        },
        ::testing::KilledBySignal(SIGTERM), "");
    EXPECT_TRUE(entries(dir).empty());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace strata::platform
