// Layer choice, the layer false colour and the coverage mask of the QP, CP and MRQP kernels, on
// synthetic LDIs whose answers follow from the geometry by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "render/inspection.h"
#include "render/output_view.h"
#include "render/synthetic_ldi.h"

namespace strata::render {
namespace {

using testing::SampleSource;
using testing::SyntheticCamera;
using testing::SyntheticMrqpSample;
using testing::SyntheticSample;

constexpr std::uint32_t kBack = 0x2040C0u;
constexpr std::uint32_t kFront = 0xC08020u;
constexpr std::uint32_t kBackground = 0x123456u;

ldi::FrameSettings singlePixels() {
    ldi::FrameSettings s;
    s.highQualitySplats = false;  // the blended footprints
    s.useSplat = false;
    s.useDepthCorrection = false;
    s.background = kBackground;
    return s;
}

// MRQP samples of the given ones: the 4 x 4 mask given, a full 2 x 2 mask, and the sample's
// colour for every bit.
testing::MrqpSampleSource mrqpOf(const SampleSource& source, std::uint32_t mask4) {
    return [=](std::int32_t r, std::int32_t c, std::vector<SyntheticMrqpSample>& out) {
        std::vector<SyntheticSample> samples;
        source(r, c, samples);
        for (const SyntheticSample& s : samples) {
            out.push_back(SyntheticMrqpSample{s, mask4, 0xFu,
                                              std::vector<std::uint32_t>(16, s.colour),
                                              std::vector<std::uint32_t>(4, s.colour)});
        }
    };
}

// One LDI kind the inspection cases run on. Without splatting, QP and CP draw single pixels;
// MRQP draws its 4 x 4 mask stretched to 5 x 5.
struct Kind {
    const char* name;
    std::function<std::unique_ptr<ldi::LdiBase>(const SyntheticCamera&, int, const SampleSource&,
                                                std::uint32_t mask4)>
        make;
    bool singlePixels;
};

const Kind kKinds[] = {
    {"Qp",
     [](const SyntheticCamera& cam, int n, const SampleSource& source, std::uint32_t)
         -> std::unique_ptr<ldi::LdiBase> { return testing::makeSyntheticQp(cam, n, n, source); },
     true},
    {"Cp",
     [](const SyntheticCamera& cam, int n, const SampleSource& source, std::uint32_t)
         -> std::unique_ptr<ldi::LdiBase> { return testing::makeSyntheticCp(cam, n, n, source); },
     true},
    {"Mrqp",
     [](const SyntheticCamera& cam, int n, const SampleSource& source,
        std::uint32_t mask4) -> std::unique_ptr<ldi::LdiBase> {
         return testing::makeSyntheticMrqp(cam, n, n, mrqpOf(source, mask4));
     },
     false},
};

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

class Inspection : public ::testing::TestWithParam<Kind> {
  protected:
    std::unique_ptr<ldi::LdiBase> make(const SyntheticCamera& cam, int n,
                                       const SampleSource& source,
                                       std::uint32_t mask4 = 0xFFFFu) const {
        return GetParam().make(cam, n, source, mask4);
    }

    // Two full planes, the back one at distance 4 and the front one at 2, stored farthest
    // first.
    std::unique_ptr<ldi::LdiBase> twoPlanes(const SyntheticCamera& cam, int n,
                                            std::uint32_t mask4 = 0xFFFFu) const {
        return make(
            cam, n,
            [](std::int32_t, std::int32_t, std::vector<SyntheticSample>& samples) {
                samples.push_back(SyntheticSample{4.0f, kBack, 0, 1});
                samples.push_back(SyntheticSample{2.0f, kFront, 0, 1});
            },
            mask4);
    }

    // A wall at distance 10 filling the reference view, and in front of it, at distance 5, a
    // square of half side 1 centred on the axis; the LDI holds only what the reference camera
    // sees.
    std::unique_ptr<ldi::LdiBase> squareBeforeWall(const SyntheticCamera& cam, int n) const {
        const float t = std::tan(cam.fov * 0.5f);
        return make(cam, n, [=](std::int32_t r, std::int32_t c, auto& samples) {
            const float x =
                (2.0f * (static_cast<float>(c) + 0.5f) / static_cast<float>(n) - 1.0f) * t;
            const float y =
                (2.0f * (static_cast<float>(r) + 0.5f) / static_cast<float>(n) - 1.0f) * t;
            if (std::fabs(x) * 5.0f < 1.0f && std::fabs(y) * 5.0f < 1.0f) {
                samples.push_back(SyntheticSample{5.0f, kFront, 0, 1});
            } else {
                samples.push_back(SyntheticSample{10.0f, kBack, 0, 1});
            }
        });
    }
};

struct Counts {
    int back = 0;
    int front = 0;
    int other = 0;
};

Counts countColours(const imageutil::RgbImage& frame) {
    Counts c;
    for (std::size_t i = 0; i < frame.pixelCount(); ++i) {
        const std::uint32_t p = frame.pixels[i] & 0xFFFFFFu;
        c.back += p == kBack ? 1 : 0;
        c.front += p == kFront ? 1 : 0;
        c.other += (p != kBack && p != kFront && p != kBackground) ? 1 : 0;
    }
    return c;
}

TEST_P(Inspection, LayerOneOfTwoPlanesShowsOnlyTheFartherPlane) {
    SyntheticCamera cam;
    const int n = 64;
    auto ldi = twoPlanes(cam, n);
    ASSERT_NE(ldi, nullptr);
    // A moved camera, so both planes spread differently.
    const OutputView view = makeOutputView({0.3f, 0.2f, 0.5f}, cam.dir, cam.up, cam.fov, n, n);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
    ldi::FrameSettings settings = singlePixels();

    const Counts all = (ldi::DrawFrame(*ldi, settings, view, frame), countColours(frame));
    EXPECT_GT(all.front, 0);
    EXPECT_LT(all.back, all.front);  // the back plane shows only around the front one

    settings.onlyLayer = 1;
    ldi::DrawFrame(*ldi, settings, view, frame);
    const Counts back = countColours(frame);
    EXPECT_GT(back.back, n * n / 4);
    EXPECT_EQ(back.front, 0);
    EXPECT_EQ(back.other, 0);

    settings.onlyLayer = 0;
    ldi::DrawFrame(*ldi, settings, view, frame);
    const Counts front = countColours(frame);
    EXPECT_EQ(front.back, 0);
    EXPECT_EQ(front.front, all.front);

    settings.onlyLayer = 2;  // no pixel has a third layer
    const ldi::LdiDrawStats none = ldi::DrawFrame(*ldi, settings, view, frame);
    EXPECT_EQ(none.written, 0);
    EXPECT_EQ(countColours(frame).front + countColours(frame).back, 0);
    // The choice lasts one frame only.
    EXPECT_EQ(ldi->inspection.onlyLayer, -1);
    EXPECT_EQ(ldi->inspection.coverage, nullptr);
}

TEST_P(Inspection, LayerFalseColourCountsFromTheFront) {
    SyntheticCamera cam;
    const int n = 48;
    auto ldi = twoPlanes(cam, n);
    const OutputView view = makeOutputView(cam.pos, cam.dir, cam.up, cam.fov, n, n);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
    ldi::FrameSettings settings = singlePixels();
    settings.useFalseColor = true;
    settings.falseColorMode = kLayerFalseColorMode;
    for (int layer = -1; layer <= 1; ++layer) {
        settings.onlyLayer = layer;
        ldi::DrawFrame(*ldi, settings, view, frame);
        const std::uint32_t expected = layerColour(layer < 0 ? 0 : layer);
        int hits = 0;
        for (std::size_t i = 0; i < frame.pixelCount(); ++i) {
            const std::uint32_t p = frame.pixels[i] & 0xFFFFFFu;
            EXPECT_TRUE(p == expected || p == kBackground) << std::hex << p;
            hits += p == expected ? 1 : 0;
        }
        EXPECT_GT(hits, n * n / 2) << layer;
    }
}

TEST_P(Inspection, CoverageFromTheReferenceCameraHasNoHoles) {
    SyntheticCamera cam;
    const int n = 120;
    auto ldi = squareBeforeWall(cam, n);
    const OutputView view = makeOutputView(cam.pos, cam.dir, cam.up, cam.fov, n, n);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n), 7);
    ldi::FrameSettings settings = singlePixels();
    settings.coverage = mask.data();
    ldi::DrawFrame(*ldi, settings, view, frame);
    const CoverageMeasure m = measureCoverage(mask, n, n);
    EXPECT_EQ(m.holes, 0);
    // The frame's margin lets samples reach every pixel, border included; the mask holds only
    // the values the frame wrote.
    EXPECT_EQ(m.area, static_cast<std::int64_t>(n * n));
    EXPECT_TRUE(std::all_of(mask.begin(), mask.end(), [](std::uint8_t b) { return b <= 1; }));
}

TEST_P(Inspection, SidewaysMoveUncoversTheStripWorkedOutByHand) {
    if (!GetParam().singlePixels) {
        GTEST_SKIP() << "the hand-worked strip assumes single-pixel samples";
    }
    SyntheticCamera cam;
    const int n = 200;
    auto ldi = squareBeforeWall(cam, n);
    const float dx = 0.5f;
    const OutputView view = makeOutputView({dx, 0.0f, 0.0f}, cam.dir, cam.up, cam.fov, n, n);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n));
    ldi::FrameSettings settings = singlePixels();
    settings.coverage = mask.data();
    ldi::DrawFrame(*ldi, settings, view, frame);
    const CoverageMeasure m = measureCoverage(mask, n, n);

    // Pixel focal length f: the square (distance 5) shifts by f dx / 5, the wall (distance 10)
    // by f dx / 10; the strip between them, as tall as the square's image (2 f / 5), was hidden.
    const double f = 0.5 * n / std::tan(0.5 * cam.fov);
    const double strip = f * dx / 5.0 - f * dx / 10.0;
    const double holes = strip * (2.0 * f / 5.0);
    // The picture: the whole frame less the wall's shift off one side.
    const double area = (n - f * dx / 10.0) * n;
    EXPECT_NEAR(static_cast<double>(m.holes), holes, 0.04 * holes);
    EXPECT_NEAR(m.share(), holes / area, 0.04 * holes / area);

    // The uncovered false colour paints exactly those holes.
    settings.coverage = nullptr;
    settings.useFalseColor = true;
    settings.falseColorMode = kUncoveredFalseColorMode;
    ldi::DrawFrame(*ldi, settings, view, frame);
    std::int64_t painted = 0;
    for (std::size_t i = 0; i < frame.pixelCount(); ++i) {
        painted += (frame.pixels[i] & 0xFFFFFFu) == kUncoveredColour ? 1 : 0;
    }
    EXPECT_EQ(painted, m.holes);
}

// The mask holds exactly the pixels the samples wrote (no fill runs without high-quality
// splats): from a camera moved closer, so splats grow past one pixel, and for MRQP with a 4 x 4
// mask of holes, whose unset bits must stay unmarked where no other sample lands.
TEST_P(Inspection, CoverageMarksExactlyTheWrittenPixels) {
    SyntheticCamera cam;
    const int n = 64;
    for (const bool splat : {false, true}) {
        for (const std::uint32_t mask4 : {0xFFFFu, 0x0033u}) {
            auto ldi = twoPlanes(cam, n, mask4);
            const OutputView view =
                makeOutputView({0.3f, 0.2f, -0.5f}, cam.dir, cam.up, cam.fov, n, n);
            imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
            std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n));
            ldi::FrameSettings settings = singlePixels();
            settings.useSplat = splat;
            settings.coverage = mask.data();
            ldi::DrawFrame(*ldi, settings, view, frame);
            int marked = 0;
            int mismatched = 0;
            for (std::size_t i = 0; i < frame.pixelCount(); ++i) {
                const bool drawn = (frame.pixels[i] & 0xFFFFFFu) != kBackground;
                marked += mask[i];
                mismatched += drawn != (mask[i] != 0) ? 1 : 0;
            }
            EXPECT_GT(marked, n * n / 4) << splat << " " << mask4;
            EXPECT_EQ(mismatched, 0) << splat << " " << mask4;
        }
    }
}

// High-quality splats mark what their soft footprints cover: from the reference camera every
// pixel.
TEST_P(Inspection, SoftSplatsMarkCoverage) {
    SyntheticCamera cam;
    const int n = 80;
    auto ldi = squareBeforeWall(cam, n);
    const OutputView view = makeOutputView(cam.pos, cam.dir, cam.up, cam.fov, n, n);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(n * n));
    ldi::FrameSettings settings = singlePixels();
    settings.useSplat = true;
    settings.highQualitySplats = true;
    settings.coverage = mask.data();
    ldi::DrawFrame(*ldi, settings, view, frame);
    const CoverageMeasure m = measureCoverage(mask, n, n);
    EXPECT_EQ(m.holes, 0);
    EXPECT_EQ(m.area, static_cast<std::int64_t>(n * n));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Inspection, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
}  // namespace strata::render
