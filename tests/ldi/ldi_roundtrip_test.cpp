#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "ldi/ldi_rtff.h"
#include "ldi/ldi_samples.h"
#include "platform/debug_output.h"

namespace strata::ldi {
namespace {

using testing::allSampleKinds;
using testing::makeSample;
using testing::readBytes;
using testing::TempDir;

std::vector<std::uint8_t> headerBytes(const LdiHeader& h) {
    platform::ByteWriter out;
    h.serialize(out);
    return out.bytes();
}

template <typename T>
bool sameArray(const T* a, const T* b, std::int64_t count) {
    return count == 0 || std::memcmp(a, b, static_cast<std::size_t>(count) * sizeof(T)) == 0;
}

void expectSameArrays(const LdiBase& x, const LdiBase& y) {
    ASSERT_EQ(headerBytes(x.header), headerBytes(y.header));
    const std::int64_t w = x.width();
    const std::int64_t h = x.height();
    if (const auto* cp = dynamic_cast<const LdiRtCp*>(&x)) {
        const auto& b = dynamic_cast<const LdiRtCp&>(y);
        EXPECT_TRUE(sameArray(cp->rowStart, b.rowStart, h + 1));
        // The spare last entry of each row is carried too.
        EXPECT_TRUE(sameArray(cp->layerCount, b.layerCount, (w + 1) * h));
        EXPECT_TRUE(sameArray(cp->pixels, b.pixels, cp->header.pixelCount));
    } else if (const auto* q = dynamic_cast<const LdiRtQuad*>(&x)) {
        const auto& r = dynamic_cast<const LdiRtQuad&>(y);
        expectSameArrays(*q->top(), *r.top());
        expectSameArrays(*q->bottom(), *r.bottom());
        EXPECT_EQ(q->firstVector, r.firstVector);
        EXPECT_EQ(q->secondVector, r.secondVector);
    } else if (const auto* qp = dynamic_cast<const LdiRtQp*>(&x)) {
        const auto& b = dynamic_cast<const LdiRtQp&>(y);
        EXPECT_TRUE(sameArray(qp->rowStart, b.rowStart, h + 1));
        EXPECT_TRUE(sameArray(qp->layerOffset, b.layerOffset, (w + 1) * h));
        EXPECT_TRUE(sameArray(qp->pixels, b.pixels, 2 * std::int64_t{qp->header.pixelCount}));
    } else {
        const auto& a = dynamic_cast<const LdiRtMrqp&>(x);
        const auto& b = dynamic_cast<const LdiRtMrqp&>(y);
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(sameArray(a.rowStart[k], b.rowStart[k], h + 1));
            EXPECT_TRUE(sameArray(a.layerOffset[k], b.layerOffset[k], (w + 1) * h));
        }
        const auto c = a.header.mrqpCounts();
        EXPECT_TRUE(sameArray(a.pixels, b.pixels, 2 * std::int64_t{c[0]}));
        EXPECT_TRUE(sameArray(a.colours4x4, b.colours4x4, c[1]));
        EXPECT_TRUE(sameArray(a.colours2x2, b.colours2x2, c[2]));
        EXPECT_TRUE(sameArray(a.fullColours, b.fullColours, c[3]));
    }
}

TEST(LdiRoundTrip, SaveThenLoadReproducesEveryKind) {
    TempDir dir;
    for (const auto& kind : allSampleKinds()) {
        SCOPED_TRACE(kind.name);
        auto original = makeSample(kind.ldiType, kind.dptType, 5, 3, 7);
        ASSERT_NE(original, nullptr);
        const bool quad = kind.ldiType == 5;
        const std::string saved = dir.file(std::string(kind.name) + (quad ? ".ldiquad" : ".ldi"));
        ASSERT_EQ(original->Save(saved), 1) << original->loadError();
        std::string error;
        auto loaded = LoadLdi(saved, &error);
        ASSERT_NE(loaded, nullptr) << error;
        EXPECT_EQ(loaded->header.ldiType, kind.ldiType);
        EXPECT_EQ(loaded->header.dptType, kind.dptType);
        expectSameArrays(*original, *loaded);
        EXPECT_EQ(loaded->DepthPixelCount(), original->DepthPixelCount());

        // Saving the loaded object again gives the same bytes.
        if (!quad) {
            const std::string again = dir.file(std::string(kind.name) + "_again.ldi");
            ASSERT_EQ(loaded->Save(again), 1);
            EXPECT_EQ(readBytes(again), readBytes(saved));
        }
    }
}

TEST(LdiRoundTrip, QuadListNamesItsHalvesAsSaved) {
    TempDir dir;
    auto quad = makeSample(5, 2, 4, 2, 3);
    ASSERT_EQ(quad->Save(dir.file("scene")), 1);
    const std::vector<std::uint8_t> list = readBytes(dir.file("scene.ldiquad"));
    const std::string text(list.begin(), list.end());
    // "%s_top.ldibrtqp" and "%s_bot.ldibrtqp" of the base name (file names only, the halves
    // sit beside the list), then " %f %f %f " and "%f %f %f\n".
    EXPECT_EQ(text,
              "scene_top.ldibrtqp\nscene_bot.ldibrtqp"
              "\n 1.500000 -2.250000 3.000000 0.125000 4.000000 -5.500000\n");
    auto top = LoadLdi(dir.file("scene_top.ldibrtqp"));
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->header.ldiType, 1);
    EXPECT_EQ(top->header.dptType, 2);

    // Backslash separators and CR line ends of lists written elsewhere still resolve.
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::rename(dir.file("scene_top.ldibrtqp"), dir.file("sub/t.ldibrtqp"));
    testing::writeText(dir.file("win.ldiquad"),
                       "sub\\t.ldibrtqp\r\nscene_bot.ldibrtqp\r\n 1 2 3 4 5 6\r\n");
    std::string error;
    auto loaded = LoadLdi(dir.file("win.ldiquad"), &error);
    ASSERT_NE(loaded, nullptr) << error;
    auto& q = dynamic_cast<LdiRtQuad&>(*loaded);
    EXPECT_EQ(q.secondVector, (geometry::Vector3{4.0f, 5.0f, 6.0f}));
    // The quad reports the top half's header as an RTQuad/QP pair.
    EXPECT_EQ(q.header.ldiType, 5);
    EXPECT_EQ(q.width(), 4);
    EXPECT_EQ(q.header.view.fov, q.top()->header.view.fov);

    // A list moved together with its halves still finds them beside it.
    std::filesystem::create_directory(dir.file("moved"));
    for (const char* name : {"scene.ldiquad", "scene_bot.ldibrtqp", "sub/t.ldibrtqp"}) {
        std::filesystem::copy_file(
            dir.file(name), dir.file("moved/" + std::filesystem::path(name).filename().string()));
    }
    std::filesystem::rename(dir.file("moved/t.ldibrtqp"), dir.file("moved/scene_top.ldibrtqp"));
    std::filesystem::rename(dir.file("scene_bot.ldibrtqp"), dir.file("gone.ldibrtqp"));
    EXPECT_NE(LoadLdi(dir.file("moved/scene.ldiquad"), &error), nullptr) << error;
}

TEST(LdiRoundTrip, LoadBuildsTablesAndRowRanges) {
    TempDir dir;
    for (const auto& kind : allSampleKinds()) {
        if (kind.ldiType == 5) {
            continue;
        }
        SCOPED_TRACE(kind.name);
        auto original = makeSample(kind.ldiType, kind.dptType, 5, 3, 11);
        ASSERT_EQ(original->Save(dir.file("t.ldi")), 1);
        auto ldi = LoadLdi(dir.file("t.ldi"));
        ASSERT_NE(ldi, nullptr);
        // Row depth ranges for every kind.
        ASSERT_EQ(ldi->header.culler.rows, 3);
        for (std::int32_t r = 0; r < 3; ++r) {
            float rowMin = 1.0f;
            float rowMax = -1.0f;
            for (std::int32_t c = 0; c < 5; ++c) {
                float lo = 0.0f;
                float hi = 0.0f;
                if (ldi->NormalisedDepthRange(r, c, lo, hi) != 0) {
                    rowMin = std::min(rowMin, lo);
                    rowMax = std::max(rowMax, hi);
                }
            }
            EXPECT_EQ(ldi->header.culler.zMin[static_cast<std::size_t>(r)], rowMin);
            EXPECT_EQ(ldi->header.culler.zMax[static_cast<std::size_t>(r)], rowMax);
        }
        // bins are i/16 for i <= 32: the middle of bin i is (2i + 1) / 32.
        const float base = (2.0f * 5 + 1) / 32.0f;
        if (kind.dptType == 3) {
            EXPECT_FLOAT_EQ(ldi->binValue[5], base - 1.0f);
            const float n = 1.0f;
            const float f = 100.0f;
            EXPECT_FLOAT_EQ(ldi->binFactor[5], 2 * n * f / ((f - n) * (base - 1.0f) - (f + n)));
            EXPECT_EQ(ldi->binFactor[32], 0.0f);
        } else {
            EXPECT_FLOAT_EQ(ldi->binValue[5], base);
            EXPECT_EQ(ldi->binFactor[0], 0.0f);  // only CP builds factors at load
        }
        EXPECT_EQ(ldi->binValue[32], 0.0f);  // past binCount
        EXPECT_EQ(ldi->visibleRect.width(), 5);
        EXPECT_EQ(ldi->visibleRect.height(), 3);
    }
}

TEST(LdiRoundTrip, BinTablesStayInsideTheirEntries) {
    LdiRtQp ldi;
    ldi.header.binCount = 2048;
    for (std::size_t i = 0; i < ldi.header.bins.size(); ++i) {
        ldi.header.bins[i] = static_cast<float>(i);
    }
    ldi.header.binBits = 40;
    ldi.BuildBinValues();
    ldi.BuildBinFactors();
    EXPECT_EQ(ldi.binValue[1023], 1023.5f);
    EXPECT_EQ(ldi.binFactor[1023], 1.0f);  // binBits limited to 10
    ldi.header.binBits = -3;
    ldi.BuildBinFactors();
    EXPECT_EQ(ldi.binFactor[0], 1.0f);
    EXPECT_EQ(ldi.binFactor[1], 0.0f);
    ldi.header.binCount = 0;
    ldi.BuildBinValues();
    EXPECT_EQ(ldi.binValue[0], 0.0f);
}

TEST(LdiRoundTrip, CpBinValuesAreOneBelowTheBaseValues) {
    LdiRtCp cp;
    LdiRtQp qp;
    for (LdiBase* l : {static_cast<LdiBase*>(&cp), static_cast<LdiBase*>(&qp)}) {
        l->header.binCount = 3;
        l->header.bins[0] = 0.5f;
        l->header.bins[1] = 1.0f;
        l->header.bins[2] = 1.5f;
        l->header.bins[3] = 2.0f;
        l->BuildBinValues();
    }
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(cp.binValue[i], qp.binValue[i] - 1.0f);
    }
}

TEST(LdiRoundTrip, FailedSaveLeavesTheOldFile) {
    TempDir dir;
    auto good = makeSample(1, 2, 3, 2, 5);
    ASSERT_EQ(good->Save(dir.file("keep.ldi")), 1);
    const auto before = readBytes(dir.file("keep.ldi"));
    auto bad = makeSample(1, 2, 3, 2, 6);
    static_cast<LdiRtQp&>(*bad).rowStart[1] = -1;  // inconsistent arrays are not saved
    platform::DebugCapture capture;
    EXPECT_EQ(bad->Save(dir.file("keep.ldi")), 0);
    EXPECT_EQ(readBytes(dir.file("keep.ldi")), before);
    EXPECT_NE(capture.text().find("not saved"), std::string::npos);
    // A folder that does not exist: nothing written, 0 returned.
    EXPECT_EQ(good->Save(dir.file("missing/x.ldi")), 0);
}

TEST(LdiRoundTrip, SecondLoadIntoTheSameObjectResizes) {
    TempDir dir;
    auto small = makeSample(1, 3, 2, 2, 1);
    auto large = makeSample(1, 3, 9, 7, 2);
    ASSERT_EQ(small->Save(dir.file("s.ldi")), 1);
    ASSERT_EQ(large->Save(dir.file("l.ldi")), 1);
    LdiRtCp ldi;
    ASSERT_EQ(ldi.Load(dir.file("s.ldi")), 1);
    ASSERT_EQ(ldi.Load(dir.file("l.ldi")), 1);
    expectSameArrays(*large, ldi);
    LdiRtffCp ff;
    auto ffLarge = makeSample(2, 3, 9, 7, 2);
    ASSERT_EQ(ffLarge->Save(dir.file("ffl.ldi")), 1);
    ASSERT_EQ(ff.Load(dir.file("ffl.ldi")), 1);
    ASSERT_EQ(ff.Load(dir.file("ffl.ldi")), 1);
    expectSameArrays(*ffLarge, ff);
}

}  // namespace
}  // namespace strata::ldi

namespace strata::ldi {
namespace {

TEST(LdiDepthRange, CpReportsEyeDistancesAndNormalisedRowRanges) {
    LdiRtCp cp;
    const std::int32_t counts[1] = {2};
    ASSERT_EQ(cp.Create(2, 1, 1, counts), 1);
    cp.header.view.near = 1.0f;
    cp.header.view.far = 100.0f;
    cp.header.binCount = 2;
    cp.header.bins[0] = 0.0f;  // code 0: middle 0.5, normalised -0.5
    cp.header.bins[1] = 1.0f;  // code 1: middle 1.5, normalised +0.5
    cp.header.bins[2] = 2.0f;
    cp.rowStart[0] = 0;
    cp.rowStart[1] = 2;
    cp.layerCount[0] = 0;
    cp.layerCount[1] = 2;
    cp.pixels[0] = 0x01000000u;
    cp.pixels[1] = 0x00FFFFFFu;
    cp.BuildBinValues();
    float lo = 0.0f;
    float hi = 0.0f;
    EXPECT_EQ(cp.DepthRange(0, 0, lo, hi), 0);
    ASSERT_EQ(cp.DepthRange(0, 1, lo, hi), 1);
    // 2nf / ((f - n) z - (f + n)), negated.
    EXPECT_NEAR(lo, 200.0f / (49.5f + 101.0f), 1e-4f);
    EXPECT_NEAR(hi, 200.0f / (101.0f - 49.5f), 1e-4f);
    ASSERT_EQ(cp.NormalisedDepthRange(0, 1, lo, hi), 1);
    EXPECT_FLOAT_EQ(lo, -0.5f);
    EXPECT_FLOAT_EQ(hi, 0.5f);
    EXPECT_EQ(cp.LayerCount(0, 2), 0);  // outside the grid
    EXPECT_EQ(cp.LayerCount(-1, 0), 0);
}

}  // namespace
}  // namespace strata::ldi
