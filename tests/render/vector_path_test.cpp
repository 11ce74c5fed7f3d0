// The vector path of the sample placement against the scalar path: the placement of single
// samples at the guard band's edges, and whole pictures of every kind and switch, bit for bit,
// in both rounding modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "geometry/depth.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/sample_batch.h"
#include "platform/fp_mode.h"
#include "render/depth_correction_table.h"
#include "render/output_view.h"
#include "render/synthetic_ldi.h"
#include "render/warp_state.h"

namespace strata::render {
namespace {

using ldi::kernel::Placement;
using ldi::kernel::SampleBatch;
using testing::SyntheticCamera;
using testing::SyntheticSample;

// Restores the vector path whatever a test does.
struct VectorUnitsOn {
    ~VectorUnitsOn() { ldi::kernel::useVectorUnits(true); }
};

bool haveVectorUnits() {
    ldi::kernel::useVectorUnits(true);
    return ldi::kernel::vectorUnitsInUse();
}

std::uint32_t bits(float f) {
    std::uint32_t b = 0;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// A frame of 40 x 30: the guard band is 2.5 w < x < 34 w, 2.5 w < y < 24 w; pixels 3 .. 36
// and 3 .. 26 may be written.
ldi::kernel::FrameTarget smallTarget() {
    return {nullptr, 40, 36, 26, 34.0f, 24.0f};
}

TEST(VectorPath, ScalarPlacementKeepsTheGuardBandStrict) {
    const geometry::Vector4 zc{0.0f, 0.0f, 0.0f, 0.0f};
    const ldi::kernel::FrameTarget t = smallTarget();
    ldi::kernel::SamplePlace place;
    struct Case {
        geometry::Vector4 p;
        Placement expected;
    };
    const Case cases[] = {
        {{10.0f, 10.0f, -0.5f, 1.0f}, Placement::inside},
        {{2.5f, 10.0f, 0.0f, 1.0f}, Placement::outside},   // x exactly 2.5 w
        {{34.0f, 10.0f, 0.0f, 1.0f}, Placement::outside},  // x exactly guardX w
        {{10.0f, 2.5f, 0.0f, 1.0f}, Placement::outside},
        {{10.0f, 24.0f, 0.0f, 1.0f}, Placement::outside},
        {{10.0f, 10.0f, 0.0f, 0.0f}, Placement::behind},  // w = 0
        {{10.0f, 10.0f, 0.0f, -1.0f}, Placement::behind},
        {{std::nanf(""), 10.0f, 0.0f, 1.0f}, Placement::outside},
        {{10.0f, 10.0f, 0.0f, std::nanf("")}, Placement::behind},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ldi::kernel::placeSample(c.p, zc, 0.0f, t, place), c.expected)
            << c.p.x << " " << c.p.y << " " << c.p.w;
    }
    // sx = 5 converts as int(5.5): 5 under truncation, the even 6 under round-to-nearest.
    for (const auto& [rounding, expectedX] : {std::pair{FE_TOWARDZERO, 5}, {FE_TONEAREST, 6}}) {
        const int saved = std::fegetround();
        std::fesetround(rounding);
        // Through a volatile, so the compiler cannot fold the conversion in its own mode.
        volatile float x = 10.0f;
        const Placement placement =
            ldi::kernel::placeSample({x, 20.0f, -0.5f, 2.0f}, zc, 0.0f, t, place);
        std::fesetround(saved);
        ASSERT_EQ(placement, Placement::inside);
        EXPECT_EQ(place.X, expectedX);
        EXPECT_EQ(place.Y, 10);
        EXPECT_EQ(place.offset, 10 * 40 + expectedX);
        EXPECT_FLOAT_EQ(place.sy, 10.0f);
        EXPECT_FLOAT_EQ(place.zOut, -0.25f);
    }
}

// Random samples around the guard band, its edges and the rounding edges, placed both ways.
TEST(VectorPath, BatchPlacementEqualsScalarBitForBit) {
    if (!haveVectorUnits()) {
        GTEST_SKIP() << "no AVX2 on this processor";
    }
    const ldi::kernel::FrameTarget t = smallTarget();
    const geometry::Vector4 zc{1.5f, -0.75f, 0.125f, 0.3f};
    auto batch = std::make_unique<SampleBatch>();
    auto vector = std::make_unique<SampleBatch>();
    std::uint32_t state = 12345u;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 16777216.0f;  // [0, 1)
    };
    for (const int rounding : {FE_TOWARDZERO, FE_TONEAREST}) {
        const int saved = std::fegetround();
        std::fesetround(rounding);
        for (int round = 0; round < 50; ++round) {
            batch->count = 0;
            // Counts not a multiple of 8 leave a partial vector at the end.
            const int count = SampleBatch::kCapacity - (round % 9);
            for (int i = 0; i < count; ++i) {
                const float w = next() * 4.0f - 0.5f;
                float z = next() * 2.0f - 1.0f;
                geometry::Vector4 p{next() * 40.0f * w, next() * 30.0f * w, -next(), w};
                switch (i % 7) {
                    case 1:  // x exactly on a guard band edge
                        p.w = w + 0.6f;
                        p.x = (round % 2 == 0 ? 2.5f : 34.0f) * p.w;
                        z = 0.0f;
                        break;
                    case 2:  // a position exactly halfway between pixels
                        p = {10.5f, 6.5f, -0.5f, 1.0f};
                        z = 0.0f;
                        break;
                    case 3:  // X rounds to 3, the first column that may be written
                        p = {2.5001f, 10.0f, -0.5f, 1.0f};
                        z = 0.0f;
                        break;
                    case 4:  // y exactly on a guard band edge
                        p.w = w + 0.6f;
                        p.y = (round % 2 == 0 ? 2.5f : 24.0f) * p.w;
                        z = 0.0f;
                        break;
                    case 5:  // w exactly 0
                        p = {10.0f, 10.0f, -0.5f, 0.0f};
                        z = 0.0f;
                        break;
                    default:
                        break;
                }
                batch->set(batch->count++, p, z);
            }
            *vector = *batch;
            ldi::kernel::placeSamplesScalar(*batch, zc, t);
            ldi::kernel::placeSamples(*vector, zc, t);
            for (int i = 0; i < count; ++i) {
                ASSERT_EQ(vector->placement[i], batch->placement[i]) << "sample " << i;
                if (batch->placement[i] != Placement::inside) {
                    continue;
                }
                ASSERT_EQ(vector->X[i], batch->X[i]) << "sample " << i;
                ASSERT_EQ(vector->Y[i], batch->Y[i]) << "sample " << i;
                ASSERT_EQ(vector->offset[i], batch->offset[i]) << "sample " << i;
                ASSERT_EQ(bits(vector->sx[i]), bits(batch->sx[i])) << "sample " << i;
                ASSERT_EQ(bits(vector->sy[i]), bits(batch->sy[i])) << "sample " << i;
                ASSERT_EQ(bits(vector->zOut[i]), bits(batch->zOut[i])) << "sample " << i;
            }
        }
        std::fesetround(saved);
    }
}

// Depth words decoded and placed both ways: every 20-bit code (and the bits above it, which the
// decoding ignores) gives the same depth and place.
TEST(VectorPath, DepthWordsDecodeAsTheScalarPath) {
    if (!haveVectorUnits()) {
        GTEST_SKIP() << "no AVX2 on this processor";
    }
    const ldi::kernel::FrameTarget t = smallTarget();
    const geometry::Vector4 zc{-20.0f, 10.0f, -0.9f, -0.5f};
    auto batch = std::make_unique<SampleBatch>();
    auto vector = std::make_unique<SampleBatch>();
    for (std::uint32_t first = 0; first < 0x100000u; first += SampleBatch::kCapacity * 97u) {
        batch->count = 0;
        for (int i = 0; i < SampleBatch::kCapacity - 3; ++i) {
            const std::uint32_t code = (first + static_cast<std::uint32_t>(i) * 97u) & 0xFFFFFu;
            batch->setWord(batch->count++, {20.0f, 13.0f, 0.1f, 1.0f}, code | (code << 20));
        }
        *vector = *batch;
        ldi::kernel::placeDepthWordsScalar(*batch, zc, t);
        ldi::kernel::placeDepthWords(*vector, zc, t);
        for (int i = 0; i < batch->count; ++i) {
            ASSERT_EQ(bits(vector->z[i]), bits(batch->z[i])) << "word " << batch->word[i];
            ASSERT_EQ(bits(batch->z[i]), bits(geometry::decodeDepth(batch->word[i] & 0xFFFFFu)));
            ASSERT_EQ(vector->placement[i], batch->placement[i]) << "word " << batch->word[i];
            if (batch->placement[i] == Placement::inside) {
                ASSERT_EQ(vector->offset[i], batch->offset[i]) << "word " << batch->word[i];
                ASSERT_EQ(bits(vector->zOut[i]), bits(batch->zOut[i])) << "word " << batch->word[i];
            }
        }
    }
}

// The per-column and per-row lookup of the depth correction against the table's own index, for
// pictures of even and odd sizes inside a frame with a margin: the margin repeats the edge.
TEST(VectorPath, DepthCorrectionLookupMatchesTheTable) {
    for (const auto& [width, height] : {std::pair{16, 10}, {15, 9}, {1, 1}}) {
        const std::int32_t margin = 5;
        WarpState warp;
        warp.outWidth = width;
        warp.outHeight = height;
        warp.window = {margin, margin, width, height};
        warp.depthCorrection.update(width, height, 0.1f, 0.15f, 1.0f);
        const DepthCorrectionTable& table = warp.depthCorrection;
        const std::int32_t frameWidth = width + 2 * margin;
        const std::int32_t frameHeight = height + 2 * margin;
        const ldi::kernel::DepthCorrection c =
            ldi::kernel::depthCorrection(warp, frameWidth, frameHeight);
        for (std::int32_t y = 0; y < frameHeight; ++y) {
            for (std::int32_t x = 0; x < frameWidth; ++x) {
                // The nearest picture pixel, then its entry (an even side's column 0 has none:
                // it takes the entry of column 1, the same distance from the centre rounded in).
                std::int32_t px = std::clamp(x - margin, 0, width - 1);
                std::int32_t py = std::clamp(y - margin, 0, height - 1);
                px += (width % 2 == 0 && px == 0) ? 1 : 0;
                py += (height % 2 == 0 && py == 0) ? 1 : 0;
                ASSERT_TRUE(table.covers(px, py)) << x << "," << y;
                ASSERT_EQ(c.at(x, y), table.entries[table.indexOf(px, py)])
                    << width << "x" << height << " at " << x << "," << y;
            }
        }
    }
}

// Samples of a wall, a slanted floor and a box with a spread of normals and size classes.
void sceneSamples(int r, int c, std::vector<SyntheticSample>& out) {
    const auto key = static_cast<std::uint32_t>(r * 97 + c * 13);
    out.push_back({30.0f + 0.05f * static_cast<float>(c), key & 0xFFFFFFu,
                   static_cast<int>(key % 64), static_cast<int>(key % 7)});
    if ((r + c) % 3 != 0) {
        out.push_back({8.0f + 0.1f * static_cast<float>(r), (key * 7u) & 0xFFFFFFu,
                       static_cast<int>((key / 3) % 64), static_cast<int>(key % 5)});
    }
    if (r > 20 && r < 40 && c > 15 && c < 45) {
        out.push_back({3.0f, 0x3366FFu, 17, 3});
    }
}

struct Kind {
    const char* name;
    std::unique_ptr<ldi::LdiBase> (*make)();
};

SyntheticCamera sceneCamera() {
    SyntheticCamera cam;
    cam.far = 64.0f;
    return cam;
}

const Kind kKinds[] = {
    {"QP",
     [] {
         return std::unique_ptr<ldi::LdiBase>(
             testing::makeSyntheticQp(sceneCamera(), 64, 64, sceneSamples));
     }},
    {"CP",
     [] {
         return std::unique_ptr<ldi::LdiBase>(
             testing::makeSyntheticCp(sceneCamera(), 64, 64, sceneSamples));
     }},
    {"MRQP",
     [] {
         return std::unique_ptr<ldi::LdiBase>(
             testing::makeSyntheticMrqp(sceneCamera(), 64, 64, [](int r, int c, auto& out) {
                 std::vector<SyntheticSample> samples;
                 sceneSamples(r, c, samples);
                 for (const auto& s : samples) {
                     testing::SyntheticMrqpSample m;
                     m.sample = s;
                     m.mask4 = 0xF0F0u | static_cast<std::uint32_t>(c & 15);
                     m.mask2 = 0x9;
                     m.colours4.assign(16, s.colour ^ 0x00FF00u);
                     m.colours2.assign(4, s.colour ^ 0xFF0000u);
                     out.push_back(m);
                 }
             }));
     }},
};

struct Variant {
    const char* name;
    bool splat;
    bool falseColour;
    int mode;
    int sizeAccurate;
    bool backface;
    int onlyLayer = -1;
    bool highQuality = false;
};

const Variant kVariants[] = {
    {"splat off", false, false, 0, 0, false},
    {"splat on", true, false, 0, 0, false},
    {"splat on, accurate sizes, backface", true, false, 0, 1, true},
    {"false colour depth", true, true, 2, 0, false},
    {"false colour normal", true, true, 4, 0, false},
    {"false colour size", true, true, 6, 1, false},
    {"second layer only", true, false, 0, 0, false, 1},
    {"high quality", true, false, 0, 0, false, -1, true},
};

ldi::FrameSettings settingsOf(const Variant& v, bool trunc) {
    ldi::FrameSettings settings;
    settings.useSplat = v.splat;
    settings.useFalseColor = v.falseColour;
    settings.falseColorMode = v.mode;
    settings.sizeAccurate = v.sizeAccurate;
    settings.backfaceCulling = v.backface;
    settings.onlyLayer = v.onlyLayer;
    settings.highQualitySplats = v.highQuality;
    settings.useTrunc = trunc;
    return settings;
}

// Eye in front and moved (epipole inside the grid), moved sideways (epipole outside), and
// behind the reference camera.
struct Eye {
    const char* name;
    geometry::Vector3 pos;
    geometry::Vector3 dir;
};

const Eye kEyes[] = {
    {"forward", {0.4f, 0.3f, -2.0f}, {-0.02f, 0.0f, -1.0f}},
    {"sideways", {6.0f, 1.0f, 0.0f}, {-0.25f, -0.05f, -1.0f}},
    {"behind", {0.2f, -0.1f, 6.0f}, {0.0f, 0.03f, -1.0f}},
};

TEST(VectorPath, PicturesEqualTheScalarPathForEveryKindAndSwitch) {
    if (!haveVectorUnits()) {
        GTEST_SKIP() << "no AVX2 on this processor";
    }
    VectorUnitsOn restore;
    for (const Kind& kind : kKinds) {
        const std::unique_ptr<ldi::LdiBase> ldi = kind.make();
        ASSERT_NE(ldi, nullptr) << kind.name;
        for (const Variant& v : kVariants) {
            for (const Eye& eye : kEyes) {
                for (const bool trunc : {true, false}) {
                    const ldi::FrameSettings settings = settingsOf(v, trunc);
                    const OutputView view =
                        makeOutputView(eye.pos, geometry::normalized(eye.dir), {0.0f, 1.0f, 0.0f},
                                       kDefaultFov, 120, 90);
                    imageutil::RgbImage frames[2] = {imageutil::RgbImage::createOwned(120, 90),
                                                     imageutil::RgbImage::createOwned(120, 90)};
                    ldi::LdiDrawStats stats[2];
                    for (int path = 0; path < 2; ++path) {
                        ldi::kernel::useVectorUnits(path == 1);
                        stats[path] = ldi::DrawFrame(*ldi, settings, view, frames[path]);
                    }
                    const std::string where = std::string(kind.name) + ", " + v.name + ", " +
                                              eye.name + (trunc ? ", truncation" : ", nearest");
                    ASSERT_GT(stats[0].written, 100) << where;
                    EXPECT_EQ(stats[1].visited, stats[0].visited) << where;
                    EXPECT_EQ(stats[1].inside, stats[0].inside) << where;
                    EXPECT_EQ(stats[1].written, stats[0].written) << where;
                    const std::size_t words = 120u * 90u;
                    EXPECT_EQ(std::memcmp(frames[0].pixels, frames[1].pixels, words * 4), 0)
                        << where;
                }
            }
        }
    }
}

}  // namespace
}  // namespace strata::render
