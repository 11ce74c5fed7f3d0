#include "render/wedge_cut.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <utility>

#include "geometry/matrix.h"

namespace strata::render {
namespace {

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// a x + b y + c >= 0.
struct HalfPlane {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
};

// Sutherland-Hodgman: the part of the convex polygon inside the half-plane.
std::vector<Point> clip(const std::vector<Point>& poly, const HalfPlane& h) {
    std::vector<Point> out;
    const std::size_t n = poly.size();
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p = poly[i];
        const Point& q = poly[(i + 1) % n];
        const double vp = h.a * p.x + h.b * p.y + h.c;
        const double vq = h.a * q.x + h.b * q.y + h.c;
        if (vp >= 0.0) {
            out.push_back(p);
        }
        if ((vp >= 0.0) != (vq >= 0.0)) {
            const double t = vp / (vp - vq);
            out.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
        }
    }
    return out;
}

std::vector<Point> box(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

// The warp's rows x, y and w in double: a point (u, v) of the LDI at depth 0 goes to
// (u, v, 1) times these, and a unit of depth adds column 2.
struct PlaneWarp {
    double x[3];
    double y[3];
    double w[3];
    double e[3];  // the output epipole: the image of the LDI eye

    explicit PlaneWarp(const geometry::Matrix4& m)
        : x{m(0, 0), m(0, 1), m(0, 3)},
          y{m(1, 0), m(1, 1), m(1, 3)},
          w{m(3, 0), m(3, 1), m(3, 3)},
          e{m(0, 2), m(1, 2), m(3, 2)} {}

    std::array<double, 3> at(double u, double v) const {
        return {x[0] * u + x[1] * v + x[2], y[0] * u + y[1] * v + y[2], w[0] * u + w[1] * v + w[2]};
    }
};

// A line of the output (a x + b y + c w = 0) through the epipole and the image of LDI point
// (u, v), and the LDI line it comes from: every sample of every LDI pixel on that line lands
// on it. The LDI line holds the LDI epipole.
struct BorderLine {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
    HalfPlane ldi;  // l . H(p) as a function of the LDI point p

    double side(double u, double v) const { return ldi.a * u + ldi.b * v + ldi.c; }
};

// The output line through the homogeneous points p and q, and the LDI line it comes from.
BorderLine lineThrough(const PlaneWarp& pw, const std::array<double, 3>& p,
                       const std::array<double, 3>& q) {
    BorderLine l;
    l.a = p[1] * q[2] - p[2] * q[1];
    l.b = p[2] * q[0] - p[0] * q[2];
    l.c = p[0] * q[1] - p[1] * q[0];
    const double norm = std::hypot(l.a, l.b);
    if (norm > 0.0) {
        l.a /= norm;
        l.b /= norm;
        l.c /= norm;
    }
    for (int i = 0; i < 3; ++i) {
        const double k = l.a * pw.x[i] + l.b * pw.y[i] + l.c * pw.w[i];
        (i == 0 ? l.ldi.a : i == 1 ? l.ldi.b : l.ldi.c) = k;
    }
    return l;
}

BorderLine borderLine(const PlaneWarp& pw, double u, double v) {
    return lineThrough(pw, {pw.e[0], pw.e[1], pw.e[2]}, pw.at(u, v));
}

// The same through the images of (u, v) and of the point a step (du, dv) away: the line the
// LDI line through them maps to when the eyes coincide and nothing moves with depth.
BorderLine borderLine(const PlaneWarp& pw, double u, double v, double du, double dv) {
    return lineThrough(pw, pw.at(u + du, v + dv), pw.at(u, v));
}

// The area of a convex polygon.
double area(const std::vector<Point>& poly) {
    double sum = 0.0;
    for (std::size_t i = 0; i < poly.size(); ++i) {
        const Point& p = poly[i];
        const Point& q = poly[(i + 1) % poly.size()];
        sum += p.x * q.y - q.x * p.y;
    }
    return 0.5 * std::fabs(sum);
}

// The wedge count from the environment variable STRATA_WEDGES, for measurements (0 without it).
int wedgeCountFromEnvironment() {
    const char* v = std::getenv("STRATA_WEDGES");
    return v == nullptr ? 0 : std::clamp(std::atoi(v), -1, kMaxWedges);
}

std::atomic<int> gWedgeCount{wedgeCountFromEnvironment()};

// The samples of a density within the traversal range, as weighted points at the centres of
// the parts of cells inside the range (LDI coordinates).
struct WeightedPoint {
    double x = 0.0;
    double y = 0.0;
    double weight = 0.0;
};

std::vector<WeightedPoint> weightedPoints(const SampleDensity* d, const TraversalRange& r,
                                          double pixelCentre) {
    std::vector<WeightedPoint> points;
    if (d == nullptr || d->empty() || d->total <= 0) {
        return points;
    }
    const double cellArea = static_cast<double>(d->cell) * d->cell;
    for (std::int32_t row = 0; row < d->rows; ++row) {
        const std::int32_t y0 = std::max(r.y0, row * d->cell);
        const std::int32_t y1 = std::min(r.y1, (row + 1) * d->cell);
        if (y1 <= y0) {
            continue;
        }
        for (std::int32_t col = 0; col < d->columns; ++col) {
            const std::uint32_t n = d->counts[static_cast<std::size_t>(row) * d->columns + col];
            const std::int32_t x0 = std::max(r.x0, col * d->cell);
            const std::int32_t x1 = std::min(r.x1, (col + 1) * d->cell);
            if (n == 0 || x1 <= x0) {
                continue;
            }
            points.push_back({0.5 * (x0 + x1 - 1) + pixelCentre, 0.5 * (y0 + y1 - 1) + pixelCentre,
                              static_cast<double>(n) * (x1 - x0) * (y1 - y0) / cellArea});
        }
    }
    return points;
}

// The n - 1 cuts of the keys of weighted points (keyed: key, weight) into n parts of about equal
// weight: each between two neighbouring keys, never decreasing; clamped to [lo, hi]. Empty when
// the points weigh nothing.
std::vector<double> equalShares(std::vector<std::pair<double, double>>& keyed, int n, double lo,
                                double hi) {
    std::sort(keyed.begin(), keyed.end());
    double total = 0.0;
    for (const auto& [key, weight] : keyed) {
        total += weight;
    }
    if (!(total > 0.0) || keyed.empty()) {
        return {};
    }
    std::vector<double> cuts;
    double before = 0.0;  // the weight of keyed[0 .. i)
    std::size_t i = 0;
    const double gap = 1.0e-6 * (hi - lo);
    for (int j = 1; j < n; ++j) {
        const double want = total * j / n;
        while (i < keyed.size() && before + keyed[i].second < want) {
            before += keyed[i].second;
            ++i;
        }
        double cut = hi;
        if (i < keyed.size()) {
            // Before or after point i, whichever comes nearer the share.
            const bool after = before + keyed[i].second - want < want - before;
            const double left = after   ? keyed[i].first
                                : i > 0 ? keyed[i - 1].first
                                        : keyed[i].first - 2.0 * gap;
            const double right =
                after ? (i + 1 < keyed.size() ? keyed[i + 1].first : keyed[i].first + 2.0 * gap)
                      : keyed[i].first;
            cut = 0.5 * (left + right);
        }
        cut = std::clamp(cut, lo, hi);
        if (!cuts.empty()) {
            cut = std::max(cut, cuts.back());
        }
        cuts.push_back(cut);
    }
    return cuts;
}

// The area of the part of polygon `grid` between the rays from apex at angles a0 and a1 (a1 - a0
// at most a quarter turn).
double sectorArea(const std::vector<Point>& grid, double ex, double ey, double a0, double a1) {
    const double c0 = std::cos(a0);
    const double s0 = std::sin(a0);
    const double c1 = std::cos(a1);
    const double s1 = std::sin(a1);
    // Left of the first ray, right of the second.
    return area(clip(clip(grid, {-s0, c0, s0 * ex - c0 * ey}), {s1, -c1, -s1 * ex + c1 * ey}));
}

// The area of the grid swept from angle a0 to a1, counter-clockwise.
double sweptArea(const std::vector<Point>& grid, double ex, double ey, double a0, double a1) {
    constexpr double quarter = 0.5 * std::numbers::pi;
    double sum = 0.0;
    for (double a = a0; a < a1; a += quarter) {
        sum += sectorArea(grid, ex, ey, a, std::min(a + quarter, a1));
    }
    return sum;
}

// The integer columns c of a row where f(c) = k c + m <= 0, narrowed into [lo, hi].
void narrowTo(double k, double m, double& lo, double& hi) {
    if (k > 0.0) {
        hi = std::min(hi, -m / k);
    } else if (k < 0.0) {
        lo = std::max(lo, -m / k);
    } else if (m > 0.0) {
        hi = lo - 1.0;
    }
}

}  // namespace

int wedgeCount() {
    return gWedgeCount.load(std::memory_order_relaxed);
}

void setWedgeCount(int count) {
    gWedgeCount.store(count, std::memory_order_relaxed);
}

int wedgesFor(int threads) {
    const int count = wedgeCount();
    return count < 0 ? 0 : count > 0 ? count : threads > 1 ? std::min(kMaxWedges, threads) : 0;
}

double SampleDensity::within(std::int32_t x0, std::int32_t y0, std::int32_t x1,
                             std::int32_t y1) const {
    if (empty() || x1 <= x0 || y1 <= y0) {
        return 0.0;
    }
    double sum = 0.0;
    const std::int32_t r0 = std::max(0, y0 / cell);
    const std::int32_t r1 = std::min(rows, (y1 + cell - 1) / cell);
    const std::int32_t c0 = std::max(0, x0 / cell);
    const std::int32_t c1 = std::min(columns, (x1 + cell - 1) / cell);
    for (std::int32_t r = r0; r < r1; ++r) {
        const double h = std::min(y1, (r + 1) * cell) - std::max(y0, r * cell);
        for (std::int32_t c = c0; c < c1; ++c) {
            const std::uint32_t n = counts[static_cast<std::size_t>(r) * columns + c];
            if (n != 0 && h > 0.0) {
                const double w = std::min(x1, (c + 1) * cell) - std::max(x0, c * cell);
                sum += w > 0.0 ? static_cast<double>(n) * w * h / (cell * cell) : 0.0;
            }
        }
    }
    return sum;
}

bool WedgeCut::cut(RowRun& run, const Wedge& w) const {
    if (run.row < w.rowFirst || run.row > w.rowLast) {
        return false;
    }
    const double v = static_cast<double>(run.row) + pixelCentre;
    const std::int32_t first = run.column;
    const std::int32_t last = run.column + run.direction * (run.count - 1);
    std::int32_t lo = std::min(first, last);
    std::int32_t hi = std::max(first, last);
    // cross(ray.dir, p - ray.anchor) >= 0 as a function of the column c.
    const auto left = [&](const BorderRay& ray, std::int32_t c) {
        return ray.dirX * (v - ray.anchorY) -
                   ray.dirY * (static_cast<double>(c) + pixelCentre - ray.anchorX) >=
               0.0;
    };
    // Narrows [lo, hi] to the columns where left(ray, c) == want. left is monotone in c.
    const auto narrow = [&](std::int32_t index, bool want) {
        if (index < 0 || lo > hi) {
            return;
        }
        const BorderRay& ray = rays[static_cast<std::size_t>(index)];
        const bool atLo = left(ray, lo);
        const bool atHi = left(ray, hi);
        if (atLo == atHi) {
            if (atLo != want) {
                hi = lo - 1;
            }
            return;
        }
        // One change between lo and hi: bisect for the last column that agrees with atLo.
        std::int32_t a = lo;
        std::int32_t b = hi;
        while (b - a > 1) {
            const std::int32_t mid = a + (b - a) / 2;
            (left(ray, mid) == atLo ? a : b) = mid;
        }
        if (atLo == want) {
            hi = a;
        } else {
            lo = b;
        }
    };
    narrow(w.fromRay, true);
    narrow(w.toRay, false);
    if (lo > hi) {
        return false;
    }
    const std::int32_t column = run.direction > 0 ? lo : hi;
    run.lead += (column - run.column) * run.direction;
    run.column = column;
    run.count = hi - lo + 1;
    return true;
}

int WedgeCut::parts(const RowRun& run, const Wedge& w, std::array<RunPart, kMaxParts>& out) const {
    const std::int32_t first = run.column;
    const std::int32_t last = run.column + run.direction * (run.count - 1);
    const std::int32_t runLo = std::min(first, last);
    const std::int32_t runHi = std::max(first, last);
    // Own columns.
    RowRun own = run;
    std::int32_t ownLo = 0;
    std::int32_t ownHi = -1;
    if (cut(own, w)) {
        ownLo = std::min(own.column, own.column + own.direction * (own.count - 1));
        ownHi = ownLo + own.count - 1;
    }
    // Band columns: where |L(u, v)| <= band w(u, v, z) for a depth z of the range, so a sample can
    // land within the band's distance of the border line.
    std::array<std::int32_t, 2> bandLo{};
    std::array<std::int32_t, 2> bandHi{};
    int bands = 0;
    const double v = static_cast<double>(run.row) + pixelCentre;
    for (const std::int32_t r : {w.fromRay, w.toRay}) {
        if (r < 0) {
            continue;
        }
        const BorderRay& ray = rays[static_cast<std::size_t>(r)];
        // As functions of u = c + pixelCentre: L = la u + l0, w = wa u + w0.
        const double l0 = ray.lb * v + ray.lc;
        const double slack = 1.0e-3 * std::hypot(ray.la, ray.lb);
        double lo = 0.0;
        double hi = -1.0;
        for (const double z : {zLow, zHigh}) {
            const double w0 = wb * v + wc + z * wz;
            double a = static_cast<double>(runLo) + pixelCentre - 1.0;
            double b = static_cast<double>(runHi) + pixelCentre + 1.0;
            narrowTo(ray.la - band * wa, l0 - band * w0 - slack, a, b);
            narrowTo(-ray.la - band * wa, -l0 - band * w0 - slack, a, b);
            if (a <= b) {
                lo = hi < lo ? a : std::min(lo, a);
                hi = std::max(hi, b);
            }
        }
        if (hi < lo) {
            continue;
        }
        // Whole columns, one more on each side.
        const auto c0 =
            std::max(runLo, static_cast<std::int32_t>(std::floor(lo - pixelCentre)) - 1);
        const auto c1 = std::min(runHi, static_cast<std::int32_t>(std::ceil(hi - pixelCentre)) + 1);
        if (c0 <= c1) {
            bandLo[static_cast<std::size_t>(bands)] = c0;
            bandHi[static_cast<std::size_t>(bands)] = c1;
            ++bands;
        }
    }
    // Pieces in increasing columns, between the breaks where the own columns or a band begin
    // or end: own columns outside the bands, own columns in them, band columns of neighbours.
    std::array<std::int32_t, 6> breaks{};
    int breakCount = 0;
    const bool hasOwn = ownLo <= ownHi;
    if (hasOwn) {
        breaks[static_cast<std::size_t>(breakCount++)] = ownLo;
        breaks[static_cast<std::size_t>(breakCount++)] = ownHi + 1;
    }
    for (int i = 0; i < bands; ++i) {
        breaks[static_cast<std::size_t>(breakCount++)] = bandLo[static_cast<std::size_t>(i)];
        breaks[static_cast<std::size_t>(breakCount++)] = bandHi[static_cast<std::size_t>(i)] + 1;
    }
    for (int i = 1; i < breakCount; ++i) {  // insertion sort of at most six
        for (int j = i;
             j > 0 && breaks[static_cast<std::size_t>(j) - 1] > breaks[static_cast<std::size_t>(j)];
             --j) {
            std::swap(breaks[static_cast<std::size_t>(j) - 1], breaks[static_cast<std::size_t>(j)]);
        }
    }
    const auto inBand = [&](std::int32_t c) {
        for (int i = 0; i < bands; ++i) {
            if (c >= bandLo[static_cast<std::size_t>(i)] &&
                c <= bandHi[static_cast<std::size_t>(i)]) {
                return true;
            }
        }
        return false;
    };
    std::array<RunPart, kMaxParts> pieces;
    int count = 0;
    for (int i = 0; i + 1 < breakCount; ++i) {
        const std::int32_t lo = breaks[static_cast<std::size_t>(i)];
        const std::int32_t hi = breaks[static_cast<std::size_t>(i) + 1] - 1;
        if (lo > hi) {
            continue;
        }
        const bool isOwn = hasOwn && lo >= ownLo && lo <= ownHi;
        const bool isBand = inBand(lo);
        if (!isOwn && !isBand) {
            continue;
        }
        const RunPart::Kind kind = !isOwn   ? RunPart::band
                                   : isBand ? RunPart::ownBorder
                                            : RunPart::own;
        if (count > 0 && pieces[static_cast<std::size_t>(count) - 1].kind == kind &&
            pieces[static_cast<std::size_t>(count) - 1].run.column +
                    pieces[static_cast<std::size_t>(count) - 1].run.count ==
                lo) {
            pieces[static_cast<std::size_t>(count) - 1].run.count += hi - lo + 1;
            continue;
        }
        RunPart& p = pieces[static_cast<std::size_t>(count++)];
        p.kind = kind;
        p.run = run;
        p.run.column = lo;  // turned to the run's direction below
        p.run.count = hi - lo + 1;
    }
    // In the run's direction, each with its lead from the run's first pixel.
    for (int i = 0; i < count; ++i) {
        RunPart& p = pieces[static_cast<std::size_t>(run.direction > 0 ? i : count - 1 - i)];
        const std::int32_t column =
            run.direction > 0 ? p.run.column : p.run.column + p.run.count - 1;
        p.run.column = column;
        p.run.lead = run.lead + (column - run.column) * run.direction;
        out[static_cast<std::size_t>(i)] = p;
    }
    return count;
}

int WedgeCut::owner(std::int32_t x, std::int32_t y) const {
    // The wedge whose borders the pixel lies farthest inside; the first of equals.
    int best = 0;
    float bestValue = 0.0f;
    for (std::size_t i = 0; i < wedges.size(); ++i) {
        const WedgeTest& t = wedges[i].test;
        const float value = std::min(t.from.at(x, y), t.to.at(x, y));
        if (i == 0 || value > bestValue) {
            best = static_cast<int>(i);
            bestValue = value;
        }
    }
    return best;
}

namespace {

// Where a border ray lies before its exact line is known: the ray leaves the anchor toward the
// point (u, v), or, when the epipole lies at infinity, the line through (u, v) parallel to the
// epipolar lines, oriented along (dirX, dirY); the anchor is then (u, v) itself.
struct RayPlace {
    double anchorX = 0.0;
    double anchorY = 0.0;
    double u = 0.0;
    double v = 0.0;
    double dirX = 0.0;
    double dirY = 0.0;
    bool still = false;  // no epipole: the line's image runs through two of its points' images
};

// The area of the grid on the side of the line n . p = t where n . p < t.
double areaBelow(const std::vector<Point>& grid, double nx, double ny, double t) {
    return area(clip(grid, {-nx, -ny, t}));
}

// The tested rays of a cut whose epipole lies at infinity, or nowhere: parallel lines.
std::vector<RayPlace> slabRays(const std::vector<Point>& grid, const geometry::Vector4& eye, int n,
                               double xmin, double xmax, double ymin, double ymax,
                               const std::vector<WeightedPoint>& samples) {
    std::vector<RayPlace> places;
    // Epipolar lines all run along the epipole's direction: slabs between parallel lines,
    // each holding an equal share of the grid.
    // With the eyes in one place nothing moves with depth: any lines part the samples, and
    // lines down the columns cut every row once.
    const bool still = std::hypot(eye.x, eye.y) == 0.0;
    const double dx = still ? 0.0 : eye.x;
    const double dy = still ? 1.0 : eye.y;
    const double norm = std::hypot(dx, dy);
    if (!std::isfinite(norm)) {
        return {};
    }
    const double nx = -dy / norm;
    const double ny = dx / norm;
    double tLow = nx * grid[0].x + ny * grid[0].y;
    double tHigh = tLow;
    for (const Point& c : grid) {
        tLow = std::min(tLow, nx * c.x + ny * c.y);
        tHigh = std::max(tHigh, nx * c.x + ny * c.y);
    }
    const double cx = 0.5 * (xmin + xmax);
    const double cy = 0.5 * (ymin + ymax);
    const double tc = nx * cx + ny * cy;
    // Equal samples between the lines, or equal area without them.
    std::vector<std::pair<double, double>> keyed;
    keyed.reserve(samples.size());
    for (const WeightedPoint& p : samples) {
        keyed.emplace_back(nx * p.x + ny * p.y, p.weight);
    }
    const std::vector<double> shares = equalShares(keyed, n, tLow, tHigh);
    const double total = shares.empty() ? areaBelow(grid, nx, ny, tHigh + 1.0) : 0.0;
    for (int j = 1; j < n; ++j) {
        double lo = tLow;
        double hi = tHigh;
        if (!shares.empty()) {
            lo = hi = shares[static_cast<std::size_t>(j) - 1];
        }
        for (int step = 0; step < 48 && shares.empty(); ++step) {
            const double mid = 0.5 * (lo + hi);
            (areaBelow(grid, nx, ny, mid) < total * j / n ? lo : hi) = mid;
        }
        const double t = 0.5 * (lo + hi);
        const double u = cx + (t - tc) * nx;
        const double v = cy + (t - tc) * ny;
        places.push_back({u, v, u, v, dx / norm, dy / norm, still});
    }
    return places;
}

// The tested rays of a cut around the epipole (ex, ey), found roughly; fullTurn and halfTurn
// tell how they turn. No rays when the epipole cannot be found exactly.
struct Pencil {
    std::vector<RayPlace> places;
    bool fullTurn = false;
    bool halfTurn = false;
};

Pencil pencilRays(const PlaneWarp& pw, const std::vector<Point>& grid, double ex, double ey, int n,
                  double length, double limit, double xmin, double xmax, double ymin, double ymax,
                  const std::vector<WeightedPoint>& samples) {
    constexpr double pi = std::numbers::pi;
    Pencil rays;
    bool& fullTurn = rays.fullTurn;
    bool& halfTurn = rays.halfTurn;
    std::vector<RayPlace>& places = rays.places;
    // The epipole exactly: where two epipolar lines through the rough one meet.
    const HalfPlane p =
        borderLine(pw, ex + length * std::cos(0.1), ey + length * std::sin(0.1)).ldi;
    const HalfPlane q =
        borderLine(pw, ex - length * std::sin(0.1), ey + length * std::cos(0.1)).ldi;
    const double d = p.a * q.b - p.b * q.a;
    if (!(std::fabs(d) > 0.0)) {
        return rays;
    }
    ex = (p.b * q.c - p.c * q.b) / d;
    ey = (p.c * q.a - p.a * q.c) / d;
    if (!std::isfinite(ex) || !std::isfinite(ey) || std::fabs(ex) > 2.0 * limit ||
        std::fabs(ey) > 2.0 * limit) {
        return rays;
    }
    // Kept a hair off any pixel centre, so every pixel has a direction from it.
    const double apexX = ex + 1.0e-7;
    const double apexY = ey + 1.3e-7;

    // The rays' angles: a full turn when the epipole lies in the grid, else the grid's span
    // of directions; the wedges between them share the grid's area equally.
    fullTurn = ex >= xmin && ex <= xmax && ey >= ymin && ey <= ymax;
    double start = 0.1;
    double span = 2.0 * pi;
    if (!fullTurn) {
        const double centre = std::atan2(0.5 * (ymin + ymax) - ey, 0.5 * (xmin + xmax) - ex);
        double lowest = pi;
        double highest = -pi;
        for (const Point& c : grid) {
            const double a = std::remainder(std::atan2(c.y - ey, c.x - ex) - centre, 2.0 * pi);
            lowest = std::min(lowest, a);
            highest = std::max(highest, a);
        }
        fullTurn = highest - lowest > 0.9 * pi;
        if (!fullTurn) {
            start = centre + lowest - 1.0e-3;
            span = highest - lowest + 2.0e-3;
        }
    }
    halfTurn = fullTurn && n == 2;  // two half-planes: one ray's line
    // Equal samples between the rays where they are known (not for the one line of a half
    // turn), else equal area.
    std::vector<double> shares;
    if (!halfTurn) {
        std::vector<std::pair<double, double>> keyed;
        keyed.reserve(samples.size());
        for (const WeightedPoint& point : samples) {
            double a = std::atan2(point.y - ey, point.x - ex) - start;
            a -= 2.0 * pi * std::floor(a / (2.0 * pi));
            keyed.emplace_back(std::min(a, span), point.weight);
        }
        shares = equalShares(keyed, n, 0.0, span);
    }
    const double total = shares.empty() ? sweptArea(grid, ex, ey, start, start + span) : 0.0;
    if (halfTurn) {
        // The line through the apex that halves the grid: the area left of it minus half
        // the grid changes sign over a half turn.
        double lo = start;
        double hi = start + pi;
        const bool atLo = sweptArea(grid, ex, ey, lo, lo + pi) < 0.5 * total;
        for (int step = 0; step < 48; ++step) {
            const double mid = 0.5 * (lo + hi);
            ((sweptArea(grid, ex, ey, mid, mid + pi) < 0.5 * total) == atLo ? lo : hi) = mid;
        }
        start = 0.5 * (lo + hi);
    }
    std::vector<double> angle(static_cast<std::size_t>(n) + 1);
    angle[0] = start;
    angle[static_cast<std::size_t>(n)] = start + span;
    for (int j = 1; j < n; ++j) {
        if (!shares.empty()) {
            angle[static_cast<std::size_t>(j)] = start + shares[static_cast<std::size_t>(j) - 1];
            continue;
        }
        double lo = angle[static_cast<std::size_t>(j) - 1];
        double hi = start + span;
        const double want = total * j / n;
        for (int step = 0; step < 48; ++step) {
            const double mid = 0.5 * (lo + hi);
            (sweptArea(grid, ex, ey, start, mid) < want ? lo : hi) = mid;
        }
        angle[static_cast<std::size_t>(j)] = 0.5 * (lo + hi);
    }
    if (fullTurn && !halfTurn) {
        // A wedge is the part left of one ray and right of the next: less than a half turn.
        constexpr double widest = 0.9 * pi;
        for (int j = 1; j < n; ++j) {
            angle[static_cast<std::size_t>(j)] =
                std::min(angle[static_cast<std::size_t>(j)],
                         angle[static_cast<std::size_t>(j) - 1] + widest);
        }
        for (int j = n - 1; j > 0; --j) {
            angle[static_cast<std::size_t>(j)] =
                std::max(angle[static_cast<std::size_t>(j)],
                         angle[static_cast<std::size_t>(j) + 1] - widest);
        }
    }
    // The tested rays: every one of a full turn (one for a half turn), the inner ones
    // otherwise.
    const int firstRay = fullTurn ? 0 : 1;
    const int rayCount = halfTurn ? 1 : fullTurn ? n : n - 1;
    for (int i = 0; i < rayCount; ++i) {
        const double a = angle[static_cast<std::size_t>(firstRay + i)];
        places.push_back({apexX, apexY, ex + length * std::cos(a), ey + length * std::sin(a),
                          std::cos(a), std::sin(a)});
    }
    return rays;
}

}  // namespace

WedgeCut makeWedgeCut(const WedgeCutInput& in) {
    WedgeCut cut;
    cut.pixelCentre = in.pixelCentre;
    const TraversalRange& r = in.range;
    const int n = in.count;
    if (!in.setup.valid || n < 2 || n > 64 || r.x1 <= r.x0 || r.y1 <= r.y0 || in.outWidth <= 0 ||
        in.outHeight <= 0 || !(in.zLow <= in.zHigh)) {
        return cut;
    }
    const PlaneWarp pw(in.setup.transform);
    const double pc = in.pixelCentre;
    const double xmin = r.x0 + pc;
    const double xmax = r.x1 - 1 + pc;
    const double ymin = r.y0 + pc;
    const double ymax = r.y1 - 1 + pc;
    const double length = std::max(r.width, r.height) + 16.0;
    const std::vector<Point> grid = box(xmin - 0.5, ymin - 0.5, xmax + 0.5, ymax + 0.5);

    // The LDI epipole, roughly (where the output eye projects): at infinity or nowhere, the
    // rays are parallel; else they fan out from it.
    const geometry::Vector4 eye =
        geometry::transform(geometry::inverse(in.setup.transform), {0.0f, 0.0f, -1.0f, 0.0f});
    const double limit = 1.0e6;
    const double ew = eye.w;
    const double ex = std::fabs(ew) > 0.0 ? eye.x / ew : 0.0;
    const double ey = std::fabs(ew) > 0.0 ? eye.y / ew : 0.0;
    const bool parallel = !(std::fabs(ew) > 0.0) || !std::isfinite(ex) || !std::isfinite(ey) ||
                          std::fabs(ex) > limit || std::fabs(ey) > limit;
    std::vector<RayPlace> places;  // the tested rays, in order
    bool fullTurn = false;
    bool halfTurn = false;
    const std::vector<WeightedPoint> samples = weightedPoints(in.density, r, pc);
    if (parallel) {
        places = slabRays(grid, eye, n, xmin, xmax, ymin, ymax, samples);
    } else {
        Pencil pencil =
            pencilRays(pw, grid, ex, ey, n, length, limit, xmin, xmax, ymin, ymax, samples);
        places = std::move(pencil.places);
        fullTurn = pencil.fullTurn;
        halfTurn = pencil.halfTurn;
    }
    if (places.empty()) {
        return cut;
    }

    // Each ray: its LDI line (the zero line of L), its direction along it and the output line,
    // both signed so L and the output value are positive left of the ray.
    cut.rays.resize(places.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
        const RayPlace& place = places[i];
        const BorderLine l =
            place.still ? borderLine(pw, place.u, place.v, place.dirX * length, place.dirY * length)
                        : borderLine(pw, place.u, place.v);
        double dx = -l.ldi.b;
        double dy = l.ldi.a;
        const double norm = std::hypot(dx, dy);
        if (!(norm > 0.0) || !(std::hypot(l.a, l.b) > 0.5)) {
            cut.rays.clear();
            return cut;
        }
        dx /= norm;
        dy /= norm;
        if (dx * place.dirX + dy * place.dirY < 0.0) {
            dx = -dx;
            dy = -dy;
        }
        // L at a point left of the ray.
        const double sign = l.ldi.a * -dy + l.ldi.b * dx > 0.0 ? 1.0 : -1.0;
        BorderRay& ray = cut.rays[i];
        ray.out = {static_cast<float>(sign * l.a), static_cast<float>(sign * l.b),
                   static_cast<float>(sign * l.c)};
        ray.la = sign * l.ldi.a;
        ray.lb = sign * l.ldi.b;
        ray.lc = sign * l.ldi.c;
        ray.dirX = dx;
        ray.dirY = dy;
        ray.anchorX = place.anchorX;
        ray.anchorY = place.anchorY;
    }
    cut.wa = pw.w[0];
    cut.wb = pw.w[1];
    cut.wc = pw.w[2];
    cut.wz = pw.e[2];
    cut.zLow = in.zLow;
    cut.zHigh = in.zHigh;
    cut.reach = std::max(in.reach, 0.0f);
    cut.band = static_cast<double>(cut.reach) + kPixelSlack + kLineSlack;

    constexpr OutputLine kOpen{0.0f, 0.0f, 1.0e30f};
    for (int j = 0; j < n; ++j) {
        Wedge w;
        // The rays before and after the wedge, as indices into cut.rays; -1: untested.
        if (halfTurn) {
            w.fromRay = j == 0 ? 0 : -1;
            w.toRay = j == 0 ? -1 : 0;
        } else if (fullTurn) {
            w.fromRay = j;
            w.toRay = (j + 1) % n;
        } else {
            w.fromRay = j > 0 ? j - 1 : -1;
            w.toRay = j < n - 1 ? j : -1;
        }
        // Rows: the grid cut by the wedge's half-planes (widened a little); the output sides,
        // both positive inside.
        std::vector<Point> part = grid;
        const auto side = [&](std::int32_t index, double sign, OutputLine& test) {
            if (index < 0) {
                test = kOpen;
                return;
            }
            const BorderRay& ray = cut.rays[static_cast<std::size_t>(index)];
            const double a = -sign * ray.dirY;
            const double b = sign * ray.dirX;
            part = clip(part, {a, b, -a * ray.anchorX - b * ray.anchorY + 1.0});
            const auto k = static_cast<float>(sign);
            test = {k * ray.out.a, k * ray.out.b, k * ray.out.c};
        };
        side(w.fromRay, 1.0, w.test.from);
        side(w.toRay, -1.0, w.test.to);
        if (!part.empty()) {
            double lowY = part[0].y;
            double highY = part[0].y;
            for (const Point& p : part) {
                lowY = std::min(lowY, p.y);
                highY = std::max(highY, p.y);
            }
            w.rowFirst = std::max(r.y0, static_cast<std::int32_t>(std::floor(lowY - pc)) - 1);
            w.rowLast = std::min(r.y1 - 1, static_cast<std::int32_t>(std::ceil(highY - pc)) + 1);
        }
        cut.wedges.push_back(w);
    }
    return cut;
}

}  // namespace strata::render
