// The folder fence: names resolved as the kernel resolves them, links leading out refused
// whether or not their target exists, subfolders admitted, the process-wide lift.
#include "platform/folder_fence.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace strata::platform {
namespace {

class FolderFenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/strata-fence-XXXXXX";
        root_ = ::mkdtemp(pattern);
        std::filesystem::create_directories(root_ + "/model/sub");
        std::filesystem::create_directories(root_ + "/elsewhere");
        std::ofstream(root_ + "/model/scene.obj") << "v 0 0 0\n";
        std::ofstream(root_ + "/model/sub/t.png") << "x";
        std::ofstream(root_ + "/elsewhere/secret.txt") << "secret";
        setOutsidePathsAllowed(false);
    }
    void TearDown() override {
        setOutsidePathsAllowed(false);
        std::filesystem::remove_all(root_);
    }
    std::string at(const std::string& name) const { return root_ + "/" + name; }

    std::string root_;
};

TEST_F(FolderFenceTest, ResolvesLinksAndDotsAsTheKernelDoes) {
    const std::string real = std::filesystem::canonical(root_).string();
    EXPECT_EQ(resolvedPath(at("model/./sub/../scene.obj")), real + "/model/scene.obj");
    std::filesystem::create_directory_symlink(at("elsewhere"), at("model/away"));
    EXPECT_EQ(resolvedPath(at("model/away/secret.txt")), real + "/elsewhere/secret.txt");
    // ".." after a linked folder leaves the link's target, as the kernel does.
    EXPECT_EQ(resolvedPath(at("model/away/../model/scene.obj")), real + "/model/scene.obj");
    // A dangling link is followed as written.
    std::filesystem::create_symlink("../elsewhere/missing.txt", at("model/dangling"));
    EXPECT_EQ(resolvedPath(at("model/dangling")), real + "/elsewhere/missing.txt");
    // Below a missing component the rest is taken as written.
    EXPECT_EQ(resolvedPath(at("model/none/../x")), real + "/model/x");
    // A loop of links has no resolution.
    std::filesystem::create_symlink("loop2", at("model/loop1"));
    std::filesystem::create_symlink("loop1", at("model/loop2"));
    EXPECT_EQ(resolvedPath(at("model/loop1")), "");
}

TEST_F(FolderFenceTest, AdmitsTheFolderAndItsSubfoldersOnly) {
    const FolderFence fence = FolderFence::around(at("model/scene.obj"));
    EXPECT_FALSE(fence.open());
    std::filesystem::create_symlink("../elsewhere/secret.txt", at("model/link.txt"));
    std::filesystem::create_symlink("../elsewhere/missing.txt", at("model/dangling.txt"));
    std::filesystem::create_symlink("sub/t.png", at("model/inside.png"));
    struct Case {
        std::string path;
        bool admitted;
    };
    const Case cases[] = {
        {at("model/scene.obj"), true},
        {at("model/sub/t.png"), true},
        {at("model/sub/missing.png"), true},
        {at("model/inside.png"), true},
        {at("model/../model/sub/t.png"), true},
        {at("model/../elsewhere/secret.txt"), false},
        {at("model/../elsewhere/missing.txt"), false},
        {at("elsewhere/secret.txt"), false},
        {at("model/link.txt"), false},
        {at("model/dangling.txt"), false},
        {at("model"), false},  // the folder itself is no file in it
        {at("modelx/t.png"), false},
        {"/etc/passwd", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fence.admits(c.path), c.admitted) << c.path;
    }
    // The refusal names the name and nothing about the file.
    const std::string line = outsideRefusal("../elsewhere/secret.txt", fence);
    EXPECT_NE(line.find("\"../elsewhere/secret.txt\" lies outside"), std::string::npos) << line;
    EXPECT_NE(line.find("--allow-outside-paths"), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST_F(FolderFenceTest, RelativeNamesAndTheLift) {
    const std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(at("model").c_str()), 0);
    const FolderFence fence = FolderFence::around("scene.obj");
    EXPECT_TRUE(fence.admits("sub/t.png"));
    EXPECT_FALSE(fence.admits("../elsewhere/secret.txt"));
    ASSERT_EQ(::chdir(cwd.c_str()), 0);

    setOutsidePathsAllowed(true);
    const FolderFence lifted = FolderFence::around(at("model/scene.obj"));
    EXPECT_TRUE(lifted.open());
    EXPECT_TRUE(lifted.admits(at("elsewhere/secret.txt")));
}

TEST_F(FolderFenceTest, TheOutermostOpenedFileSetsTheFence) {
    EXPECT_TRUE(currentFence().open());
    {
        const OpenedFileScope set(at("model/scene.obj"));
        EXPECT_TRUE(currentFence().admits(at("model/sub/t.png")));
        {
            // A member list in a subfolder keeps the outer folder.
            const OpenedFileScope member(at("model/sub/t.png"));
            EXPECT_TRUE(currentFence().admits(at("model/scene.obj")));
            EXPECT_FALSE(currentFence().admits(at("elsewhere/secret.txt")));
        }
        EXPECT_FALSE(currentFence().open());
    }
    EXPECT_TRUE(currentFence().open());
}

}  // namespace
}  // namespace strata::platform
