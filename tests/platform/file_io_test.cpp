#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

int entriesIn(const std::string& dir) {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir),
                                          std::filesystem::directory_iterator()));
}

void writeFile(const std::string& path, const std::string& text) {
    AtomicFileWriter w(path);
    ASSERT_TRUE(w.write(text.data(), text.size()));
    ASSERT_TRUE(w.commit());
}

// Every kind of non-file a save target can be: each must be refused and left in place.
TEST(AtomicFileWriter, RefusesTargetsThatAreNotRegularFiles) {
    const std::string dir = tempDir();
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir + "/folder";
    std::filesystem::create_directory(folder);
    const std::string socketPath = dir + "/sock";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    for (const std::string& target : {fifo, folder, socketPath}) {
        SCOPED_TRACE(target);
        AtomicFileWriter w(target);
        EXPECT_FALSE(w.isOpen());
        EXPECT_FALSE(w.write("x", 1));
        EXPECT_FALSE(w.commit());
        EXPECT_NE(w.error().find(target), std::string::npos) << w.error();
        struct stat info {};
        ASSERT_EQ(::stat(target.c_str(), &info), 0);
        EXPECT_FALSE(S_ISREG(info.st_mode));
    }
    ::close(sock);
    EXPECT_EQ(entriesIn(dir), 3);  // no temporary left beside them
    std::filesystem::remove_all(dir);
}

TEST(AtomicFileWriter, RefusesATargetReplacedByAFolderBeforeCommit) {
    const std::string dir = tempDir();
    const std::string target = dir + "/t";
    AtomicFileWriter w(target);
    ASSERT_TRUE(w.write("abc", 3));
    std::filesystem::create_directory(target);
    EXPECT_FALSE(w.commit());
    EXPECT_TRUE(std::filesystem::is_directory(target));
    std::filesystem::remove_all(dir);
}

// Readers open without blocking: a FIFO with no writer is refused at once. A reader that waits
// is stopped by the alarm and the test fails.
TEST(FileIoDeathTest, FifoInputsAreRefusedWithoutBlocking) {
    const std::string dir = tempDir();
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            ::alarm(5);
            std::vector<std::uint8_t> bytes;
            std::string error;
            const bool refused =
                !readWholeFile(fifo, bytes, error) && error == "not a regular file" &&
                openRegularFile(fifo, error) < 0 && openRegularStream(fifo, error) == nullptr &&
                !checkRegularFile(fifo, error);
            std::exit(refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    std::filesystem::remove_all(dir);
}

TEST(FileIo, RegularFilesOpenForReading) {
    const std::string dir = tempDir();
    writeFile(dir + "/a", "hello");
    std::string error;
    const int fd = openRegularFile(dir + "/a", error);
    ASSERT_GE(fd, 0);
    char buffer[8] = {};
    EXPECT_EQ(::read(fd, buffer, sizeof(buffer)), 5);
    ::close(fd);
    EXPECT_TRUE(checkRegularFile(dir + "/a", error));
    EXPECT_FALSE(checkRegularFile(dir + "/missing", error));
    EXPECT_TRUE(checkSaveTarget(dir + "/missing", error));
    EXPECT_TRUE(checkSaveTarget(dir + "/a", error));
    EXPECT_FALSE(checkSaveTarget(dir, error));
    std::filesystem::remove_all(dir);
}

// A save stopped by SIGTERM or SIGINT leaves no temporary behind; the old file stays.
TEST(FileIoDeathTest, SignalsRemoveTemporaries) {
    for (int signalNumber : {SIGTERM, SIGINT}) {
        const std::string dir = tempDir();
        writeFile(dir + "/old", "old");
        EXPECT_EXIT(
            {
                AtomicFileWriter single(dir + "/old");
                single.write("partial", 7);
                FileSetTransaction set;
                const std::string a = set.stage(dir + "/a");
                const std::string b = set.stage(dir + "/b");
                if (a.empty() || b.empty() || entriesIn(dir) != 4) {
                    std::exit(3);
                }
                std::raise(signalNumber);
                std::exit(4);
            },
            ::testing::KilledBySignal(signalNumber), "");
        EXPECT_EQ(entriesIn(dir), 1) << signalNumber;
        EXPECT_EQ(slurp(dir + "/old"), "old");
        std::filesystem::remove_all(dir);
    }
}

TEST(FileSetTransaction, CommitsEveryMemberOrNone) {
    const std::string dir = tempDir();
    writeFile(dir + "/a", "old a");
    writeFile(dir + "/list", "old list");
    {
        FileSetTransaction set;
        const std::string a = set.stage(dir + "/a");
        const std::string b = set.stage(dir + "/b");
        const std::string list = set.stage(dir + "/list");
        ASSERT_FALSE(a.empty());
        EXPECT_TRUE(set.stage(dir + "/a").empty());  // the same member twice
        writeFile(a, "new a");
        writeFile(b, "new b");
        writeFile(list, "new list");
        EXPECT_EQ(slurp(dir + "/a"), "old a");
        ASSERT_TRUE(set.commit()) << set.error();
    }
    EXPECT_EQ(slurp(dir + "/a"), "new a");
    EXPECT_EQ(slurp(dir + "/b"), "new b");
    EXPECT_EQ(slurp(dir + "/list"), "new list");
    EXPECT_EQ(entriesIn(dir), 3);

    // Abandoned (a member failed to write): nothing changes.
    {
        FileSetTransaction set;
        writeFile(set.stage(dir + "/a"), "newer a");
        writeFile(set.stage(dir + "/c"), "c");
    }
    EXPECT_EQ(slurp(dir + "/a"), "new a");
    EXPECT_EQ(entriesIn(dir), 3);

    // A member target that is not a file is refused when staged.
    std::filesystem::create_directory(dir + "/folder");
    {
        FileSetTransaction set;
        EXPECT_FALSE(set.stage(dir + "/a").empty());
        EXPECT_TRUE(set.stage(dir + "/folder").empty());
        EXPECT_NE(set.error().find("folder"), std::string::npos);
    }
    EXPECT_EQ(entriesIn(dir), 4);
    std::filesystem::remove_all(dir);
}

// A rename that fails half-way puts back the members already replaced.
TEST(FileSetTransaction, FailedRenameRestoresTheOldSet) {
    const std::string dir = tempDir();
    writeFile(dir + "/a", "old a");
    writeFile(dir + "/b", "old b");
    FileSetTransaction set;
    writeFile(set.stage(dir + "/a"), "new a");
    writeFile(set.stage(dir + "/new"), "new member");
    writeFile(set.stage(dir + "/b"), "new b");
    writeFile(set.stage(dir + "/list"), "list");
    // b turns into a folder between the writes and the renames.
    std::filesystem::remove(dir + "/b");
    std::filesystem::create_directories(dir + "/b/inside");
    EXPECT_FALSE(set.commit());
    EXPECT_NE(set.error().find(dir + "/b"), std::string::npos) << set.error();
    EXPECT_EQ(slurp(dir + "/a"), "old a");
    EXPECT_FALSE(std::filesystem::exists(dir + "/new"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/list"));
    EXPECT_EQ(entriesIn(dir), 2);  // a and the folder b, nothing else
    std::filesystem::remove_all(dir);
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

TEST(FileIo, ExtensionsIgnoreCase) {
    const std::pair<const char*, const char*> cases[] = {{"scene.ldipyr", "ldipyr"},
                                                         {"scene.LDIPYR", "ldipyr"},
                                                         {"a/b.c/Scene.LdiSet", "ldiset"},
                                                         {"a.b.vox", "vox"},
                                                         {"noext", ""},
                                                         {"dir.v1/noext", ""},
                                                         {"trailing.", ""},
                                                         {".hidden", "hidden"},
                                                         {"/x/y.BMP", "bmp"}};
    for (const auto& [path, extension] : cases) {
        EXPECT_EQ(fileExtension(path), extension) << path;
    }
    EXPECT_TRUE(hasExtension("q.LDIQUAD", "ldiquad"));
    EXPECT_FALSE(hasExtension("q.ldiquad2", "ldiquad"));
    EXPECT_FALSE(hasExtension("ldiquad", "ldiquad"));
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
