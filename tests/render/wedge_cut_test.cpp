#include "render/wedge_cut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "render/output_view.h"
#include "render/test_cameras.h"
#include "render/traversal.h"

namespace strata::render {
namespace {

constexpr float kFov = 0.7853982f;
constexpr int kOut = 100;

struct Case {
    const char* name;
    geometry::Vector3 eye;
    geometry::Vector3 dir;
    int side;  // LDI grid side
    double pixelCentre;
    bool exactlyStill = false;  // a warp written out: a zoom with nothing moving with depth
};

// Epipole inside the grid, on a pixel corner or centre, outside, far away, behind the eye, at
// infinity, and none.
const Case kCases[] = {
    {"forward, off axis", {0.3f, -0.2f, -2.0f}, {0.1f, 0.05f, -1.0f}, 64, 0.5},
    {"forward on the axis, even grid", {0.0f, 0.0f, -2.0f}, {0.0f, 0.0f, -1.0f}, 64, 0.5},
    {"forward on the axis, cell centres", {0.0f, 0.0f, -2.0f}, {0.0f, 0.0f, -1.0f}, 64, 0.0},
    {"forward on the axis, odd grid", {0.0f, 0.0f, -2.0f}, {0.0f, 0.0f, -1.0f}, 63, 0.5},
    {"sideways", {3.0f, 0.5f, -0.3f}, {-0.3f, 0.0f, -1.0f}, 64, 0.5},
    {"far sideways", {40.0f, 0.0f, -0.5f}, {-0.1f, 0.0f, -1.0f}, 64, 0.5},
    {"behind", {0.4f, 0.2f, 5.0f}, {-0.05f, 0.0f, -1.0f}, 64, 0.5},
    {"behind and sideways", {-5.0f, 2.0f, 3.0f}, {0.3f, -0.1f, -1.0f}, 64, 0.0},
    // The eye in the reference camera's plane: the epipole at infinity, parallel epipolar lines.
    {"sideways in the reference plane", {2.0f, 0.5f, 0.0f}, {-0.2f, 0.0f, -1.0f}, 64, 0.5},
    {"diagonally in the reference plane", {1.5f, -1.5f, 0.0f}, {-0.1f, 0.1f, -1.0f}, 64, 0.0},
    // The reference eye, turned: no parallax at all.
    {"the reference eye, turned", {0.0f, 0.0f, 0.0f}, {0.15f, -0.1f, -1.0f}, 64, 0.5},
    {"the reference eye, zoomed", {}, {}, 64, 0.5, true},
};

struct Fixture {
    WarpSetup setup;
    TraversalRange range;
    WedgeCut cut;
};

// Samples crowded into one corner of the grid, a few scattered elsewhere: a cut by area would
// give the corner's wedges most of them.
std::int64_t lopsided(int side, std::int32_t r, std::int32_t c) {
    return c < side / 3 && r < side / 2 ? 6 : (r + c) % 7 == 0 ? 1 : 0;
}

Fixture make(const Case& c, float reach, int count, const SampleDensity* density = nullptr) {
    Fixture f;
    const geometry::ViewCamera ref =
        testing::referenceCamera({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, kFov, c.side, c.side);
    const OutputView out =
        makeOutputView(c.eye, geometry::normalized(c.dir), {0, 1, 0}, kFov, kOut, kOut);
    f.setup = computeWarpSetup(ref.fullTransform(), out.warpMatrix, 0, c.side, 0, c.side);
    if (c.exactlyStill) {
        // Output = 1.3 x LDI + (10, 12), depth passed through, w = 1: the depth column moves
        // neither x, y nor w.
        geometry::Matrix4 m = geometry::Matrix4::identity();
        m(0, 0) = 1.3f;
        m(1, 1) = 1.3f;
        m(0, 3) = 10.0f;
        m(1, 3) = 12.0f;
        m(2, 2) = -0.5f;
        f.setup.transform = m;
        f.setup.zColumn = {0.0f, 0.0f, -0.5f, 0.0f};
        f.setup.epipoleX = 0;
        f.setup.epipoleY = 0;
        f.setup.behind = 0;
        f.setup.valid = true;
    }
    f.range = {0, c.side, 0, c.side, c.side, c.side};
    WedgeCutInput in;
    in.setup = f.setup;
    in.range = f.range;
    in.pixelCentre = c.pixelCentre;
    in.outWidth = kOut;
    in.outHeight = kOut;
    in.reach = reach;
    in.count = count;
    in.density = density;
    f.cut = makeWedgeCut(in);
    return f;
}

constexpr int kCounts[] = {2, 3, 4, 8};

// The parts of every run: inside the run, disjoint, in its order, with leads counted from its
// first pixel; the own parts of all wedges cover every pixel of the traversal once, and the
// wedges share the pixels about equally.
TEST(WedgeCut, OwnPartsCoverEveryPixelOnceInTraversalOrderAndShareThemEqually) {
    for (const bool crowded : {false, true}) {
        for (const int count : kCounts) {
            for (const Case& c : kCases) {
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(count) + " wedges" +
                             (crowded ? ", crowded samples" : ""));
                const SampleDensity density =
                    makeSampleDensity(c.side, c.side, [&](std::int32_t r, std::int32_t col) {
                        return crowded ? lopsided(c.side, r, col) : 1;
                    });
                const Fixture f = make(c, 4.25f, count, crowded ? &density : nullptr);
                ASSERT_TRUE(f.setup.valid);
                ASSERT_EQ(f.cut.wedges.size(), static_cast<std::size_t>(count));
                std::vector<int> owners(static_cast<std::size_t>(c.side * c.side), 0);
                std::vector<int> share(static_cast<std::size_t>(count), 0);
                std::array<RunPart, WedgeCut::kMaxParts> parts;
                traverseSheets(f.setup, f.range, Traversal::standard, [&](const RowRun& run) {
                    for (std::size_t w = 0; w < f.cut.wedges.size(); ++w) {
                        const int n = f.cut.parts(run, f.cut.wedges[w], parts);
                        std::int32_t next = run.lead;  // the first pixel a part may start at
                        for (int p = 0; p < n; ++p) {
                            const RowRun& part = parts[static_cast<std::size_t>(p)].run;
                            ASSERT_EQ(leadColumn(part), run.column);
                            ASSERT_EQ(part.direction, run.direction);
                            ASSERT_EQ(part.row, run.row);
                            ASSERT_GT(part.count, 0);
                            ASSERT_GE(part.lead, next);
                            ASSERT_LE(part.lead + part.count, run.lead + run.count);
                            next = part.lead + part.count;
                            if (parts[static_cast<std::size_t>(p)].kind == RunPart::band) {
                                continue;
                            }
                            for (int i = 0; i < part.count; ++i) {
                                const std::int32_t column = part.column + i * part.direction;
                                ++owners[static_cast<std::size_t>(part.row * c.side + column)];
                                share[w] += crowded ? lopsided(c.side, part.row, column) : 1;
                            }
                        }
                    }
                });
                for (std::size_t i = 0; i < owners.size(); ++i) {
                    ASSERT_EQ(owners[i], 1) << "pixel " << i;
                }
                if (!crowded) {
                    for (const int s : share) {
                        EXPECT_NEAR(s, c.side * c.side / count,
                                    c.side * c.side / count / 8 + 2 * c.side);
                    }
                    continue;
                }
                // Crowded samples: a cut by samples gives no wedge more than a cut by area
                // does, and near equal shares where the wedges need not turn a full circle (a
                // wedge of a full turn spans less than a half turn, so one crowded quarter
                // cannot be shared out evenly). The shares are as fine as the density's cells.
                const Fixture byArea = make(c, 4.25f, count);
                std::vector<int> areaShare(static_cast<std::size_t>(count), 0);
                traverseSheets(f.setup, f.range, Traversal::standard, [&](const RowRun& run) {
                    for (std::size_t w = 0; w < byArea.cut.wedges.size(); ++w) {
                        RowRun own = run;
                        if (!byArea.cut.cut(own, byArea.cut.wedges[w])) {
                            continue;
                        }
                        for (int i = 0; i < own.count; ++i) {
                            areaShare[w] +=
                                lopsided(c.side, own.row, own.column + i * own.direction);
                        }
                    }
                });
                const double even = static_cast<double>(density.total) / count;
                const int most = *std::max_element(share.begin(), share.end());
                const int mostByArea = *std::max_element(areaShare.begin(), areaShare.end());
                EXPECT_LE(most, mostByArea + even / 10);
                if (f.cut.wedges[0].fromRay < 0) {  // not a full turn
                    EXPECT_LE(most, 1.4 * even);
                }
            }
        }
    }
}

// The promise behind the cut: every frame pixel a sample's footprint touches is owned by a wedge
// that draws the sample's LDI pixel, and the footprints of samples in a wedge's own parts away
// from its borders touch its own pixels alone. A footprint the wedge calls inside lies on its
// own pixels alone; one it calls outside touches none of them.
TEST(WedgeCut, EveryWedgeDrawsEverySampleThatReachesItsPixels) {
    constexpr float kReach = 4.25f;  // the 7 x 7 footprint
    constexpr int kRadius = 3;
    for (const bool crowded : {false, true}) {
        for (const int count : kCounts) {
            for (const Case& c : kCases) {
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(count) + " wedges" +
                             (crowded ? ", crowded samples" : ""));
                const SampleDensity density = makeSampleDensity(
                    c.side, c.side,
                    [&](std::int32_t r, std::int32_t col) { return lopsided(c.side, r, col); });
                const Fixture f = make(c, kReach, count, crowded ? &density : nullptr);
                ASSERT_FALSE(f.cut.wedges.empty());
                const geometry::Matrix4& m = f.setup.transform;
                // Which wedges draw each LDI pixel, and which one draws it with no tests (-1:
                // none).
                std::vector<std::uint32_t> drawnBy(static_cast<std::size_t>(c.side * c.side), 0);
                std::vector<int> interior(static_cast<std::size_t>(c.side * c.side), -1);
                std::array<RunPart, WedgeCut::kMaxParts> parts;
                traverseSheets(f.setup, f.range, Traversal::standard, [&](const RowRun& run) {
                    for (std::size_t w = 0; w < f.cut.wedges.size(); ++w) {
                        const int n = f.cut.parts(run, f.cut.wedges[w], parts);
                        for (int p = 0; p < n; ++p) {
                            const RowRun& part = parts[static_cast<std::size_t>(p)].run;
                            const bool own =
                                parts[static_cast<std::size_t>(p)].kind == RunPart::own;
                            for (int i = 0; i < part.count; ++i) {
                                const auto at = static_cast<std::size_t>(
                                    part.row * c.side + part.column + i * part.direction);
                                drawnBy[at] |= 1u << w;
                                if (own) {
                                    interior[at] = static_cast<int>(w);
                                }
                            }
                        }
                    }
                });
                int touched = 0;
                // Every other LDI pixel, in a checkerboard: neighbours share their bands.
                for (int row = 0; row < c.side; ++row) {
                    for (int col = row % 2; col < c.side; col += 2) {
                        const double u = col + c.pixelCentre;
                        const double v = row + c.pixelCentre;
                        const std::uint32_t by =
                            drawnBy[static_cast<std::size_t>(row * c.side + col)];
                        const int alone = interior[static_cast<std::size_t>(row * c.side + col)];
                        // Depths crowd toward the far plane, as perspective depths do.
                        for (int step = 0; step < 12; ++step) {
                            const double share = step / 11.0;
                            const double z = 0.9999 - 1.9998 * share * share * share;
                            double h[4];
                            for (int k = 0; k < 4; ++k) {
                                h[k] = m(k, 0) * u + m(k, 1) * v + m(k, 2) * z + m(k, 3);
                            }
                            if (!(h[3] > 1.0e-6)) {
                                continue;
                            }
                            // The pixel the kernels may round the position to.
                            const auto x = static_cast<std::int32_t>(std::floor(h[0] / h[3] + 0.5));
                            const auto y = static_cast<std::int32_t>(std::floor(h[1] / h[3] + 0.5));
                            if (x < 3 || y < 3 || x > kOut - 4 || y > kOut - 4) {
                                continue;
                            }
                            for (int dy = -kRadius; dy <= kRadius; ++dy) {
                                for (int dx = -kRadius; dx <= kRadius; ++dx) {
                                    const int owner = f.cut.owner(x + dx, y + dy);
                                    ++touched;
                                    ASSERT_NE(by & (1u << owner), 0u)
                                        << col << " " << row << " " << z << " pixel " << x + dx
                                        << " " << y + dy << " owner " << owner;
                                    ASSERT_TRUE(alone < 0 || owner == alone) << col << " " << row;
                                }
                            }
                            for (std::size_t w = 0; w < f.cut.wedges.size(); ++w) {
                                const WedgeTest& t = f.cut.wedges[w].test;
                                const bool inside = t.inside(x, y, kReach);
                                const bool outside = t.outside(x, y, kReach);
                                ASSERT_FALSE(inside && outside);
                                for (int dy = -kRadius; dy <= kRadius; ++dy) {
                                    for (int dx = -kRadius; dx <= kRadius; ++dx) {
                                        const bool own =
                                            f.cut.owner(x + dx, y + dy) == static_cast<int>(w);
                                        ASSERT_TRUE(!inside || own) << x << " " << y;
                                        ASSERT_TRUE(!outside || !own) << x << " " << y;
                                    }
                                }
                            }
                        }
                    }
                }
                EXPECT_GT(touched, 10000);
            }
        }
    }
}

TEST(WedgeCut, NoCutWithoutAValidWarpOrWithTooFewWedges) {
    Fixture f = make(kCases[0], 0.0f, 2);
    WedgeCutInput in;
    in.setup = f.setup;
    in.range = f.range;
    in.outWidth = kOut;
    in.outHeight = kOut;
    for (const int count : {-1, 0, 1}) {
        in.count = count;
        EXPECT_TRUE(makeWedgeCut(in).wedges.empty()) << count;
    }
    for (const int count : {2, 3, 7}) {
        in.count = count;
        EXPECT_EQ(makeWedgeCut(in).wedges.size(), static_cast<std::size_t>(count));
    }
    in.setup.valid = false;
    EXPECT_TRUE(makeWedgeCut(in).wedges.empty());
    in.setup.valid = true;
    in.outWidth = 0;
    EXPECT_TRUE(makeWedgeCut(in).wedges.empty());
}

// By default one wedge per drawing thread, at most kMaxWedges, none for one thread;
// a set count holds for any thread count, and a negative one cuts nothing.
TEST(WedgeCut, TheWedgeCountFollowsTheThreadsUnlessSet) {
    EXPECT_EQ(wedgeCount(), 0);
    const struct {
        int setting;
        int threads;
        int wedges;
    } kTable[] = {{0, 1, 0},           {0, 2, 2}, {0, 3, 3}, {0, 64, kMaxWedges},
                  {0, 65, kMaxWedges}, {5, 1, 5}, {5, 2, 5}, {-1, 4, 0}};
    for (const auto& row : kTable) {
        setWedgeCount(row.setting);
        EXPECT_EQ(wedgesFor(row.threads), row.wedges) << row.setting << " " << row.threads;
    }
    setWedgeCount(0);
}

}  // namespace
}  // namespace strata::render
