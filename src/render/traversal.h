// The occlusion-compatible traversal of an LDI: four sheets split at the epipole, each swept row
// by row and column by column toward the epipole (output eye in front of the reference camera)
// or away from it (eye behind). The sheets are handed out as row runs; the kernels draw them.
#pragma once

#include <bit>
#include <cstdint>

#include "render/warp_setup.h"

namespace strata::render {

// One row of one sheet: count pixels from (column, row) stepping by direction (+1 or -1).
// readRow is the LDI row whose samples are drawn: the row itself, or the middle row in the
// bench traversal.
struct RowRun {
    std::int32_t column = 0;
    std::int32_t row = 0;
    std::int32_t direction = 1;
    std::int32_t count = 0;
    std::int32_t readRow = 0;
    // Pixels of the row's run before this one (a run cut to a wedge): positions are stepped
    // from the row's first pixel over them, so every pixel gets the same position as in the
    // whole run.
    std::int32_t lead = 0;
};

// The first pixel of the whole run that run was cut from.
inline std::int32_t leadColumn(const RowRun& run) {
    return run.column - run.lead * run.direction;
}

// Where the last part of a run drawn on this thread ended: the run (its row, first pixel and
// direction, the first pixel's position and the step) and the position after its last pixel.
struct RunEnd {
    std::int32_t row = 0;
    std::int32_t leadColumn = 0;
    std::int32_t direction = 0;
    std::int32_t lead = -1;  // the part's lead plus its count; -1: none noted
    float first[4] = {};
    float step[4] = {};
    float end[4] = {};
};

inline RunEnd& lastRunEnd() {
    thread_local RunEnd end;
    return end;
}

template <class V>
inline bool sameBits(const float (&a)[4], const V& v) {
    return std::bit_cast<std::uint32_t>(a[0]) == std::bit_cast<std::uint32_t>(v.x) &&
           std::bit_cast<std::uint32_t>(a[1]) == std::bit_cast<std::uint32_t>(v.y) &&
           std::bit_cast<std::uint32_t>(a[2]) == std::bit_cast<std::uint32_t>(v.z) &&
           std::bit_cast<std::uint32_t>(a[3]) == std::bit_cast<std::uint32_t>(v.w);
}

// Steps p, the position of the whole run's first pixel, over the run's lead, as the row loop
// would: one addition per pixel. When the part this thread drew last belongs to the same run and
// ended at or before the lead, the stepping goes on from where it ended.
template <class V>
inline void stepOverLead(const RowRun& run, V& p, const V& step) {
    std::int32_t i = 0;
    const RunEnd& last = lastRunEnd();
    if (last.lead >= 0 && last.lead <= run.lead && last.row == run.row &&
        last.leadColumn == leadColumn(run) && last.direction == run.direction &&
        sameBits(last.first, p) && sameBits(last.step, step)) {
        p.x = last.end[0];
        p.y = last.end[1];
        p.z = last.end[2];
        p.w = last.end[3];
        i = last.lead;
    }
    for (; i < run.lead; ++i) {
        p.x += step.x;
        p.y += step.y;
        p.z += step.z;
        p.w += step.w;
    }
}

// Notes where a part of a run ended: first is the whole run's first position, end the position
// after the part's last pixel.
template <class V>
inline void noteRunEnd(const RowRun& run, const V& first, const V& step, const V& end) {
    RunEnd& last = lastRunEnd();
    last.row = run.row;
    last.leadColumn = leadColumn(run);
    last.direction = run.direction;
    last.lead = run.lead + run.count;
    const float f[4] = {first.x, first.y, first.z, first.w};
    const float s[4] = {step.x, step.y, step.z, step.w};
    const float e[4] = {end.x, end.y, end.z, end.w};
    for (int k = 0; k < 4; ++k) {
        last.first[k] = f[k];
        last.step[k] = s[k];
        last.end[k] = e[k];
    }
}

enum class Traversal {
    standard,
    lowerHalf,  // only pixels with column + row <= width - 1
    upperHalf,  // only pixels with column + row >= width
    bench,      // every row reads the samples of row height / 2
};

// Ranges are half-open: columns [x0, x1), rows [y0, y1); width and height are the LDI's.
struct TraversalRange {
    std::int32_t x0 = 0;
    std::int32_t x1 = 0;
    std::int32_t y0 = 0;
    std::int32_t y1 = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

namespace detail {

// Cuts a run to the columns allowed by the half variants; returns false when nothing is left.
inline bool cutRun(RowRun& run, Traversal kind, std::int32_t width) {
    if (kind != Traversal::lowerHalf && kind != Traversal::upperHalf) {
        return true;
    }
    const std::int32_t first = run.column;
    const std::int32_t last = run.column + run.direction * (run.count - 1);
    std::int32_t lo = first < last ? first : last;
    std::int32_t hi = first < last ? last : first;
    if (kind == Traversal::lowerHalf) {
        const std::int32_t limit = width - 1 - run.row;  // column <= limit
        hi = hi < limit ? hi : limit;
    } else {
        const std::int32_t limit = width - run.row;  // column >= limit
        lo = lo > limit ? lo : limit;
    }
    if (lo > hi) {
        return false;
    }
    run.column = run.direction > 0 ? lo : hi;
    run.count = hi - lo + 1;
    return true;
}

template <class RunFn>
inline void sweepRows(std::int32_t rowFrom, std::int32_t rowTo, std::int32_t rowStep,
                      std::int32_t column, std::int32_t direction, std::int32_t count,
                      Traversal kind, const TraversalRange& range, RunFn& fn) {
    if (count <= 0) {
        return;
    }
    for (std::int32_t row = rowFrom; rowStep > 0 ? row <= rowTo : row >= rowTo; row += rowStep) {
        RowRun run{column, row, direction, count, row};
        if (!cutRun(run, kind, range.width)) {
            continue;
        }
        if (kind == Traversal::bench) {
            run.readRow = range.height / 2;
        }
        fn(run);
    }
}

}  // namespace detail

// Calls fn(const RowRun&) for every run of the four sheets, in drawing order. Runs with no
// pixels are not handed out.
template <class RunFn>
void traverseSheets(const WarpSetup& setup, const TraversalRange& range, Traversal kind,
                    RunFn&& fn) {
    const std::int32_t ex = setup.epipoleX;
    const std::int32_t ey = setup.epipoleY;
    const TraversalRange& r = range;
    if (setup.behind == 0) {
        // Toward the epipole.
        detail::sweepRows(r.y0, ey - 1, 1, r.x0, 1, ex - r.x0, kind, r, fn);
        detail::sweepRows(r.y1 - 1, ey, -1, r.x0, 1, ex - r.x0, kind, r, fn);
        detail::sweepRows(r.y0, ey - 1, 1, r.x1 - 1, -1, r.x1 - ex, kind, r, fn);
        detail::sweepRows(r.y1 - 1, ey, -1, r.x1 - 1, -1, r.x1 - ex, kind, r, fn);
    } else {
        // Away from the epipole.
        detail::sweepRows(ey, r.y0, -1, ex, -1, ex - r.x0 + 1, kind, r, fn);
        detail::sweepRows(ey + 1, r.y1 - 1, 1, ex, -1, ex - r.x0 + 1, kind, r, fn);
        detail::sweepRows(ey, r.y0, -1, ex + 1, 1, r.x1 - ex - 1, kind, r, fn);
        detail::sweepRows(ey + 1, r.y1 - 1, 1, ex + 1, 1, r.x1 - ex - 1, kind, r, fn);
    }
}

}  // namespace strata::render
