// Soft depth-tested splats and the small-gap fill, on hand-made buffers: which writes blend,
// replace or drop, how footprint weights decide coverage, which gaps the pull-push pass fills
// and that the margin window follows the viewport.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/worker_pool.h"
#include "render/frame_margin.h"
#include "render/output_view.h"
#include "render/soft_splat.h"
#include "render/surface_splat.h"

namespace strata::render {
namespace {

constexpr std::uint32_t kBackground = 0x123456u;

TEST(SoftSplat, SameSurfaceBlendsNearerReplacesFartherIsDropped) {
    struct Case {
        float z;
        float tolerance;
        std::uint32_t colour;
        float depthAfter;
        std::uint32_t weightAfter;
        std::uint32_t redSumAfter;
    };
    // The pixel starts with one centre write of red 200 at depth -0.5.
    const Case cases[] = {
        {-0.5f, 0.01f, 0x640000u, -0.5f, 2 * kWeightNew, 200 * kWeightNew + 100 * kWeightNew},
        {-0.505f, 0.01f, 0x640000u, -0.505f, 2 * kWeightNew, 300 * kWeightNew},  // within
        {-0.49f, 0.01f, 0x640000u, -0.5f, 2 * kWeightNew, 300 * kWeightNew},     // at the limit
        {-0.52f, 0.01f, 0x640000u, -0.52f, kWeightNew, 100 * kWeightNew},        // clearly nearer
        {-0.48f, 0.01f, 0x640000u, -0.5f, kWeightNew, 200 * kWeightNew},         // clearly farther
        {-0.48f, 0.03f, 0x640000u, -0.5f, 2 * kWeightNew, 300 * kWeightNew},     // wider tolerance
    };
    for (const Case& c : cases) {
        SoftPixel p;
        softWrite(p, -0.5f, 0.0f, kWeightNew, spreadColour(0xC80000u));
        softWrite(p, c.z, c.tolerance, kWeightNew, spreadColour(c.colour));
        EXPECT_FLOAT_EQ(p.depth, c.depthAfter) << c.z << " " << c.tolerance;
        EXPECT_EQ(p.weight(), c.weightAfter) << c.z << " " << c.tolerance;
        EXPECT_EQ((p.sum >> 34) & 0x1FFFFu, c.redSumAfter) << c.z << " " << c.tolerance;
        EXPECT_EQ(p.sum & ((std::uint64_t{1} << 34) - 1), 0u);
    }
    // Sums stop at the weight limit and never carry into the next channel.
    SoftPixel p;
    for (int i = 0; i < 1000; ++i) {
        softWrite(p, -0.5f, 0.1f, kWeightNew, spreadColour(0xFFFFFFu));
    }
    EXPECT_GE(p.weight(), kMaxWeight);
    EXPECT_LT(p.weight(), kMaxWeight + kWeightNew);
    EXPECT_EQ(p.sum & 0x1FFFFu, 255u * p.weight());
    EXPECT_EQ((p.sum >> 17) & 0x1FFFFu, 255u * p.weight());
    EXPECT_EQ((p.sum >> 34) & 0x1FFFFu, 255u * p.weight());
    EXPECT_EQ(meanColour(p.sum), 0xFFFFFFFFu);
}

// The rules of one footprint pixel in their plainest form, one case after another.
void plainWrite(SoftPixel& p, float z, float tolerance, std::uint32_t weight, std::uint32_t colour,
                bool hidden) {
    const std::uint64_t mark = hidden ? kHiddenSurface : 0;
    const std::uint64_t add = spreadColour(colour) * weight;
    auto grow = [&](std::uint64_t& sum, float& depth) {
        if (weightOf(sum) < kMaxWeight) {
            const bool stillHidden = (sum & kHiddenSurface) != 0 && hidden;
            sum = ((sum & ~kHiddenSurface) + add) | (stillHidden ? kHiddenSurface : 0);
            depth = std::min(depth, z);
            return true;
        }
        return false;
    };
    if (z < p.depth - tolerance) {
        if (p.weight() >= p.behindWeight()) {
            p.behindDepth = p.depth;
            p.behindSum = p.sum;
        }
        p.depth = z;
        p.sum = add | mark;
    } else if (z <= p.depth + tolerance) {
        if (!grow(p.sum, p.depth)) {
            p.depth = std::min(p.depth, z);
        }
    } else if (z < p.behindDepth - tolerance) {
        p.behindDepth = z;
        p.behindSum = add | mark;
    } else if (z <= p.behindDepth + tolerance) {
        grow(p.behindSum, p.behindDepth);
    }
}

// Long random runs of writes over a few depths close to each other (so every case and every
// tolerance boundary comes up) agree with the plain rules on every field.
TEST(SoftSplat, WritesFollowThePlainRules) {
    const float depths[] = {-0.5f, -0.49f, -0.51f, -0.52f, -0.48f, -0.3f, -0.7f, -0.505f};
    const float tolerances[] = {0.0f, 0.01f, 0.02f, 0.2f};
    const std::uint32_t weights[] = {kWeightQuarter, kWeightHalf, kWeightNew};
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    int pushes = 0;
    for (int run = 0; run < 2000; ++run) {
        SoftPixel fast;
        SoftPixel plain;
        const int length = 1 + static_cast<int>(next(60));
        for (int i = 0; i < length; ++i) {
            const float z = depths[next(8)];
            const float tolerance = tolerances[next(4)];
            const std::uint32_t weight = weights[next(3)];
            const std::uint32_t colour = next(0x1000000u);
            const bool hidden = next(3) == 0;
            const float before = plain.behindDepth;
            softWrite(fast, z, tolerance, weight, spreadColour(colour),
                      hidden ? kHiddenSurface : 0);
            plainWrite(plain, z, tolerance, weight, colour, hidden);
            pushes += plain.behindDepth != before ? 1 : 0;
            ASSERT_EQ(fast.depth, plain.depth) << run << " " << i;
            ASSERT_EQ(fast.sum, plain.sum) << run << " " << i;
            ASSERT_EQ(fast.behindDepth, plain.behindDepth) << run << " " << i;
            ASSERT_EQ(fast.behindSum, plain.behindSum) << run << " " << i;
        }
    }
    EXPECT_GT(pushes, 1000);  // the runs did reach the surface behind
}

// Every footprint writes its table's weights around its centre and nothing else, onto pixels
// that already hold surfaces.
TEST(SoftSplat, FootprintsWriteTheirTablesWeights) {
    constexpr std::int32_t kSide = 9;
    for (int radius = 0; radius <= 3; ++radius) {
        SoftSplatBuffer buffer;
        buffer.reset(kSide, kSide);
        std::vector<SoftPixel> expected(buffer.pixels.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            // Some pixels hold this surface, some a farther and some a nearer one.
            const float depth = i % 3 == 0 ? -0.5f : i % 3 == 1 ? -0.4f : -0.6f;
            softWrite(buffer.pixels[i], depth, 0.0f, kWeightNew, spreadColour(0x102030u));
            expected[i] = buffer.pixels[i];
        }
        const std::uint32_t colour = 0x405060u;
        softSplat(buffer, 4, 4, radius, colour, -0.5f, 0.01f);
        for (std::int32_t y = 0; y < kSide; ++y) {
            for (std::int32_t x = 0; x < kSide; ++x) {
                const auto i = static_cast<std::size_t>(y * kSide + x);
                const int dx = x - 4;
                const int dy = y - 4;
                if (std::abs(dx) <= 3 && std::abs(dy) <= 3) {
                    const std::uint32_t weight = kSoftFootprints[radius].weight[dy + 3][dx + 3];
                    if (weight != 0) {
                        softWrite(expected[i], -0.5f, 0.01f, weight, spreadColour(colour));
                    }
                }
                const SoftPixel& got = buffer.pixels[i];
                EXPECT_EQ(got.depth, expected[i].depth) << radius << " " << x << " " << y;
                EXPECT_EQ(got.sum, expected[i].sum) << radius << " " << x << " " << y;
                EXPECT_EQ(got.behindDepth, expected[i].behindDepth) << radius << " " << x;
                EXPECT_EQ(got.behindSum, expected[i].behindSum) << radius << " " << x;
            }
        }
    }
    // The centre always weighs new; the radius-1 corners a quarter, its sides a half.
    EXPECT_EQ(kSoftFootprints[1].weight[3][3], kWeightNew);
    EXPECT_EQ(kSoftFootprints[1].weight[2][2], kWeightQuarter);
    EXPECT_EQ(kSoftFootprints[1].weight[2][3], kWeightHalf);
    EXPECT_EQ(kSoftFootprints[1].weight[3][4], kWeightHalf);
}

// Resolves a buffer covered in green where the rows show '#'.
std::vector<std::uint32_t> resolve(const std::vector<const char*>& rows, std::int64_t* filled,
                                   int maxGap) {
    SoftSplatBuffer buffer;
    const auto h = static_cast<std::int32_t>(rows.size());
    const auto w = static_cast<std::int32_t>(std::string(rows[0]).size());
    buffer.reset(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (rows[static_cast<std::size_t>(y)][x] == '#') {
                softWrite(buffer.pixels[static_cast<std::size_t>(y * w + x)], -0.5f, 0.0f,
                          kWeightNew, spreadColour(0x00FF00u));
            }
        }
    }
    buffer.touchAll();
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(w * h), kBackground);
    *filled = resolveSoftSplats(buffer, frame.data(), maxGap);
    return frame;
}

TEST(SoftSplat, FillsShortGapsBetweenCoveredPixelsOnly) {
    std::int64_t filled = 0;
    // Gaps of one, four (filled with a limit of 4) and seven pixels, and open ends.
    const std::string row = "..###.####....####.......#..";
    const std::vector<std::uint32_t> frame = resolve({row.c_str()}, &filled, 4);
    for (std::size_t x = 0; x < row.size(); ++x) {
        const bool surface = row[x] == '#';
        const bool shortGap = x == 5 || (x >= 10 && x <= 13);
        EXPECT_EQ(frame[x], surface || shortGap ? 0xFF00FF00u : kBackground) << "x " << x;
    }
    EXPECT_EQ(filled, 5);
    // One less in the limit keeps the four-pixel gap.
    resolve({row.c_str()}, &filled, 3);
    EXPECT_EQ(filled, 1);

    // Columns count too; a run open at one end is not a gap.
    const std::vector<std::uint32_t> column = resolve({"#.", "..", "#.", "..", ".."}, &filled, 4);
    EXPECT_EQ(column[2], 0xFF00FF00u);  // between two covered pixels above and below
    EXPECT_EQ(column[1], kBackground);
    EXPECT_EQ(column[6], kBackground);  // below the last covered pixel: outside
    EXPECT_EQ(filled, 1);
}

// Outside the gaps, a nearer surface's footprint edge does not hide the covered surface it
// replaced; with nothing behind, the edge keeps the background.
TEST(SoftSplat, FootprintEdgeShowsTheSurfaceItReplaced) {
    SoftSplatBuffer buffer;
    buffer.reset(2, 1);
    softWrite(buffer.pixels[0], -0.2f, 0.0f, kWeightNew, spreadColour(0x0000FFu));
    for (SoftPixel& p : buffer.pixels) {
        softWrite(p, -0.5f, 0.0f, kWeightHalf, spreadColour(0x00FF00u));
    }
    buffer.touchAll();
    std::vector<std::uint32_t> frame(2, kBackground);
    EXPECT_EQ(resolveSoftSplats(buffer, frame.data(), 0), 0);
    EXPECT_EQ(frame[0], 0xFF0000FFu);
    EXPECT_EQ(frame[1], kBackground);
}

// The resolve empties the buffer as it reads it, so the next frame starts clean without a
// clearing pass: a second resolve of the same buffer leaves the frame as it was.
TEST(SoftSplat, ResolveLeavesTheBufferEmptyForTheNextFrame) {
    SoftSplatBuffer buffer;
    buffer.reset(6, 5);
    buffer.written = true;
    softSplat(buffer, 2, 2, 1, 0x00FF00u, -0.5f, 0.01f);
    softWrite(buffer.pixels[4], -0.5f, 0.0f, kWeightHalf, spreadColour(0xFFu));  // an edge only
    std::vector<std::uint32_t> frame(30, kBackground);
    resolveSoftSplats(buffer, frame.data(), 4);
    EXPECT_EQ(frame[2 * 6 + 2], 0xFF00FF00u);
    EXPECT_FALSE(buffer.written);
    for (const SoftPixel& p : buffer.pixels) {
        EXPECT_EQ(p.depth, kNoDepth);
        EXPECT_EQ(p.behindDepth, kNoDepth);
        EXPECT_EQ(p.sum, 0u);
        EXPECT_EQ(p.behindSum, 0u);
    }
    std::vector<std::uint32_t> next(30, kBackground);
    buffer.reset(6, 5);
    EXPECT_EQ(resolveSoftSplats(buffer, next.data(), 4), 0);
    EXPECT_EQ(next, std::vector<std::uint32_t>(30, kBackground));
    // A buffer left written (no resolve) is emptied by the next reset; a new size too.
    softSplat(buffer, 2, 2, 1, 0x00FF00u, -0.5f, 0.01f);
    buffer.written = true;
    buffer.reset(6, 5);
    EXPECT_EQ(buffer.pixels[2 * 6 + 2].sum, 0u);
    buffer.reset(7, 5);
    EXPECT_EQ(buffer.pixels.size(), 35u);
}

TEST(SoftSplat, FarSurfaceSeenThroughANearSurfacesCrackIsFilled) {
    // A near green row with one pixel where only the far wall (blue) was drawn, and the same far
    // wall past the near row's end: the crack is filled, the wall beyond stays.
    SoftSplatBuffer buffer;
    buffer.reset(12, 1);
    for (int x = 0; x < 12; ++x) {
        const bool near = x < 7 && x != 3;
        softWrite(buffer.pixels[static_cast<std::size_t>(x)], near ? -0.5f : -0.1f, 0.0f,
                  kWeightNew, spreadColour(near ? 0x00FF00u : 0x0000FFu));
    }
    buffer.touchAll();
    std::vector<std::uint32_t> frame(12, kBackground);
    EXPECT_EQ(resolveSoftSplats(buffer, frame.data(), 4), 1);
    EXPECT_EQ(frame[3], 0xFF00FF00u);
    EXPECT_EQ(frame[7], 0xFF0000FFu);
    EXPECT_EQ(frame[11], 0xFF0000FFu);
}

// A surface drawn only by samples hidden from the LDI's camera keeps the hidden mark; one
// visible sample of the same surface clears it. The mark never counts as weight or colour.
TEST(SoftSplat, HiddenMarkLastsWhileOnlyHiddenSamplesAdd) {
    SoftPixel p;
    softWrite(p, -0.5f, 0.01f, kWeightNew, spreadColour(0x102030u), kHiddenSurface);
    softWrite(p, -0.5f, 0.01f, kWeightHalf, spreadColour(0x102030u), kHiddenSurface);
    EXPECT_NE(p.sum & kHiddenSurface, 0u);
    EXPECT_EQ(p.weight(), kWeightNew + kWeightHalf);
    EXPECT_EQ(meanColour(p.sum), 0xFF102030u);
    softWrite(p, -0.5f, 0.01f, kWeightQuarter, spreadColour(0x102030u));
    EXPECT_EQ(p.sum & kHiddenSurface, 0u);
    EXPECT_EQ(p.weight(), kWeightNew + kWeightHalf + kWeightQuarter);
    // A nearer visible sample pushes the hidden surface behind, mark and all.
    SoftPixel q;
    softWrite(q, -0.2f, 0.01f, kWeightNew, spreadColour(0x0000FFu), kHiddenSurface);
    softWrite(q, -0.5f, 0.01f, kWeightNew, spreadColour(0x00FF00u));
    EXPECT_EQ(q.sum & kHiddenSurface, 0u);
    EXPECT_NE(q.behindSum & kHiddenSurface, 0u);
    EXPECT_EQ(q.behindWeight(), kWeightNew);
    // The weight limit holds for marked sums too.
    for (int i = 0; i < 100; ++i) {
        softWrite(q, -0.2f, 0.01f, kWeightNew, spreadColour(0xFFu), kHiddenSurface);
    }
    EXPECT_LT(q.behindWeight(), kMaxWeight + kWeightNew);
}

// A hidden surface in one pixel between a nearer surface and the visible part of itself is
// where the nearer surface stretched apart, not where the move uncovered something: a gap,
// filled. The same pixel of a visible surface, or a wider hidden strip (an uncovered one),
// stays. The rows above and below show the same with every far pixel visible.
TEST(SoftSplat, HiddenSliverAtANearerEdgeIsAGap) {
    struct Case {
        const char* row;  // F far visible, h far hidden, N near
        std::int64_t filled;
    };
    const Case cases[] = {
        {"FFFhNNN", 1}, {"FFFFNNN", 0}, {"FFhhNNN", 0}, {"NNNhFFF", 1}, {"NNhFFFF", 1},
    };
    for (const Case& c : cases) {
        const std::string row = c.row;
        const auto w = static_cast<std::int32_t>(row.size());
        SoftSplatBuffer buffer;
        buffer.reset(w, 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < w; ++x) {
                const char k = row[static_cast<std::size_t>(x)];
                softWrite(buffer.pixels[static_cast<std::size_t>(y * w + x)],
                          k == 'N' ? -0.5f : -0.4f, 0.0f, kWeightNew,
                          spreadColour(k == 'N' ? 0x00FF00u : 0x0000FFu),
                          k == 'h' && y == 1 ? kHiddenSurface : 0);
            }
        }
        buffer.touchAll();
        std::vector<std::uint32_t> frame(static_cast<std::size_t>(3 * w), kBackground);
        EXPECT_EQ(resolveSoftSplats(buffer, frame.data(), 4), c.filled) << c.row;
    }
}

TEST(SoftSplat, FootprintEdgesAloneDoNotCoverAPixel) {
    const auto write = [](SoftSplatBuffer& buffer, float sx, float sy, float scale,
                          std::uint32_t colour) {
        SurfaceSplat s;
        const auto x = static_cast<std::int32_t>(std::floor(sx + 0.5f));
        const auto y = static_cast<std::int32_t>(std::floor(sy + 0.5f));
        ASSERT_TRUE(shapeSurfaceSplat(s, sx, sy, x, y, scale, 0.0f, 0.0f, scale));
        s.zOut = -0.25f;
        s.tolerance = 0.01f;
        s.colour = colour;
        writeSurfaceSplat(
            buffer, s, [](std::int32_t, std::int32_t) { return true; }, nullptr);
    };
    // A row of samples along y = 4, magnified 1.6 times: the rows above and below lie 0.625 of
    // a reference pixel away, past the half-way edge, and stay background.
    SoftSplatBuffer buffer;
    buffer.reset(12, 9);
    for (int i = 0; i < 5; ++i) {
        write(buffer, 2.0f + 1.6f * static_cast<float>(i), 4.0f, 1.6f, 0x0000FFu);
    }
    EXPECT_EQ(buffer.pixels[3 * 12 + 5].weight(), 6u);
    std::vector<std::uint32_t> frame(108, kBackground);
    resolveSoftSplats(buffer, frame.data(), 0);
    for (int x = 2; x <= 8; ++x) {
        EXPECT_EQ(frame[static_cast<std::size_t>(4 * 12 + x)], 0xFF0000FFu) << x;
        EXPECT_EQ(frame[static_cast<std::size_t>(3 * 12 + x)], kBackground) << x;
        EXPECT_EQ(frame[static_cast<std::size_t>(5 * 12 + x)], kBackground) << x;
    }
    EXPECT_LT(kWeightHalf + 2 * kWeightQuarter, kCoveredWeight);
    EXPECT_GE(kWeightNew, kCoveredWeight);
    EXPECT_EQ(2 * kCoveredWeight, kWeightNew);  // covered from half-way to the next sample

    // Two samples two pixels apart, as a view magnified twice draws them: the pixel between
    // them takes half of each and shows their mean, without any gap fill; the pixels one past
    // them lie exactly half-way to where the next samples would be, the edge, and show them.
    SoftSplatBuffer pair;
    pair.reset(9, 3);
    write(pair, 3.0f, 1.0f, 2.0f, 0x000040u);
    write(pair, 5.0f, 1.0f, 2.0f, 0x0000C0u);
    EXPECT_EQ(pair.pixels[9 + 4].weight(), kWeightNew);
    std::vector<std::uint32_t> pairFrame(27, kBackground);
    resolveSoftSplats(pair, pairFrame.data(), 0);
    EXPECT_EQ(pairFrame[9 + 4], 0xFF000080u);
    EXPECT_EQ(pairFrame[9 + 2], 0xFF000040u);
    EXPECT_EQ(pairFrame[9 + 6], 0xFF0000C0u);
    EXPECT_EQ(pairFrame[9 + 1], kBackground);
    EXPECT_EQ(pairFrame[9 + 7], kBackground);
    // The blended footprints' pattern (the specified drawing's border writes read it).
    for (int r = 0; r <= 3; ++r) {
        const SoftFootprint& f = kSoftFootprints[r];
        EXPECT_EQ(f.weight[3][3], kWeightNew) << r;
        EXPECT_EQ(f.weight[3 - r][3 - r], r == 0 ? kWeightNew : kWeightQuarter) << r;
        if (r < 3) {
            EXPECT_EQ(f.weight[2 - r][3], 0) << r;  // nothing outside the radius
        }
    }
}

// A frame large enough to be resolved in bands gives the same pixels and fill count on any
// thread count: surfaces at three depths with gaps, cracks, slivers and hidden samples.
TEST(SoftSplat, ResolveInBandsEqualsOneThread) {
    constexpr int kW = 300;
    constexpr int kH = 260;
    const auto resolveWith = [](int threads, std::int64_t* filled) {
        platform::setDrawThreads(threads);
        SoftSplatBuffer buffer;
        buffer.reset(kW, kH);
        std::uint32_t seed = 12345u;
        const auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        for (int i = 0; i < 30000; ++i) {
            const auto x = static_cast<std::int32_t>(4 + next() % (kW - 8));
            const auto y = static_cast<std::int32_t>(4 + next() % (kH - 8));
            const float depth = x < kW / 3 ? -0.3f : x < 2 * kW / 3 ? -0.6f : -0.9f;
            softSplat(buffer, x, y, static_cast<int>(next() % 3), next() & 0xFFFFFFu,
                      depth - 0.001f * static_cast<float>(next() % 8), 0.02f, next() % 5 == 0);
        }
        std::vector<std::uint32_t> frame(static_cast<std::size_t>(kW) * kH, 0xFF202020u);
        *filled = resolveSoftSplats(buffer, frame.data(), kMaxFilledGap);
        return frame;
    };
    std::int64_t filledOne = 0;
    const std::vector<std::uint32_t> one = resolveWith(1, &filledOne);
    EXPECT_GT(filledOne, 100);
    for (const int threads : {2, 3}) {
        std::int64_t filled = 0;
        EXPECT_EQ(resolveWith(threads, &filled), one) << threads;
        EXPECT_EQ(filled, filledOne) << threads;
    }
    platform::setDrawThreadsAutomatic();
}

// The resolve reads only the tiles the splats marked, and one buffer serves frame after frame
// while the drawn region moves, shrinks and grows (the last frame's values outside this frame's
// tiles must not leak in): each frame equals a whole resolve of a fresh buffer, on one thread
// and in bands. Regions touch the buffer's edges and a tile row's two ends; the size is not a
// whole number of tiles.
TEST(SoftSplat, ResolveOfMarkedTilesEqualsAWholeResolve) {
    constexpr int kW = 421;
    constexpr int kH = 303;
    struct Region {
        int x0, y0, x1, y1;
    };
    const std::vector<std::vector<Region>> frames = {
        {{100, 100, 180, 160}},
        {{0, 0, 40, 30}, {350, 240, kW, kH}},         // two regions at opposite corners
        {{0, 120, kW, 140}},                          // a full-width strip
        {},                                           // nothing drawn
        {{20, 10, 410, 290}},                         // large enough to be resolved in bands
        {{120, 100, 121, 101}, {20, 118, 100, 122}},  // a tile row below a narrower one
        {{0, 0, kW, 16}, {112, 16, 128, 32}},         // a narrow span below a full one
        {{0, 0, kW, kH}},
        {{200, 150, 260, 170}},
    };
    // Every pixel of the regions but a few gaps; a far surface through the near one every
    // seventh column (cracks), some samples hidden.
    const auto splatInto = [](SoftSplatBuffer& buffer, const std::vector<Region>& regions,
                              std::uint32_t seed) {
        const auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        for (const Region& r : regions) {
            for (int y = r.y0; y < r.y1; ++y) {
                for (int x = r.x0; x < r.x1; ++x) {
                    if (next() % 8 == 0) {
                        continue;
                    }
                    const float depth = x % 7 == 1 ? -0.2f : -0.7f;
                    softSplat(buffer, x, y, 0, next() & 0xFFFFFFu,
                              depth - 0.001f * static_cast<float>(next() % 8), 0.02f,
                              next() % 5 == 0);
                }
            }
        }
        buffer.written = true;
    };
    for (const int threads : {1, 2}) {
        platform::setDrawThreads(threads);
        SoftSplatBuffer reused;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const auto seed = static_cast<std::uint32_t>(77 + f);
            reused.reset(kW, kH);
            splatInto(reused, frames[f], seed);
            std::vector<std::uint32_t> got(static_cast<std::size_t>(kW) * kH, kBackground);
            const std::int64_t filled = resolveSoftSplats(reused, got.data(), kMaxFilledGap);

            SoftSplatBuffer fresh;
            fresh.reset(kW, kH);
            splatInto(fresh, frames[f], seed);
            fresh.touchAll();
            std::vector<std::uint32_t> want(got.size(), kBackground);
            const std::string at =
                "frame " + std::to_string(f) + ", " + std::to_string(threads) + " threads";
            EXPECT_EQ(filled, resolveSoftSplats(fresh, want.data(), kMaxFilledGap)) << at;
            EXPECT_EQ(got, want) << at;
            EXPECT_TRUE(std::all_of(reused.pixels.begin(), reused.pixels.end(),
                                    [](const SoftPixel& p) { return p.sum == 0; }))
                << at;
            EXPECT_TRUE(std::all_of(reused.tiles.begin(), reused.tiles.end(), [](std::uint8_t t) {
                return t == 0;
            })) << at;
            // What the next resolve reads outside its spans is empty.
            const SoftResolveScratch& s = reused.scratch;
            for (int y = 0; y < kH; ++y) {
                const auto ty = static_cast<std::size_t>(y / kSoftTile);
                for (int x = 0; x < kW; ++x) {
                    if (x >= s.spanBegin[ty] && x < s.spanEnd[ty]) {
                        continue;
                    }
                    const auto i = static_cast<std::size_t>(y) * kW + x;
                    ASSERT_TRUE(s.state[i] == 0 && s.depth[i] == kNoDepth &&
                                s.solidDepth[i] == kNoDepth)
                        << at << ": " << x << ", " << y;
                }
            }
        }
    }
    platform::setDrawThreadsAutomatic();
}

TEST(FrameMargin, WindowFollowsTheViewport) {
    const OutputView view = makeOutputView({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, 0.8f, 40, 30);
    const OutputWindow whole = outputWindow(view.camera, 40, 30);
    EXPECT_EQ(whole.x0, 0);
    EXPECT_EQ(whole.y0, 0);
    EXPECT_EQ(whole.width, 40);
    EXPECT_EQ(whole.height, 30);
    const OutputView shifted = withMargin(view, kFrameMargin);
    const OutputWindow inner =
        outputWindow(shifted.camera, 40 + 2 * kFrameMargin, 30 + 2 * kFrameMargin);
    EXPECT_EQ(inner.x0, kFrameMargin);
    EXPECT_EQ(inner.y0, kFrameMargin);
    EXPECT_EQ(inner.width, 40);
    EXPECT_EQ(inner.height, 30);
    // The same point lands a margin right and up.
    const geometry::Vector4 p{0.3f, -0.2f, -5.0f, 1.0f};
    const geometry::Vector4 a = geometry::transform(view.warpMatrix, p);
    const geometry::Vector4 b = geometry::transform(shifted.warpMatrix, p);
    EXPECT_NEAR(b.x / b.w, a.x / a.w + kFrameMargin, 1e-4f);
    EXPECT_NEAR(b.y / b.w, a.y / a.w + kFrameMargin, 1e-4f);
    // A buffer that ends exactly at the window's far edges still holds it.
    const OutputWindow tight = outputWindow(shifted.camera, 40 + kFrameMargin, 30 + kFrameMargin);
    EXPECT_EQ(tight.x0, kFrameMargin);
    EXPECT_EQ(tight.y0, kFrameMargin);
    EXPECT_EQ(tight.width, 40);
    // A viewport that does not fit the buffer, or is not a pixel viewport, means the whole one.
    const OutputWindow tooSmall = outputWindow(shifted.camera, 40 + kFrameMargin - 1, 60);
    EXPECT_EQ(tooSmall.x0, 0);
    EXPECT_EQ(tooSmall.width, 40 + kFrameMargin - 1);
    geometry::ViewCamera identity;
    const OutputWindow fallback = outputWindow(identity, 20, 10);
    EXPECT_EQ(fallback.width, 20);
    EXPECT_EQ(fallback.height, 10);
}

}  // namespace
}  // namespace strata::render
