// Wedge-parallel drawing: the picture of every kind and mode is the same bit for bit whatever
// the thread count, and the same as one sweep of the whole traversal, from cameras with the
// epipole inside the grid, outside it, behind the eye, at infinity and with none.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/depth.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/draw_support.h"
#include "ldi/voxel_model.h"
#include "platform/worker_pool.h"
#include "render/footprint.h"
#include "render/inspection.h"
#include "render/output_view.h"
#include "render/soft_splat.h"
#include "render/surface_splat.h"
#include "render/synthetic_ldi.h"
#include "render/wedge_cut.h"

namespace strata::render {
namespace {

using geometry::Vector3;
using testing::SyntheticCamera;
using testing::SyntheticSample;

constexpr int kSide = 96;
constexpr int kFrame = 120;

std::uint32_t hashColour(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    return x & 0xFFFFFFu;
}

// A wall, a slanted floor band and a box in front (farthest first), with varied normals and
// size classes, so footprints of several sizes meet at the wedge borders.
void sceneSamples(int r, int c, std::vector<SyntheticSample>& out) {
    const auto key = static_cast<std::uint32_t>(r * kSide + c);
    out.push_back(
        {30.0f + 0.05f * static_cast<float>(c), hashColour(key), 34 + (c % 5), 2 + (r % 3)});
    if (r > kSide / 2) {
        out.push_back({12.0f + 0.1f * static_cast<float>(r - kSide / 2), hashColour(key + 1u),
                       50 + (r % 4), 1 + (c % 4)});
    }
    if (r > kSide / 4 && r < kSide / 2 && c > kSide / 3 && c < 2 * kSide / 3) {
        out.push_back({6.0f, hashColour(key + 2u), 18, 3});
    }
}

SyntheticCamera sceneCamera() {
    SyntheticCamera cam;
    cam.near = 1.0f;
    cam.far = 64.0f;
    return cam;
}

struct Camera {
    const char* name;
    Vector3 pos;
    Vector3 dir;
};

// The reference camera sits at the origin looking down -z.
const Camera kCameras[] = {
    {"epipole inside, moved forward", {0.6f, 0.4f, -3.0f}, {0.05f, -0.02f, -1.0f}},
    {"epipole outside, moved sideways", {4.0f, 1.0f, -0.5f}, {-0.2f, -0.05f, -1.0f}},
    {"epipole inside, behind the eye", {-0.5f, 0.3f, 6.0f}, {0.02f, 0.03f, -1.0f}},
    {"epipole outside, behind the eye", {-6.0f, -2.0f, 3.0f}, {0.25f, 0.08f, -1.0f}},
    {"epipole at infinity, moved in the reference plane",
     {3.0f, 1.0f, 0.0f},
     {-0.2f, -0.05f, -1.0f}},
    {"no epipole: the reference eye, turned", {0.0f, 0.0f, 0.0f}, {0.1f, -0.06f, -1.0f}},
};

struct Mode {
    const char* name;
    bool splat;
    bool falseColour;
    int falseColourMode;
    bool highQuality;
    int sizeAccurate;
    int onlyLayer;
    bool coverage;
    bool trunc;
};

const Mode kModes[] = {
    {"splat off", false, false, 0, false, 0, -1, false, true},
    {"splat on", true, false, 0, false, 0, -1, false, true},
    {"splat on, nearest rounding", true, false, 0, false, 0, -1, false, false},
    {"accurate sizes", true, false, 0, false, 1, -1, false, true},
    {"false colour by normal", true, true, 4, false, 0, -1, false, true},
    {"false colour by size", true, true, 5, false, 0, -1, false, true},
    {"high quality", true, false, 0, true, 0, -1, false, true},
    {"high quality, splat off", false, false, 0, true, 0, -1, false, true},
    {"second layer with its coverage", true, false, 0, false, 0, 1, true, true},
};

struct Picture {
    std::vector<std::uint32_t> pixels;
    std::vector<std::uint8_t> coverage;
    ldi::LdiDrawStats stats;
};

using Draw = Picture (*)(const Camera&, const Mode&);

ldi::FrameSettings settingsFor(const Mode& m) {
    ldi::FrameSettings s;
    s.useSplat = m.splat;
    s.useFalseColor = m.falseColour;
    s.falseColorMode = m.falseColourMode;
    s.highQualitySplats = m.highQuality;
    s.sizeAccurate = m.sizeAccurate;
    s.onlyLayer = m.onlyLayer;
    s.useTrunc = m.trunc;
    s.backfaceCulling = false;
    return s;
}

OutputView viewFor(const Camera& c) {
    return makeOutputView(c.pos, geometry::normalized(c.dir), {0.0f, 1.0f, 0.0f}, kDefaultFov,
                          kFrame, kFrame);
}

template <class Ldi>
Picture drawLdi(Ldi& ldi, const Camera& c, const Mode& m) {
    Picture p;
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(kFrame, kFrame);
    ldi::FrameSettings settings = settingsFor(m);
    if (m.coverage) {
        p.coverage.assign(static_cast<std::size_t>(kFrame) * kFrame, 0);
        settings.coverage = p.coverage.data();
    }
    p.stats = ldi::DrawFrame(ldi, settings, viewFor(c), frame);
    p.pixels.assign(frame.pixels, frame.pixels + static_cast<std::size_t>(kFrame) * kFrame);
    return p;
}

ldi::LdiRtQp& qp() {
    static std::unique_ptr<ldi::LdiRtQp> ldi =
        testing::makeSyntheticQp(sceneCamera(), kSide, kSide, sceneSamples);
    return *ldi;
}

ldi::LdiRtCp& cp() {
    static std::unique_ptr<ldi::LdiRtCp> ldi =
        testing::makeSyntheticCp(sceneCamera(), kSide, kSide, sceneSamples);
    return *ldi;
}

ldi::LdiRtMrqp& mrqp() {
    static std::unique_ptr<ldi::LdiRtMrqp> ldi =
        testing::makeSyntheticMrqp(sceneCamera(), kSide, kSide, [](int r, int c, auto& out) {
            std::vector<SyntheticSample> samples;
            sceneSamples(r, c, samples);
            for (const SyntheticSample& s : samples) {
                testing::SyntheticMrqpSample m;
                m.sample = s;
                m.mask4 = 0xF0F0u | static_cast<std::uint32_t>(r % 7);
                m.mask2 = 0x9u;
                m.colours4.assign(16, s.colour);
                m.colours2.assign(4, s.colour ^ 0x101010u);
                out.push_back(m);
            }
        });
    return *ldi;
}

// The scene as a voxel model, seen by the voxel files' reference view.
ldi::VoxelModel& voxels() {
    static std::unique_ptr<ldi::VoxelModel> model = [] {
        auto m = std::make_unique<ldi::VoxelModel>();
        ldi::VoxelFrame f;
        f.width = kSide;
        f.height = kSide;
        f.view = ldi::VoxelReferenceView(kSide);
        f.rowStart.push_back(0);
        for (int r = 0; r < kSide; ++r) {
            std::int16_t count = 0;
            f.layerOffset.push_back(0);
            for (int c = 0; c < kSide; ++c) {
                std::vector<SyntheticSample> samples;
                sceneSamples(r, c, samples);
                for (const SyntheticSample& s : samples) {
                    const float z =
                        geometry::perspectiveDepth(-s.distance, f.view.near, f.view.far);
                    f.samples.push_back({static_cast<std::int32_t>(s.colour), 0, z});
                    ++count;
                }
                f.layerOffset.push_back(count);
            }
            f.rowStart.push_back(static_cast<std::int32_t>(f.samples.size()));
        }
        m->frames.clear();
        m->frames.push_back(std::move(f));
        m->currentFrame = 0;
        m->SelectFrame();
        return m;
    }();
    return *model;
}

Picture drawVoxels(const Camera& c, const Mode& m) {
    Picture p;
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(kFrame, kFrame);
    const OutputView view = viewFor(c);
    ldi::DrawFrameVoxels(&voxels(), settingsFor(m), view.warpMatrix, view.camera, frame);
    p.pixels.assign(frame.pixels, frame.pixels + static_cast<std::size_t>(kFrame) * kFrame);
    return p;
}

struct Kind {
    const char* name;
    Draw draw;
};

const Kind kKinds[] = {
    {"QP", [](const Camera& c, const Mode& m) { return drawLdi(qp(), c, m); }},
    {"CP", [](const Camera& c, const Mode& m) { return drawLdi(cp(), c, m); }},
    {"MRQP", [](const Camera& c, const Mode& m) { return drawLdi(mrqp(), c, m); }},
    {"voxels", drawVoxels},
};

// Draws with the given threads and wedge count (0: one per thread, -1: no cut), restoring the
// defaults afterwards.
Picture drawWith(const Kind& kind, const Camera& c, const Mode& m, int threads, int wedges) {
    platform::setDrawThreads(threads);
    setWedgeCount(wedges);
    Picture p = kind.draw(c, m);
    setWedgeCount(0);
    platform::setDrawThreadsAutomatic();
    return p;
}

std::int64_t differing(const Picture& a, const Picture& b) {
    std::int64_t n = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        n += a.pixels[i] != b.pixels[i] ? 1 : 0;
    }
    return n;
}

TEST(ParallelDraw, EveryKindAndModeIsTheSameForAnyThreadCountAndAsOneSweep) {
    // Threads and wedges: a cut drawn on one thread, one wedge per thread, more wedges than
    // threads.
    const struct {
        int threads;
        int wedges;
    } kCuts[] = {{1, 2}, {2, 0}, {2, 3}, {3, 0}, {2, 8}};
    for (const Kind& kind : kKinds) {
        for (const Camera& camera : kCameras) {
            for (const Mode& mode : kModes) {
                SCOPED_TRACE(std::string(kind.name) + ", " + camera.name + ", " + mode.name);
                const Picture sweep = drawWith(kind, camera, mode, 1, -1);
                // Something of the scene is drawn.
                std::int64_t background = 0;
                for (const std::uint32_t px : sweep.pixels) {
                    background += px == sweep.pixels[0] ? 1 : 0;
                }
                EXPECT_LT(background, static_cast<std::int64_t>(sweep.pixels.size()) * 9 / 10);
                for (const auto& cut : kCuts) {
                    SCOPED_TRACE(std::to_string(cut.threads) + " threads, " +
                                 std::to_string(cut.wedges) + " wedges");
                    const Picture p = drawWith(kind, camera, mode, cut.threads, cut.wedges);
                    EXPECT_EQ(differing(p, sweep), 0);
                    EXPECT_EQ(p.coverage, sweep.coverage);
                    EXPECT_EQ(p.stats.visited, sweep.stats.visited);
                    EXPECT_EQ(p.stats.inside, sweep.stats.inside);
                    EXPECT_EQ(p.stats.written, sweep.stats.written);
                }
            }
        }
    }
}

// Left to the program, frames of one kind are drawn on one thread or shared as measured (both
// ways while it tries them): every frame is the picture of one sweep.
TEST(ParallelDraw, AutomaticFramesAreTheSameWhicheverWayEachIsDrawn) {
    for (const Kind& kind : kKinds) {
        for (const Mode& mode : kModes) {
            SCOPED_TRACE(std::string(kind.name) + ", " + mode.name);
            const Picture sweep = drawWith(kind, kCameras[0], mode, 1, -1);
            platform::setDrawThreadsAutomatic();
            for (int frame = 0; frame < 12; ++frame) {
                const Picture p = kind.draw(kCameras[0], mode);
                EXPECT_EQ(differing(p, sweep), 0) << "frame " << frame;
                EXPECT_EQ(p.stats.written, sweep.stats.written) << "frame " << frame;
            }
        }
    }
}

// A border sample written in two parts (one wedge's pixels, then the rest) is the whole write:
// blended footprint, depth square or centre, coverage, surface-shaped soft splat.
TEST(ParallelDraw, ABorderWriteInTwoPartsEqualsTheWholeWrite) {
    constexpr int w = 16;
    const auto fresh = [] {
        std::vector<std::uint32_t> frame(w * w);
        for (std::size_t i = 0; i < frame.size(); ++i) {
            frame[i] = hashColour(static_cast<std::uint32_t>(i)) | 0xFF000000u;
        }
        return frame;
    };
    const auto inHalf = [](std::int32_t x, std::int32_t y) { return x + 2 * y < 27; };
    for (int radius = 0; radius <= 3; ++radius) {
        for (const std::uint8_t flags : {std::uint8_t{0}, ldi::kernel::BorderWrite::kDepthCentre}) {
            SCOPED_TRACE("radius " + std::to_string(radius) + " flags " + std::to_string(flags));
            const ldi::kernel::BorderWrite kept{
                7, 6, 0xFF123456u, -0.25f, static_cast<std::uint8_t>(radius), flags};
            std::vector<std::uint32_t> whole = fresh();
            std::vector<float> wholeDepth(w * w, 1.0f);
            std::vector<std::uint8_t> wholeCover(w * w, 0);
            const std::intptr_t at = 6 * w + 7;
            writeFootprint(whole.data() + at, w, radius, kept.word);
            if (flags == 0) {
                writeDepthSquare(wholeDepth.data() + at, w, radius, kept.zOut);
            } else {
                wholeDepth[static_cast<std::size_t>(at)] = kept.zOut;
            }
            markCoverage(wholeCover.data() + at, w, radius);

            std::vector<std::uint32_t> parts = fresh();
            std::vector<float> partsDepth(w * w, 1.0f);
            std::vector<std::uint8_t> partsCover(w * w, 0);
            const ldi::kernel::WriteTargets t{parts.data(), w, partsDepth.data(), partsCover.data(),
                                              nullptr};
            ldi::kernel::writeBorder(t, kept, inHalf);
            ldi::kernel::writeBorder(t, kept,
                                     [&](std::int32_t x, std::int32_t y) { return !inHalf(x, y); });
            EXPECT_EQ(parts, whole);
            EXPECT_EQ(partsDepth, wholeDepth);
            EXPECT_EQ(partsCover, wholeCover);
        }
    }
    // Footprints shaped by their surfaces: one to one, magnified and turned, stretched.
    const float maps[][4] = {
        {1.0f, 0.0f, 0.0f, 1.0f}, {1.8f, 0.6f, -0.5f, 1.6f}, {3.5f, 0.0f, 0.3f, 1.1f}};
    for (const auto& j : maps) {
        SoftSplatBuffer whole;
        whole.reset(w, w);
        SoftSplatBuffer parts;
        parts.reset(w, w);
        std::vector<std::uint8_t> wholeCover(w * w, 0);
        std::vector<std::uint8_t> partsCover(w * w, 0);
        SurfaceSplat near;
        SurfaceSplat far;
        ASSERT_TRUE(shapeSurfaceSplat(near, 7.3f, 6.1f, 7, 6, j[0], j[1], j[2], j[3]));
        ASSERT_TRUE(shapeSurfaceSplat(far, 8.2f, 5.6f, 8, 6, j[0], j[1], j[2], j[3]));
        near.zOut = -0.5f;
        near.dzu = 0.01f;
        near.tolerance = 0.01f;
        near.colour = 0x00AABBCCu;
        far.zOut = -0.49f;
        far.dzv = -0.02f;
        far.tolerance = 0.01f;
        far.colour = 0x00112233u;
        far.hidden = kHiddenSurface;
        for (const SurfaceSplat* s : {&near, &far}) {
            writeSurfaceSplat(
                whole, *s, [](std::int32_t, std::int32_t) { return true; }, wholeCover.data());
            writeSurfaceSplat(parts, *s, inHalf, partsCover.data());
            writeSurfaceSplat(
                parts, *s, [&](std::int32_t x, std::int32_t y) { return !inHalf(x, y); },
                partsCover.data());
        }
        EXPECT_EQ(partsCover, wholeCover);
        for (std::size_t i = 0; i < whole.pixels.size(); ++i) {
            ASSERT_EQ(parts.pixels[i].sum, whole.pixels[i].sum) << i;
            ASSERT_EQ(parts.pixels[i].depth, whole.pixels[i].depth) << i;
            ASSERT_EQ(parts.pixels[i].behindSum, whole.pixels[i].behindSum) << i;
            ASSERT_EQ(parts.pixels[i].behindDepth, whole.pixels[i].behindDepth) << i;
        }
    }
}

// The cameras above do cut the traversal: otherwise the comparisons prove nothing.
TEST(ParallelDraw, TheTestCamerasCutTheTraversalIntoWedges) {
    platform::setDrawThreads(2);
    for (const Camera& camera : kCameras) {
        SCOPED_TRACE(camera.name);
        ldi::LdiRtQp& ldi = qp();
        drawLdi(ldi, camera, kModes[1]);
        const WedgeCut cut = ldi::kernel::wedgeCut(ldi, kFrame + 2 * 9, kFrame + 2 * 9,
                                                   ldi::kernel::footprintReach(3));
        EXPECT_EQ(cut.wedges.size(), 2u);
    }
    // One thread sweeps the whole traversal.
    platform::setDrawThreads(1);
    EXPECT_TRUE(ldi::kernel::wedgeCut(qp(), kFrame + 18, kFrame + 18, 0.0f).wedges.empty());
    // Left to the program, every core, for draws of enough samples only: this scene has few.
    platform::setDrawThreadsAutomatic();
    ASSERT_LT(qp().DepthPixelCount(), ldi::kernel::kParallelSamples);
    EXPECT_TRUE(ldi::kernel::wedgeCut(qp(), kFrame + 18, kFrame + 18, 0.0f).wedges.empty());
    EXPECT_EQ(ldi::kernel::wedgesForDraw(ldi::kernel::kParallelSamples - 1), 0);
    EXPECT_EQ(ldi::kernel::wedgesForDraw(ldi::kernel::kParallelSamples),
              wedgesFor(platform::defaultThreadCount()));
}

}  // namespace
}  // namespace strata::render
