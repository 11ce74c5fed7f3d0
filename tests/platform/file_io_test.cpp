#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/debug_output.h"

namespace strata::platform {
namespace {

std::string tempDir() {
    char pattern[] = "/tmp/strata-file-io-XXXXXX";
    return ::mkdtemp(pattern);
}

std::string slurp(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!readWholeFile(path, bytes, error)) {
        return "<" + error + ">";
    }
    return {bytes.begin(), bytes.end()};
}

TEST(AtomicFileWriter, CommitReplacesTarget) {
    const std::string dir = tempDir();
    const std::string target = dir + "/out.bin";
    {
        AtomicFileWriter w(target);
        ASSERT_TRUE(w.isOpen());
        ASSERT_TRUE(w.write("old", 3));
        ASSERT_TRUE(w.commit());
    }
    {
        AtomicFileWriter w(target);
        ASSERT_TRUE(w.write("new!", 4));
        EXPECT_EQ(slurp(target), "old");  // untouched until commit
        ASSERT_TRUE(w.commit());
    }
    EXPECT_EQ(slurp(target), "new!");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    std::filesystem::remove_all(dir);
}

TEST(AtomicFileWriter, AbandonedWriteLeavesTargetAndNoTemporary) {
    const std::string dir = tempDir();
    const std::string target = dir + "/keep.bin";
    {
        AtomicFileWriter w(target);
        w.write("good", 4);
        w.commit();
    }
    {
        AtomicFileWriter w(target);
        w.write("partial", 7);
        // destroyed without commit, as after a failed write
    }
    EXPECT_EQ(slurp(target), "good");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    std::filesystem::remove_all(dir);
}

TEST(AtomicFileWriter, UnwritableFolderFailsCleanly) {
    AtomicFileWriter w("/nonexistent-folder-strata/x.bin");
    EXPECT_FALSE(w.isOpen());
    EXPECT_FALSE(w.write("x", 1));
    EXPECT_FALSE(w.commit());
    EXPECT_FALSE(w.error().empty());
}

TEST(FileIo, PathsOfListMembers) {
    EXPECT_EQ(directoryOf("a/b/c.ldi"), "a/b");
    EXPECT_EQ(directoryOf("c.ldi"), "");
    EXPECT_EQ(directoryOf("/c.ldi"), "/");
    EXPECT_EQ(joinPath("a/b", "c.ldi"), "a/b/c.ldi");
    EXPECT_EQ(joinPath("a/b/", "c.ldi"), "a/b/c.ldi");
    EXPECT_EQ(joinPath("a", "/abs/c.ldi"), "/abs/c.ldi");
    EXPECT_EQ(joinPath("", "c.ldi"), "c.ldi");
}

TEST(DebugOutput, CaptureCollectsOnePiecePerCall) {
    DebugCapture capture;
    debugPrintf("%s: %d\n", "a", 1);
    debugOutput("b\n");
    ASSERT_EQ(capture.pieces().size(), 2u);
    EXPECT_EQ(capture.text(), "a: 1\nb\n");
    const std::string longText(1000, 'x');
    debugPrintf("%s\n", longText.c_str());  // no fixed-size buffer truncates it
    EXPECT_EQ(capture.pieces().back().size(), 1001u);
}

}  // namespace
}  // namespace strata::platform
