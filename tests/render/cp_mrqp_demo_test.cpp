// CP and MRQP LDIs of the demo scene, made by the maker, drawn from their own reference camera
// and compared with the ray-traced picture of the same camera.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/ldi_factory.h"
#include "maker/demo_scene.h"
#include "maker/ldi_maker.h"
#include "maker/pinhole_camera.h"
#include "maker/ray_caster.h"
#include "maker/trace_image.h"
#include "render/output_view.h"

namespace strata {
namespace {

constexpr std::int32_t kGrid = 128;

struct Comparison {
    int pixels = 0;
    int equal = 0;
    double psnr = 0.0;
};

// Compares the frame with the truth over the pixels the guard band lets the kernels write:
// columns and rows 3 .. size - 7.
Comparison compareInside(const imageutil::RgbImage& frame,
                         const std::vector<std::uint32_t>& truth) {
    Comparison c;
    double total = 0.0;
    for (int y = 3; y < kGrid - 6; ++y) {
        for (int x = 3; x < kGrid - 6; ++x) {
            const std::uint32_t a = frame.pixels[y * kGrid + x] & 0xFFFFFFu;
            const std::uint32_t b = truth[static_cast<std::size_t>(y * kGrid + x)];
            ++c.pixels;
            c.equal += a == b;
            for (int shift : {16, 8, 0}) {
                const int d =
                    static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
                total += d * d;
            }
        }
    }
    const double mse = total / (3.0 * c.pixels);
    c.psnr = mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
    return c;
}

class CpMrqpDemo : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scene_ = std::make_unique<maker::Scene>(maker::buildDemoScene());
        std::string error;
        caster_ = maker::RayCaster::create(*scene_, error);
        ASSERT_NE(caster_, nullptr) << error;
        reference_ = maker::defaultCamera(scene_->bounds(), 0.7853982f, scene_->defaultElevation);
        ASSERT_TRUE(maker::normalizeCamera(reference_, error)) << error;
        char pattern[] = "/tmp/strata-cp-mrqp-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        const struct {
            maker::MakerKind kind;
            const char* name;
        } kinds[] = {{maker::MakerKind::rtCp, "demo.ldibrtcp"},
                     {maker::MakerKind::rtffCp, "demo.ldirtffcp"},
                     {maker::MakerKind::rtMrqp, "demo.ldibrtmrqp"},
                     {maker::MakerKind::rtffMrqp, "demo.ldirtffmrqp"}};
        for (const auto& k : kinds) {
            maker::MakeRequest request;
            request.kind = k.kind;
            request.camera = reference_;
            request.size = kGrid;
            std::vector<maker::MadeFile> made;
            const std::string path = folder_ + "/" + k.name;
            ASSERT_TRUE(maker::makeLdi(*caster_, request, path, made, error)) << error;
            auto ldi = ldi::LoadLdi(path, &error);
            ASSERT_NE(ldi, nullptr) << error;
            ldis_.push_back(std::move(ldi));
        }
        maker::TraceOptions options;
        options.width = kGrid;
        options.height = kGrid;
        ASSERT_TRUE(maker::traceImage(*caster_, reference_, options, truth_, error)) << error;
    }

    static void TearDownTestSuite() {
        ldis_.clear();
        caster_.reset();
        scene_.reset();
        std::filesystem::remove_all(folder_);
    }

    static imageutil::RgbImage render(ldi::LdiBase& object, const ldi::FrameSettings& settings) {
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(kGrid, kGrid);
        const render::OutputView view = render::makeOutputView(
            reference_.pos, reference_.dir, reference_.up, reference_.fov, kGrid, kGrid);
        ldi::DrawFrame(object, settings, view, frame);
        return frame;
    }

    static bool isCp(const ldi::LdiBase& object) { return object.header.dptType == 3; }

    static inline std::unique_ptr<maker::Scene> scene_;
    static inline std::unique_ptr<maker::RayCaster> caster_;
    static inline maker::PinholeCamera reference_;
    static inline std::string folder_;
    static inline std::vector<std::unique_ptr<ldi::LdiBase>> ldis_;
    static inline std::vector<std::uint32_t> truth_;
};

// Pixels (inside the guard band) whose colour is not within `tolerance` per channel of any truth
// pixel at most `reach` pixels away.
int unmatchedNearby(const imageutil::RgbImage& frame, const std::vector<std::uint32_t>& truth,
                    int reach, int tolerance) {
    const auto close = [tolerance](std::uint32_t a, std::uint32_t b) {
        for (int shift : {16, 8, 0}) {
            const int d =
                static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
            if (d > tolerance || d < -tolerance) {
                return false;
            }
        }
        return true;
    };
    int unmatched = 0;
    for (int y = 3; y < kGrid - 6; ++y) {
        for (int x = 3; x < kGrid - 6; ++x) {
            const std::uint32_t a = frame.pixels[y * kGrid + x] & 0xFFFFFFu;
            bool found = false;
            for (int dy = -reach; dy <= reach && !found; ++dy) {
                for (int dx = -reach; dx <= reach && !found; ++dx) {
                    const int tx = std::clamp(x + dx, 0, kGrid - 1);
                    const int ty = std::clamp(y + dy, 0, kGrid - 1);
                    found = close(a, truth[static_cast<std::size_t>(ty * kGrid + tx)]);
                }
            }
            unmatched += found ? 0 : 1;
        }
    }
    return unmatched;
}

TEST_F(CpMrqpDemo, ReferenceCameraReproducesTheTrace) {
    // The front layer of every file is the traced picture, and a sample seen from its own camera
    // is one pixel: single pixels, and splats of either size path with or without the depth
    // correction, give the trace exactly (the CP depth codes move nothing in the reference
    // view). MRQP with splatting off is the exception (below).
    ASSERT_EQ(ldis_.size(), 4u);
    for (const auto& object : ldis_) {
        const bool cp = isCp(*object);
        for (const int variant : {0, 1, 2, 3}) {
            if (!cp && variant == 0) {
                continue;
            }
            ldi::FrameSettings s;
            s.highQualitySplats = false;
            s.useSplat = variant != 0;
            s.sizeAccurate = variant == 2 ? 1 : 0;
            s.useDepthCorrection = variant == 3;
            const Comparison c = compareInside(render(*object, s), truth_);
            EXPECT_EQ(c.equal, c.pixels)
                << (cp ? "CP" : "MRQP") << " variant " << variant << ", PSNR " << c.psnr;
        }
    }
}

TEST_F(CpMrqpDemo, MrqpWithoutSplattingDrawsStretchedMasks) {
    // Splatting off draws every MRQP sample as its 4 x 4 mask stretched to 5 x 5, which later
    // samples partly overwrite: a pixel shows a sub-cell colour of a sample up to 3 pixels
    // away. Sub-cells see the same surfaces as nearby pixel centres, so all but about one
    // pixel in 1000 (texture edges inside a sub-cell) are within 16 per channel of a traced
    // pixel at most 3 pixels away; the bound allows one in 200.
    for (const auto& object : ldis_) {
        if (isCp(*object)) {
            continue;
        }
        ldi::FrameSettings s;
        s.highQualitySplats = false;
        s.useSplat = false;
        const imageutil::RgbImage frame = render(*object, s);
        const Comparison c = compareInside(frame, truth_);
        const int unmatched = unmatchedNearby(frame, truth_, 3, 16);
        std::printf("MRQP without splatting: PSNR %.2f dB, %d of %d pixels exact, %d unmatched\n",
                    c.psnr, c.equal, c.pixels, unmatched);
        EXPECT_GT(c.psnr, 15.0);
        EXPECT_LT(unmatched, c.pixels / 200);
    }
}

}  // namespace
}  // namespace strata
