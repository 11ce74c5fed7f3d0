#include "render/traversal.h"

#include <gtest/gtest.h>

#include <vector>

namespace strata::render {
namespace {

// Order in which every pixel of a W x H grid is handed out; -1 for never, -2 for twice.
std::vector<int> visitOrder(const WarpSetup& setup, const TraversalRange& range, Traversal kind,
                            std::vector<RowRun>* runs = nullptr) {
    std::vector<int> order(static_cast<std::size_t>(range.width * range.height), -1);
    int next = 0;
    traverseSheets(setup, range, kind, [&](const RowRun& run) {
        EXPECT_GT(run.count, 0);
        if (runs != nullptr) {
            runs->push_back(run);
        }
        for (int k = 0; k < run.count; ++k) {
            const int c = run.column + k * run.direction;
            auto& slot = order[static_cast<std::size_t>(run.row * range.width + c)];
            slot = slot == -1 ? next++ : -2;
        }
    });
    return order;
}

WarpSetup epipole(int ex, int ey, int behind) {
    WarpSetup s;
    s.epipoleX = ex;
    s.epipoleY = ey;
    s.behind = behind;
    s.valid = true;
    return s;
}

TEST(Traversal, EveryPixelOnceInOcclusionCompatibleOrder) {
    const TraversalRange range{0, 9, 0, 7, 9, 7};
    for (int behind = 0; behind <= 1; ++behind) {
        const int lo = behind ? -1 : 0;
        for (int ex = lo; ex <= 9 + lo; ++ex) {
            for (int ey = lo; ey <= 7 + lo; ++ey) {
                const std::vector<int> order =
                    visitOrder(epipole(ex, ey, behind), range, Traversal::standard);
                for (int v : order) {
                    ASSERT_GE(v, 0) << ex << "," << ey << " behind " << behind;
                }
                // The quadrant split point: front sheets end on (ex, ey); behind sheets start
                // there.
                const int sx = behind ? ex + 1 : ex;
                const int sy = behind ? ey + 1 : ey;
                for (int p = 0; p < 63; ++p) {
                    for (int q = 0; q < 63; ++q) {
                        const int pc = p % 9, pr = p / 9, qc = q % 9, qr = q / 9;
                        if ((pc < sx) != (qc < sx) || (pr < sy) != (qr < sy)) {
                            continue;  // different sheets
                        }
                        const int dpc = std::abs(pc - ex), dqc = std::abs(qc - ex);
                        const int dpr = std::abs(pr - ey), dqr = std::abs(qr - ey);
                        if (p == q || dqc > dpc || dqr > dpr) {
                            continue;
                        }
                        // q is no farther from the epipole than p on both axes.
                        if (behind) {
                            ASSERT_LT(order[static_cast<std::size_t>(q)],
                                      order[static_cast<std::size_t>(p)]);
                        } else {
                            ASSERT_GT(order[static_cast<std::size_t>(q)],
                                      order[static_cast<std::size_t>(p)]);
                        }
                    }
                }
            }
        }
    }
}

TEST(Traversal, FrontEpipoleInsideSplitsRowAndColumnAsDocumented) {
    const TraversalRange range{0, 6, 0, 6, 6, 6};
    std::vector<RowRun> runs;
    visitOrder(epipole(3, 2, 0), range, Traversal::standard, &runs);
    // Sheets 1 and 2 stop before column ex; row ey belongs to sheets 2 and 4.
    for (const RowRun& run : runs) {
        if (run.direction > 0) {
            EXPECT_EQ(run.column, 0);
            EXPECT_EQ(run.count, 3);
        } else {
            EXPECT_EQ(run.column, 5);
            EXPECT_EQ(run.count, 3);
        }
    }
    ASSERT_EQ(runs.size(), 12u);
    EXPECT_EQ(runs[0].row, 0);
    EXPECT_EQ(runs[1].row, 1);
    EXPECT_EQ(runs[2].row, 5);  // sheet 2 from the top down to ey
    EXPECT_EQ(runs[5].row, 2);
}

TEST(Traversal, SheetRunsInOrderForBothEyeSides) {
    // Columns [1, 6), rows [2, 5), epipole (3, 3), written out run by run from the sheet tables.
    const TraversalRange range{1, 6, 2, 5, 8, 8};
    struct Expected {
        int column, row, direction, count;
    };
    const Expected front[] = {
        {1, 2, 1, 2},                  // sheet 1: rows y0 .. ey - 1, from x0, ex - x0
        {1, 4, 1, 2},  {1, 3, 1, 2},   // sheet 2: rows y1 - 1 down to ey
        {5, 2, -1, 3},                 // sheet 3: from x1 - 1 leftward, x1 - ex
        {5, 4, -1, 3}, {5, 3, -1, 3},  // sheet 4
    };
    const Expected behind[] = {
        {3, 3, -1, 3}, {3, 2, -1, 3},  // sheet 1: rows ey down to y0, from ex, ex - x0 + 1
        {3, 4, -1, 3},                 // sheet 2: rows ey + 1 up to y1 - 1
        {4, 3, 1, 2},  {4, 2, 1, 2},   // sheet 3: from ex + 1 rightward, x1 - ex - 1
        {4, 4, 1, 2},                  // sheet 4
    };
    for (int b = 0; b <= 1; ++b) {
        std::vector<RowRun> runs;
        traverseSheets(epipole(3, 3, b), range, Traversal::standard,
                       [&](const RowRun& run) { runs.push_back(run); });
        const Expected* want = b ? behind : front;
        ASSERT_EQ(runs.size(), 6u) << b;
        for (std::size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(runs[i].column, want[i].column) << b << " run " << i;
            EXPECT_EQ(runs[i].row, want[i].row) << b << " run " << i;
            EXPECT_EQ(runs[i].direction, want[i].direction) << b << " run " << i;
            EXPECT_EQ(runs[i].count, want[i].count) << b << " run " << i;
            EXPECT_EQ(runs[i].readRow, runs[i].row);
        }
    }
}

TEST(Traversal, BehindWithEpipoleBeforeTheFirstColumnDrawsWholeRows) {
    const TraversalRange range{0, 5, 0, 4, 5, 4};
    std::vector<RowRun> runs;
    visitOrder(epipole(-1, 1, 1), range, Traversal::standard, &runs);
    ASSERT_EQ(runs.size(), 4u);  // sheets 1 and 2 are empty
    for (const RowRun& run : runs) {
        EXPECT_EQ(run.column, 0);
        EXPECT_EQ(run.direction, 1);
        EXPECT_EQ(run.count, 5);
    }
}

TEST(Traversal, LowerAndUpperHalvesCoverEachPixelOnce) {
    const TraversalRange range{0, 8, 0, 8, 8, 8};
    for (int behind = 0; behind <= 1; ++behind) {
        for (int e : {behind ? -1 : 0, 3, 7}) {
            const WarpSetup s = epipole(e, 7 - e - behind, behind);
            const std::vector<int> lower = visitOrder(s, range, Traversal::lowerHalf);
            const std::vector<int> upper = visitOrder(s, range, Traversal::upperHalf);
            for (int p = 0; p < 64; ++p) {
                const int c = p % 8, r = p / 8;
                const bool inLower = lower[static_cast<std::size_t>(p)] >= 0;
                const bool inUpper = upper[static_cast<std::size_t>(p)] >= 0;
                ASSERT_NE(lower[static_cast<std::size_t>(p)], -2);
                ASSERT_NE(upper[static_cast<std::size_t>(p)], -2);
                ASSERT_NE(inLower, inUpper) << c << "," << r;
                EXPECT_EQ(inLower, c + r <= 7);
            }
        }
    }
}

TEST(Traversal, BenchReadsTheMiddleRow) {
    const TraversalRange range{0, 4, 0, 5, 4, 5};
    std::vector<RowRun> runs;
    visitOrder(epipole(2, 2, 0), range, Traversal::bench, &runs);
    ASSERT_FALSE(runs.empty());
    for (const RowRun& run : runs) {
        EXPECT_EQ(run.readRow, 2);
    }
}

}  // namespace
}  // namespace strata::render
