// Byte layouts written out by hand, independent of the serialisers under test.
#include <gtest/gtest.h>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rtff.h"
#include "ldi/ldi_rtff_layout.h"
#include "ldi/ldi_samples.h"
#include "platform/debug_output.h"

namespace strata::ldi {
namespace {

using testing::appendU16;
using testing::appendU32;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

// A 12988-byte header with only the type and size words set (everything else zero).
std::vector<std::uint8_t> handHeader(std::uint32_t ldiType, std::uint32_t dptType,
                                     std::uint32_t width, std::uint32_t height,
                                     std::uint32_t pixelCount) {
    std::vector<std::uint8_t> b;
    appendU32(b, 255);
    appendU32(b, ldiType);
    appendU32(b, dptType);
    appendU32(b, width);
    appendU32(b, height);
    appendU32(b, pixelCount);
    b.resize(12988, 0);
    return b;
}

TEST(LdiLayout, OnePixelCpFileOfThreeLayers) {
    TempDir dir;
    std::vector<std::uint8_t> file = handHeader(1, 3, 1, 1, 3);
    appendU32(file, 0);  // rowStart
    appendU32(file, 3);
    file.push_back(3);  // layerCount, then the spare entry
    file.push_back(0);
    appendU32(file, 0x10112233u);  // code 0x10, colour 0x112233
    appendU32(file, 0x20445566u);
    appendU32(file, 0x30778899u);
    ASSERT_EQ(file.size(), 13010u);
    writeBytes(dir.file("one.ldi"), file);

    std::string error;
    auto ldi = LoadLdi(dir.file("one.ldi"), &error);
    ASSERT_NE(ldi, nullptr) << error;
    auto& cp = dynamic_cast<LdiRtCp&>(*ldi);
    EXPECT_EQ(cp.width(), 1);
    EXPECT_EQ(cp.header.pixelCount, 3);
    EXPECT_EQ(cp.LayerCount(0, 0), 3);
    EXPECT_EQ(cp.pixels[0], 0x10112233u);
    EXPECT_EQ(cp.pixels[2], 0x30778899u);
    EXPECT_EQ(cp.rowStart[1], 3);

    ASSERT_EQ(cp.Save(dir.file("again.ldi")), 1);
    EXPECT_EQ(readBytes(dir.file("again.ldi")), file);
}

TEST(LdiLayout, QpStreamBodyIsRowStartOffsetsThenPixelPairs) {
    TempDir dir;
    std::vector<std::uint8_t> file = handHeader(1, 2, 2, 1, 2);
    appendU32(file, 0);
    appendU32(file, 2);
    appendU16(file, 0);  // layerOffset: pixel 0 has 2 layers, pixel 1 none
    appendU16(file, 2);
    appendU16(file, 2);
    appendU32(file, 0x00AABBCCu);  // colour, depth word
    appendU32(file, 0x000FFFFFu);
    appendU32(file, 0x00010203u);
    appendU32(file, 0x00000000u);
    writeBytes(dir.file("qp.ldi"), file);
    std::string error;
    auto ldi = LoadLdi(dir.file("qp.ldi"), &error);
    ASSERT_NE(ldi, nullptr) << error;
    EXPECT_EQ(ldi->LayerCount(0, 0), 2);
    EXPECT_EQ(ldi->LayerCount(0, 1), 0);
    float lo = 5.0f;
    float hi = 5.0f;
    EXPECT_EQ(ldi->DepthRange(0, 1, lo, hi), 0);
    EXPECT_EQ(lo, 5.0f);
    ASSERT_EQ(ldi->DepthRange(0, 0, lo, hi), 1);
    EXPECT_FLOAT_EQ(lo, -1.0f);
    EXPECT_NEAR(hi, 1.0f, 1e-6f);
    ASSERT_EQ(ldi->Save(dir.file("qp2.ldi")), 1);
    EXPECT_EQ(readBytes(dir.file("qp2.ldi")), file);
}

TEST(LdiLayout, RtffCpFileIsHeaderBlockThenTwoBlockParts) {
    TempDir dir;
    std::vector<std::uint8_t> file = handHeader(2, 3, 2, 1, 3);
    file.resize(65536, 0);
    appendU32(file, 0);  // part A: rowStart, layerCount (2 + spare)
    appendU32(file, 3);
    file.push_back(1);
    file.push_back(2);
    file.push_back(0);
    file.resize(2 * 65536, 0);
    appendU32(file, 0x01000001u);  // part B: pixels
    appendU32(file, 0x02000002u);
    appendU32(file, 0x03000003u);
    file.resize(3 * 65536, 0);
    writeBytes(dir.file("ff.ldi"), file);

    std::string error;
    auto ldi = LoadLdi(dir.file("ff.ldi"), &error);
    ASSERT_NE(ldi, nullptr) << error;
    auto& cp = dynamic_cast<LdiRtffCp&>(*ldi);
    EXPECT_EQ(cp.LayerCount(0, 1), 2);
    EXPECT_EQ(cp.pixels[2], 0x03000003u);
    EXPECT_EQ(
        reinterpret_cast<std::uint8_t*>(cp.pixels) - reinterpret_cast<std::uint8_t*>(cp.rowStart),
        65536);
    ASSERT_EQ(cp.Save(dir.file("ff2.ldi")), 1);
    EXPECT_EQ(readBytes(dir.file("ff2.ldi")), file);
}

RtffLayout layoutOf(int dpt, std::int64_t w, std::int64_t h, std::int64_t n0, std::int64_t n1 = 0,
                    std::int64_t n2 = 0, std::int64_t n3 = 0) {
    RtffLayout layout;
    std::string problem;
    EXPECT_TRUE(computeRtffLayout(dpt, w, h, {n0, n1, n2, n3}, layout, problem)) << problem;
    return layout;
}

TEST(LdiLayout, RtffPartsRoundUpAtBlockBoundaries) {
    // CP part A = height x (width + 5) + 4: 4 x 16383 + 4 = 65536 fits one block; 65537 two.
    EXPECT_EQ(layoutOf(3, 16378, 4, 0).partA, 65536u);
    EXPECT_EQ(layoutOf(3, 16378, 4, 0).blocksA, 1u);
    EXPECT_EQ(layoutOf(3, 5036, 13, 0).partA, 65537u);
    EXPECT_EQ(layoutOf(3, 5036, 13, 0).blocksA, 2u);
    // CP part B: 16384 pixels one block, 16385 two.
    EXPECT_EQ(layoutOf(3, 1, 1, 16384).blocksB, 1u);
    EXPECT_EQ(layoutOf(3, 1, 1, 16385).blocksB, 2u);
    // QP part B: 8192 pixels one block, 8193 two.
    EXPECT_EQ(layoutOf(2, 1, 1, 8192).blocksB, 1u);
    EXPECT_EQ(layoutOf(2, 1, 1, 8193).blocksB, 2u);
    // QP part A = 4h + 2h(w+1) + 4; MRQP part A = 6(h(w+3) + 2).
    EXPECT_EQ(layoutOf(2, 3, 2, 0).partA, 4u * 2 + 2u * 2 * 4 + 4);
    EXPECT_EQ(layoutOf(6, 5, 3, 2, 3, 4, 2).partA, 6u * (3 * 8 + 2));
    EXPECT_EQ(layoutOf(6, 5, 3, 2, 3, 4, 2).partB, 8u * 2 + 4 * (3 + 4 + 2));
    EXPECT_EQ(layoutOf(3, 1, 1, 0).blocksB, 0u);
    EXPECT_EQ(layoutOf(3, 1, 1, 0).fileBytes(), 2u * 65536);
}

TEST(LdiLayout, RtffMrqpOddOffsetArraysAreRefused) {
    RtffLayout layout;
    std::string problem;
    EXPECT_FALSE(computeRtffLayout(6, 4, 3, {0, 0, 0, 0}, layout, problem));  // 3 x 5 odd
    EXPECT_NE(problem.find("even"), std::string::npos);
    EXPECT_TRUE(computeRtffLayout(6, 4, 2, {0, 0, 0, 0}, layout, problem));

    platform::DebugCapture capture;
    LdiRtffMrqp ldi;
    const std::int32_t counts[4] = {0, 0, 0, 0};
    EXPECT_EQ(ldi.Create(4, 3, 4, counts), 0);
    EXPECT_NE(capture.text().find("even"), std::string::npos);
}

// Files written by Save have exactly the block counts the layout promises.
TEST(LdiLayout, SavedRtffFilesHaveWholeBlockSizes) {
    TempDir dir;
    struct Case {
        int dpt;
        std::int32_t w, h;
        int layersOfLastPixel;
        std::uint64_t blocks;
    };
    const Case cases[] = {
        {3, 16378, 4, 0, 2},  // part A exactly one block, no pixels
        {3, 5036, 13, 0, 3},  // part A one byte into a second block
        {3, 128, 128, 1, 3},  // 16384 CP pixels: one block of part B
        {3, 128, 128, 2, 4},  // 16385: two
        {2, 64, 128, 1, 3},   // 8192 QP pixels: one block
        {2, 64, 128, 2, 4},   // 8193: two
    };
    for (const Case& c : cases) {
        auto ldi = CreateLdi(2, c.dpt);
        const bool ones = c.layersOfLastPixel > 0;
        const std::int32_t total = ones ? c.w * c.h - 1 + c.layersOfLastPixel : 0;
        const std::int32_t counts[1] = {total};
        ASSERT_EQ(ldi->Create(c.w, c.h, 1, counts), 1);
        // One layer per pixel, the last pixel holding layersOfLastPixel.
        for (std::int32_t r = 0; r < c.h && ones; ++r) {
            for (std::int32_t col = 0; col <= c.w; ++col) {
                const bool last = r == c.h - 1 && col == c.w - 1;
                const int n = col == c.w ? 0 : (last ? c.layersOfLastPixel : 1);
                if (c.dpt == 3) {
                    static_cast<LdiRtCp&>(*ldi).layerCount[r * (c.w + 1) + col] =
                        static_cast<std::uint8_t>(n);
                } else {
                    static_cast<LdiRtQp&>(*ldi).layerOffset[r * (c.w + 1) + col] =
                        static_cast<std::uint16_t>(col);
                }
            }
        }
        std::int32_t* rowStart = c.dpt == 3 ? static_cast<LdiRtCp&>(*ldi).rowStart
                                            : static_cast<LdiRtQp&>(*ldi).rowStart;
        for (std::int32_t r = 0; r <= c.h; ++r) {
            rowStart[r] = ones ? r * c.w : 0;
        }
        rowStart[c.h] = total;
        if (c.dpt == 2 && ones) {
            static_cast<LdiRtQp&>(*ldi).layerOffset[(c.h - 1) * (c.w + 1) + c.w] =
                static_cast<std::uint16_t>(c.w - 1 + c.layersOfLastPixel);
        }
        const std::string path = dir.file("b.ldi");
        ASSERT_EQ(ldi->Save(path), 1) << ldi->loadError();
        EXPECT_EQ(readBytes(path).size(), 65536u * c.blocks) << c.w << " x " << c.h;
        std::string error;
        EXPECT_NE(LoadLdi(path, &error), nullptr) << error;
    }
}

}  // namespace
}  // namespace strata::ldi
