#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "ldi/ldi_file.h"
#include "ldi/ldi_samples.h"
#include "platform/aligned_block.h"
#include "platform/default_init_allocator.h"
#include "platform/unbuffered_file.h"
#include "platform/worker_pool.h"

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

// The kilobytes of huge pages backing the mapping that holds address, from /proc/self/smaps.
std::int64_t hugePageKbAt(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::uintptr_t begin = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> begin >> dash >> end && dash == '-' &&
            line.find(':') > line.find(' ')) {
            inside = begin <= at && at < end;
        } else if (inside && line.rfind("AnonHugePages:", 0) == 0) {
            return std::stoll(line.substr(14));
        }
    }
    return -1;
}

TEST(AlignedBlock, LargeArraysAskForHugePages) {
    std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(mode, modes);
    if (modes.find("[madvise]") == std::string::npos) {
        GTEST_SKIP() << "huge pages are not given on request here: " << modes;
    }
    // 64 MB: whole 2 MB pages inside it whatever its alignment.
    UninitVector<std::uint32_t> large;
    large.resize(std::size_t{16} << 20);
    for (std::size_t i = 0; i < large.size(); i += 1024) {
        large[i] = static_cast<std::uint32_t>(i);
    }
    EXPECT_GT(hugePageKbAt(large.data() + large.size() / 2), 0);
    // Small arrays and odd pointers are left alone without harm.
    std::vector<char> small(100);
    adviseHugePages(small.data() + 1, small.size() - 1);
    adviseHugePages(nullptr, std::size_t{64} << 20);
}

// Large bodies are read in pieces on the drawing threads; the bytes land where they belong
// and the reads after them go on from the right place.
TEST(LdiFileReader, LargeBodiesReadInPiecesMatchTheFile) {
    ldi::testing::TempDir dir;
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    for (std::size_t body : {16 * kMiB - 4, 16 * kMiB, 20 * kMiB + 12}) {
        std::vector<std::uint8_t> bytes(16 + body + 5);
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
            const auto word = static_cast<std::uint32_t>(i * 2654435761u);
            for (std::size_t b = 0; b < 4 && i + b < bytes.size(); ++b) {
                bytes[i + b] = static_cast<std::uint8_t>(word >> (8 * b));
            }
        }
        ldi::testing::writeBytes(dir.file("big"), bytes);
        for (int threads : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << body << " bytes, " << threads << " threads");
            setDrawThreads(threads);
            ldi::LdiFileReader file;
            ASSERT_TRUE(file.open(dir.file("big"))) << file.problem;
            std::vector<std::uint8_t> head(16);
            std::vector<std::uint8_t> middle(body);
            std::vector<std::uint8_t> tail(5);
            ASSERT_TRUE(file.read(head.data(), head.size(), "head"));
            ASSERT_TRUE(file.read(middle.data(), middle.size(), "body")) << file.problem;
            EXPECT_EQ(file.position(), 16 + body);
            ASSERT_TRUE(file.read(tail.data(), tail.size(), "tail")) << file.problem;
            EXPECT_FALSE(file.read(tail.data(), 1, "past the end"));
            EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
            EXPECT_TRUE(std::equal(middle.begin(), middle.end(), bytes.begin() + 16));
            EXPECT_TRUE(std::equal(tail.begin(), tail.end(), bytes.end() - 5));
        }
    }
    setDrawThreadsAutomatic();
}

// A file cut short after it was opened fails the read of its body in one line, in pieces or
// not.
TEST(LdiFileReader, AFileCutShortAfterOpeningFailsTheRead) {
    ldi::testing::TempDir dir;
    const std::size_t body = std::size_t{24} << 20;
    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        setDrawThreads(threads);
        ldi::testing::writeBytes(dir.file("cut"), std::vector<std::uint8_t>(8 + body, 7));
        ldi::LdiFileReader file;
        ASSERT_TRUE(file.open(dir.file("cut")));
        std::vector<std::uint8_t> head(8);
        ASSERT_TRUE(file.read(head.data(), head.size(), "head"));
        ASSERT_EQ(::truncate(dir.file("cut").c_str(), static_cast<off_t>(body / 2)), 0);
        std::vector<std::uint8_t> middle(body);
        EXPECT_FALSE(file.read(middle.data(), middle.size(), "the pixels"));
        EXPECT_EQ(file.problem, "read error in the pixels at offset 8");
    }
    setDrawThreadsAutomatic();
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
