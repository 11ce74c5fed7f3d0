#include "render/wedge_cut.h"

#include <gtest/gtest.h>

#include <cmath>
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
};

// Epipole inside the grid, on a pixel corner or centre, outside, far away, and behind the eye.
const Case kCases[] = {
    {"forward, off axis", {0.3f, -0.2f, -2.0f}, {0.1f, 0.05f, -1.0f}, 64, 0.5},
    {"forward on the axis, even grid", {0.0f, 0.0f, -2.0f}, {0.0f, 0.0f, -1.0f}, 64, 0.5},
    {"forward on the axis, cell centres", {0.0f, 0.0f, -2.0f}, {0.0f, 0.0f, -1.0f}, 64, 0.0},
    {"forward on the axis, odd grid", {0.0f, 0.0f, -2.0f}, {0.0f, 0.0f, -1.0f}, 63, 0.5},
    {"sideways", {3.0f, 0.5f, -0.3f}, {-0.3f, 0.0f, -1.0f}, 64, 0.5},
    {"far sideways", {40.0f, 0.0f, -0.5f}, {-0.1f, 0.0f, -1.0f}, 64, 0.5},
    {"behind", {0.4f, 0.2f, 5.0f}, {-0.05f, 0.0f, -1.0f}, 64, 0.5},
    {"behind and sideways", {-5.0f, 2.0f, 3.0f}, {0.3f, -0.1f, -1.0f}, 64, 0.0},
};

struct Fixture {
    WarpSetup setup;
    TraversalRange range;
    WedgeCut cut;
};

Fixture make(const Case& c, float reach) {
    Fixture f;
    const geometry::ViewCamera ref =
        testing::referenceCamera({0, 0, 0}, {0, 0, -1}, {0, 1, 0}, kFov, c.side, c.side);
    const OutputView out =
        makeOutputView(c.eye, geometry::normalized(c.dir), {0, 1, 0}, kFov, kOut, kOut);
    f.setup = computeWarpSetup(ref.fullTransform(), out.warpMatrix, 0, c.side, 0, c.side);
    f.range = {0, c.side, 0, c.side, c.side, c.side};
    WedgeCutInput in;
    in.setup = f.setup;
    in.range = f.range;
    in.pixelCentre = c.pixelCentre;
    in.outWidth = kOut;
    in.outHeight = kOut;
    in.reach = reach;
    f.cut = makeWedgeCut(in);
    return f;
}

float value(const WedgeTest& t, int line, double x, double y) {
    return line == 0 ? static_cast<float>(t.a0 * x + t.b0 * y + t.c0)
                     : static_cast<float>(t.a1 * x + t.b1 * y + t.c1);
}

TEST(WedgeCut, EveryPixelOfTheTraversalFallsInExactlyOneWedgeInTraversalOrder) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Fixture f = make(c, 4.25f);
        ASSERT_TRUE(f.setup.valid);
        ASSERT_EQ(f.cut.wedges.size(), static_cast<std::size_t>(kWedgeCount));
        std::vector<int> count(static_cast<std::size_t>(c.side * c.side), 0);
        std::vector<int> visits(static_cast<std::size_t>(c.side * c.side), 0);
        traverseSheets(f.setup, f.range, Traversal::standard, [&](const RowRun& run) {
            for (int i = 0; i < run.count; ++i) {
                ++visits[static_cast<std::size_t>(run.row * c.side + run.column +
                                                  i * run.direction)];
            }
            std::int64_t lastColumn = -1;
            for (const Wedge& w : f.cut.wedges) {
                RowRun part = run;
                if (!f.cut.cut(part, w)) {
                    continue;
                }
                // The part lies inside the run, in its direction, with its lead counted from
                // the run's first pixel.
                EXPECT_EQ(leadColumn(part), run.column);
                EXPECT_EQ(part.direction, run.direction);
                EXPECT_GE(part.lead, 0);
                EXPECT_LE(part.lead + part.count, run.count);
                EXPECT_EQ(part.order, run.order);
                for (int i = 0; i < part.count; ++i) {
                    ++count[static_cast<std::size_t>(part.row * c.side + part.column +
                                                     i * part.direction)];
                }
                (void)lastColumn;
            }
        });
        for (std::size_t i = 0; i < count.size(); ++i) {
            ASSERT_EQ(visits[i], 1) << "pixel " << i;
            ASSERT_EQ(count[i], 1) << "pixel " << i;
        }
    }
}

TEST(WedgeCut, EverySampleOfAWedgeLandsOnItsSideOfBothBorders) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Fixture f = make(c, 0.0f);
        ASSERT_FALSE(f.cut.wedges.empty());
        const geometry::Matrix4& m = f.setup.transform;
        int checked = 0;
        traverseSheets(f.setup, f.range, Traversal::standard, [&](const RowRun& run) {
            for (const Wedge& w : f.cut.wedges) {
                RowRun part = run;
                if (!f.cut.cut(part, w)) {
                    continue;
                }
                for (int i = 0; i < part.count; ++i) {
                    const double u = part.column + i * part.direction + c.pixelCentre;
                    const double v = part.row + c.pixelCentre;
                    for (double z = -0.999; z < 1.0; z += 0.111) {
                        // The exact position, in double.
                        double h[4];
                        for (int k = 0; k < 4; ++k) {
                            h[k] = m(k, 0) * u + m(k, 1) * v + m(k, 2) * z + m(k, 3);
                        }
                        if (!(h[3] > 1.0e-6)) {
                            continue;
                        }
                        const double x = h[0] / h[3];
                        const double y = h[1] / h[3];
                        if (x < 0.0 || y < 0.0 || x > kOut || y > kOut) {
                            continue;
                        }
                        ++checked;
                        ASSERT_GE(value(w.test, 0, x, y), -0.05f) << u << " " << v << " " << z;
                        ASSERT_GE(value(w.test, 1, x, y), -0.05f) << u << " " << v << " " << z;
                    }
                }
            }
        });
        EXPECT_GT(checked, 1000);
    }
}

TEST(WedgeCut, NoFramePixelBelongsToTwoWedgesAndFastSamplesStayInTheirOwn) {
    for (const float reach : {0.0f, 4.25f}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + " reach " + std::to_string(reach));
            const Fixture f = make(c, reach);
            ASSERT_FALSE(f.cut.wedges.empty());
            const int r = static_cast<int>(reach / 1.4142f);
            for (int y = 0; y < kOut; ++y) {
                for (int x = 0; x < kOut; ++x) {
                    int owners = 0;
                    for (const Wedge& w : f.cut.wedges) {
                        owners += w.test.inCore(x, y) ? 1 : 0;
                        if (!w.test.inFast(x, y)) {
                            continue;
                        }
                        // Every pixel of a footprint of the reach is the wedge's own.
                        for (int dy = -r; dy <= r; ++dy) {
                            for (int dx = -r; dx <= r; ++dx) {
                                ASSERT_TRUE(w.test.inCore(x + dx, y + dy)) << x << " " << y;
                            }
                        }
                        // And every wedge's sample near it (kPixelSlack outside its own side)
                        // cannot reach it.
                        EXPECT_GE(w.test.core, reach + kPixelSlack);
                    }
                    ASSERT_LE(owners, 1) << x << " " << y;
                }
            }
        }
    }
}

TEST(WedgeCut, NoCutWithoutAValidWarpOrWithTooFewWedges) {
    Fixture f = make(kCases[0], 0.0f);
    WedgeCutInput in;
    in.setup = f.setup;
    in.range = f.range;
    in.outWidth = kOut;
    in.outHeight = kOut;
    for (const int count : {0, 2, 3, 7}) {
        in.count = count;
        EXPECT_TRUE(makeWedgeCut(in).wedges.empty()) << count;
    }
    in.count = kWedgeCount;
    EXPECT_EQ(makeWedgeCut(in).wedges.size(), static_cast<std::size_t>(kWedgeCount));
    in.setup.valid = false;
    EXPECT_TRUE(makeWedgeCut(in).wedges.empty());
    in.setup.valid = true;
    in.outWidth = 0;
    EXPECT_TRUE(makeWedgeCut(in).wedges.empty());
}

TEST(WedgeCut, TheWedgeCountSettingDefaultsToTheCut) {
    EXPECT_EQ(wedgeCount(), kWedgeCount);
    setWedgeCount(0);
    EXPECT_EQ(wedgeCount(), 0);
    setWedgeCount(kWedgeCount);
}

}  // namespace
}  // namespace strata::render
