// Byte layouts written out by hand, independent of the serialisers under test.
#include <gtest/gtest.h>

#include <cstring>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "ldi/ldi_rtff.h"
#include "ldi/ldi_rtff_layout.h"
#include "ldi/ldi_samples.h"
#include "platform/debug_output.h"

namespace strata::ldi {
namespace {

using testing::appendU16;
using testing::appendU32;
using testing::makeSample;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

// A 12988-byte header with the type and size words and a usable reference view set (everything
// else zero).
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
    testing::putUsableView(b, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
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
        ldi->header.view = testing::usableView(c.w, c.h);
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

void putF32(std::vector<std::uint8_t>& b, std::size_t offset, float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    for (int i = 0; i < 4; ++i) {
        b[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

void putI32(std::vector<std::uint8_t>& b, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

TEST(LdiLayout, RtffMrqpViewsFollowThePartATable) {
    // 1 x 2 grid (2 x (1 + 1) = 4 offsets, even); one depth pixel at (0, 0) with two 4x4 bits
    // and one 2x2 bit. Part A: rowStart0..2 (3 int32 each) at 0, 12, 24, layerOffset0..2
    // (4 int16 each) at 36, 44, 52: 6 x (2 x 4 + 2) = 60 bytes. Part B in the next block:
    // pixel, two 4x4 colours, one 2x2 colour, one full colour.
    TempDir dir;
    std::vector<std::uint8_t> file = handHeader(2, 6, 1, 2, 0);
    putI32(file, 8892, 1);
    putI32(file, 8896, 2);
    putI32(file, 8900, 1);
    putI32(file, 8904, 1);
    file.resize(65536, 0);
    for (std::uint32_t total : {1u, 2u, 1u}) {
        appendU32(file, 0);
        appendU32(file, total);
        appendU32(file, total);
    }
    for (std::uint16_t total : {1, 2, 1}) {
        appendU16(file, 0);
        appendU16(file, total);
        appendU16(file, 0);
        appendU16(file, 0);
    }
    ASSERT_EQ(file.size(), 65536u + 60);
    file.resize(2 * 65536, 0);
    appendU32(file, 0x000FFFFFu);  // depth word
    appendU32(file, 0x00010003u);  // 4x4 bits 0, 1; 2x2 bit 0
    appendU32(file, 0x00A0A0A0u);  // 4x4 colours
    appendU32(file, 0x00B0B0B0u);
    appendU32(file, 0x00C0C0C0u);  // 2x2 colour
    appendU32(file, 0x00D0D0D0u);  // full colour
    file.resize(3 * 65536, 0);
    writeBytes(dir.file("mr.ldi"), file);

    std::string error;
    auto ldi = LoadLdi(dir.file("mr.ldi"), &error);
    ASSERT_NE(ldi, nullptr) << error;
    auto& mr = dynamic_cast<LdiRtffMrqp&>(*ldi);
    const auto* body = reinterpret_cast<const std::uint8_t*>(mr.rowStart[0]);
    const auto at = [body](const void* p) { return static_cast<const std::uint8_t*>(p) - body; };
    EXPECT_EQ(at(mr.rowStart[1]), 12);
    EXPECT_EQ(at(mr.rowStart[2]), 24);
    EXPECT_EQ(at(mr.layerOffset[0]), 36);
    EXPECT_EQ(at(mr.layerOffset[1]), 44);
    EXPECT_EQ(at(mr.layerOffset[2]), 52);
    EXPECT_EQ(at(mr.pixels), 65536);
    EXPECT_EQ(at(mr.colours4x4), 65536 + 8);
    EXPECT_EQ(at(mr.colours2x2), 65536 + 16);
    EXPECT_EQ(at(mr.fullColours), 65536 + 20);
    EXPECT_EQ(mr.colours4x4[1], 0x00B0B0B0u);
    EXPECT_EQ(mr.fullColours[0], 0x00D0D0D0u);
    EXPECT_EQ(mr.LayerCount(0, 0), 1);
    EXPECT_EQ(mr.LayerCount(1, 0), 0);
    ASSERT_EQ(mr.Save(dir.file("mr2.ldi")), 1);
    EXPECT_EQ(readBytes(dir.file("mr2.ldi")), file);
}

TEST(LdiLayout, RowStartMustEndAtThePixelCount) {
    // CP, 1 x 1 with three layers: rowStart must end exactly at pixelCount. A file whose
    // pixelCount promises a fourth depth pixel that no row indexes is refused, and so is one
    // whose rowStart runs past pixelCount.
    TempDir dir;
    std::vector<std::uint8_t> file = handHeader(1, 3, 1, 1, 4);
    appendU32(file, 0);
    appendU32(file, 3);
    file.push_back(3);
    file.push_back(0);
    for (std::uint32_t p : {0x01000001u, 0x01000002u, 0x01000003u, 0x01000004u}) {
        appendU32(file, p);
    }
    writeBytes(dir.file("spare.ldi"), file);
    std::string error;
    platform::DebugCapture capture;
    EXPECT_EQ(LoadLdi(dir.file("spare.ldi"), &error), nullptr);
    EXPECT_NE(error.find("rowStart ends at 3"), std::string::npos) << error;

    putI32(file, 20, 2);  // pixelCount 2 < rowStart total 3
    const std::vector<std::uint8_t> fewer(file.begin(), file.end() - 8);
    writeBytes(dir.file("short.ldi"), fewer);
    EXPECT_EQ(LoadLdi(dir.file("short.ldi"), &error), nullptr);
    EXPECT_NE(error.find("rowStart ends at 3"), std::string::npos) << error;

    putI32(file, 20, 3);  // consistent: loads
    const std::vector<std::uint8_t> exact(file.begin(), file.end() - 4);
    writeBytes(dir.file("exact.ldi"), exact);
    auto ldi = LoadLdi(dir.file("exact.ldi"), &error);
    ASSERT_NE(ldi, nullptr) << error;
    EXPECT_EQ(ldi->LayerCount(0, 0), 3);
}

TEST(LdiLayout, RowDepthRangesFoldFromOneAndMinusOne) {
    // CP, 1 x 2: row 0 holds one layer of code 0, row 1 none. bins (2.5, 3.5): binValue[0] =
    // 3 - 1 = 2, outside -1..1, so row 0 folds to (min(1, 2), max(-1, 2)) = (1, 2); the empty
    // row keeps (1, -1). binFactor[0] = 2nf / ((f - n) 2 - (f + n)) with near 1, far 100.
    TempDir dir;
    std::vector<std::uint8_t> file = handHeader(1, 3, 1, 2, 1);
    putF32(file, 328, 1.0f);    // view.near
    putF32(file, 332, 100.0f);  // view.far
    putI32(file, 692, 1);       // binCount
    putF32(file, 696, 2.5f);
    putF32(file, 700, 3.5f);
    for (std::uint32_t r : {0u, 1u, 1u}) {
        appendU32(file, r);
    }
    for (std::uint8_t c : {1, 0, 0, 0}) {
        file.push_back(c);
    }
    appendU32(file, 0x00123456u);
    writeBytes(dir.file("bins.ldi"), file);
    std::string error;
    auto ldi = LoadLdi(dir.file("bins.ldi"), &error);
    ASSERT_NE(ldi, nullptr) << error;
    EXPECT_EQ(ldi->binValue[0], 2.0f);
    EXPECT_FLOAT_EQ(ldi->binFactor[0], 200.0f / (99.0f * 2.0f - 101.0f));
    ASSERT_EQ(ldi->header.culler.rows, 2);
    EXPECT_EQ(ldi->header.culler.zMin[0], 1.0f);
    EXPECT_EQ(ldi->header.culler.zMax[0], 2.0f);
    EXPECT_EQ(ldi->header.culler.zMin[1], 1.0f);
    EXPECT_EQ(ldi->header.culler.zMax[1], -1.0f);
}

TEST(LdiLayout, FilesThatDoNotOpenLeaveTheObjectAsItWas) {
    TempDir dir;
    platform::DebugCapture capture;
    for (int ldiType : {1, 2}) {
        auto sample = makeSample(ldiType, 2, 3, 2, 4);
        ASSERT_EQ(sample->Save(dir.file("s.ldi")), 1);
        auto ldi = CreateLdi(ldiType, 2);
        ASSERT_EQ(ldi->Load(dir.file("s.ldi")), 1);
        EXPECT_EQ(ldi->Load(dir.file("absent.ldi")), 0);
        EXPECT_NE(ldi->loadError().find("cannot open"), std::string::npos);
        EXPECT_EQ(ldi->width(), 3);
        EXPECT_EQ(ldi->arraysAllocated, 1);
        EXPECT_EQ(ldi->DepthPixelCount(), sample->DepthPixelCount());
    }
    auto quad = makeSample(5, 2, 3, 2, 4);
    ASSERT_EQ(quad->Save(dir.file("q")), 1);
    LdiRtQuad loaded;
    ASSERT_EQ(loaded.Load(dir.file("q.ldiquad")), 1);
    EXPECT_EQ(loaded.Load(dir.file("absent.ldiquad")), 0);
    EXPECT_NE(loaded.top(), nullptr);
    EXPECT_EQ(loaded.width(), 3);
}

TEST(LdiLayout, DrawStatsAndRenderOptionDefaults) {
    const LdiDrawStats stats;
    EXPECT_EQ(stats.sizeMin, 100.0f);
    EXPECT_EQ(stats.sizeMax, 0.0f);
    EXPECT_EQ(stats.sizeSum, 0.0f);
    EXPECT_EQ(stats.visited, 0);
    EXPECT_EQ(stats.text.size(), 264u);
    const LdiRenderOptions options;
    EXPECT_EQ(options.markColour, 0x00FF0000);
    EXPECT_EQ(options.falseColorMode, 4);
    EXPECT_EQ(options.sizeAccurate, 1);
    EXPECT_EQ(options.useSplat, 0);
    EXPECT_EQ(options.frustumClipper, 1);
    EXPECT_EQ(options.scanlineCulling, 0);
    EXPECT_EQ(options.useDepthCorrection, 0);
}

}  // namespace
}  // namespace strata::ldi
