#include <gtest/gtest.h>

#include <cstdint>

#include "ldi/ldi_samples.h"
#include "platform/aligned_block.h"
#include "platform/unbuffered_file.h"

namespace strata::platform {
namespace {

TEST(AlignedBlock, RoundsToWholeAlignedZeroedBlocks) {
    AlignedBlock block;
    ASSERT_TRUE(block.allocate(1));
    EXPECT_EQ(block.size(), 65536u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()) % 65536, 0u);
    EXPECT_EQ(block.data()[65535], 0);
    ASSERT_TRUE(block.allocate(65537));
    EXPECT_EQ(block.size(), 131072u);
    AlignedBlock moved = std::move(block);
    EXPECT_TRUE(block.empty());
    EXPECT_EQ(moved.size(), 131072u);
    EXPECT_TRUE(moved.allocate(0));
    EXPECT_TRUE(moved.empty());
    EXPECT_FALSE(moved.allocate(std::uint64_t{1} << 62));
    EXPECT_EQ(AlignedBlock::roundUp(65536), 65536u);
}

TEST(UnbufferedFile, ReadsWholeFilesDirectOrBuffered) {
    ldi::testing::TempDir dir;
    std::vector<std::uint8_t> bytes(3 * 65536 + 100);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    ldi::testing::writeBytes(dir.file("f"), bytes);
    for (bool direct : {true, false}) {
        UnbufferedFile file;
        std::string error;
        ASSERT_TRUE(file.open(dir.file("f"), error, direct)) << error;
        EXPECT_EQ(file.size(), bytes.size());
        AlignedBlock block;
        ASSERT_TRUE(block.allocate(4 * 65536));
        ASSERT_EQ(file.read(block.data(), 65536, error), 65536);
        // The tail is shorter than asked for: the count says how much came.
        ASSERT_EQ(file.read(block.data() + 65536, 3 * 65536, error), 2 * 65536 + 100) << error;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), block.data()));
        EXPECT_EQ(file.read(block.data(), 65536, error), 0);
    }
    UnbufferedFile missing;
    std::string error;
    EXPECT_FALSE(missing.open(dir.file("none"), error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_FALSE(missing.open(dir.path(), error));
}

}  // namespace
}  // namespace strata::platform
