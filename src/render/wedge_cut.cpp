#include "render/wedge_cut.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <numbers>

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

BorderLine borderLine(const PlaneWarp& pw, double u, double v) {
    const std::array<double, 3> h = pw.at(u, v);
    const double* e = pw.e;
    BorderLine l;
    l.a = e[1] * h[2] - e[2] * h[1];
    l.b = e[2] * h[0] - e[0] * h[2];
    l.c = e[0] * h[1] - e[1] * h[0];
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

std::atomic<int> gWedgeCount{kWedgeCount};

}  // namespace

int wedgeCount() {
    return gWedgeCount.load(std::memory_order_relaxed);
}

void setWedgeCount(int count) {
    gWedgeCount.store(count, std::memory_order_relaxed);
}

bool WedgeCut::cut(RowRun& run, const Wedge& w) const {
    if (run.row < w.rowFirst || run.row > w.rowLast) {
        return false;
    }
    const double dy = static_cast<double>(run.row) + pixelCentre - apexY;
    const std::int32_t first = run.column;
    const std::int32_t last = run.column + run.direction * (run.count - 1);
    std::int32_t lo = std::min(first, last);
    std::int32_t hi = std::max(first, last);
    // cross(u, p - apex) >= 0 as a function of the column c.
    const auto left = [&](double ux, double uy, std::int32_t c) {
        return ux * dy - uy * (static_cast<double>(c) + pixelCentre - apexX) >= 0.0;
    };
    // Narrows [lo, hi] to the columns where left(u, c) == want. left is monotone in c.
    const auto narrow = [&](double ux, double uy, bool want) {
        if (lo > hi) {
            return;
        }
        const bool atLo = left(ux, uy, lo);
        const bool atHi = left(ux, uy, hi);
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
            (left(ux, uy, mid) == atLo ? a : b) = mid;
        }
        if (atLo == want) {
            hi = a;
        } else {
            lo = b;
        }
    };
    if (w.testFrom) {
        narrow(w.fromX, w.fromY, true);
    }
    if (w.testTo) {
        narrow(w.toX, w.toY, false);
    }
    if (lo > hi) {
        return false;
    }
    const std::int32_t column = run.direction > 0 ? lo : hi;
    run.lead += (column - run.column) * run.direction;
    run.column = column;
    run.count = hi - lo + 1;
    return true;
}

WedgeCut makeWedgeCut(const WedgeCutInput& in) {
    WedgeCut cut;
    cut.pixelCentre = in.pixelCentre;
    const TraversalRange& r = in.range;
    const int n = in.count;
    if (!in.setup.valid || n < 4 || n % 2 != 0 || r.x1 <= r.x0 || r.y1 <= r.y0 ||
        in.outWidth <= 0 || in.outHeight <= 0) {
        return cut;
    }
    const PlaneWarp pw(in.setup.transform);
    // The LDI epipole, first roughly (where the output eye projects) ...
    const geometry::Vector4 eye =
        geometry::transform(geometry::inverse(in.setup.transform), {0.0f, 0.0f, -1.0f, 0.0f});
    const double ew = eye.w;
    const double limit = 1.0e6;
    if (!(std::fabs(ew) > 0.0)) {
        return cut;
    }
    double ex = eye.x / ew;
    double ey = eye.y / ew;
    if (!std::isfinite(ex) || !std::isfinite(ey) || std::fabs(ex) > limit ||
        std::fabs(ey) > limit) {
        return cut;
    }
    const double pc = in.pixelCentre;
    const double xmin = r.x0 + pc;
    const double xmax = r.x1 - 1 + pc;
    const double ymin = r.y0 + pc;
    const double ymax = r.y1 - 1 + pc;
    const double length = std::max(r.width, r.height) + 16.0;
    constexpr double pi = std::numbers::pi;

    // Border directions: n + 1 of them; the first and last bound the grid when the epipole is
    // outside it, else they coincide (a full turn) and opposite ones share a line.
    bool fullTurn = ex >= xmin && ex <= xmax && ey >= ymin && ey <= ymax;
    double lowest = 0.0;
    double highest = 0.0;
    if (!fullTurn) {
        const double centre = std::atan2(0.5 * (ymin + ymax) - ey, 0.5 * (xmin + xmax) - ex);
        lowest = pi;
        highest = -pi;
        for (const Point& c : box(xmin, ymin, xmax, ymax)) {
            const double d = std::remainder(std::atan2(c.y - ey, c.x - ex) - centre, 2.0 * pi);
            lowest = std::min(lowest, d);
            highest = std::max(highest, d);
        }
        fullTurn = highest - lowest > 0.9 * pi;
        lowest += centre;
        highest += centre;
    }
    std::vector<BorderLine> lines(static_cast<std::size_t>(n) + 1);
    for (int j = 0; j <= n; ++j) {
        double a = 0.0;
        if (fullTurn) {
            a = 0.1 + 2.0 * pi * (j % (n / 2)) / n;
        } else {
            // The outer borders a little outside the grid's own angles.
            const double pad = j == 0 ? -1.0e-3 : j == n ? 1.0e-3 : 0.0;
            a = lowest + (highest - lowest) * j / n + pad;
        }
        lines[static_cast<std::size_t>(j)] =
            borderLine(pw, ex + length * std::cos(a), ey + length * std::sin(a));
    }
    // ... then exactly: where the LDI lines of the borders meet.
    {
        const HalfPlane& p = lines[0].ldi;
        const HalfPlane& q = lines[static_cast<std::size_t>(fullTurn ? n / 4 : n)].ldi;
        const double d = p.a * q.b - p.b * q.a;
        if (!(std::fabs(d) > 0.0)) {
            return cut;
        }
        ex = (p.b * q.c - p.c * q.b) / d;
        ey = (p.c * q.a - p.a * q.c) / d;
        if (!std::isfinite(ex) || !std::isfinite(ey) || std::fabs(ex) > 2.0 * limit ||
            std::fabs(ey) > 2.0 * limit) {
            return cut;
        }
    }
    // Kept a hair off any pixel centre, so every pixel has a direction from it.
    cut.apexX = ex + 1.0e-7;
    cut.apexY = ey + 1.3e-7;
    // The direction of each border along its LDI line, pointing into the grid's side.
    std::vector<Point> dir(static_cast<std::size_t>(n) + 1);
    for (int j = 0; j <= n; ++j) {
        const HalfPlane& l = lines[static_cast<std::size_t>(j)].ldi;
        double dx = -l.b;
        double dy = l.a;
        const double norm = std::hypot(dx, dy);
        if (!(norm > 0.0)) {
            return cut;
        }
        dx /= norm;
        dy /= norm;
        double a = 0.0;
        if (fullTurn) {
            a = 0.1 + 2.0 * pi * (j % n) / n;
        } else {
            const double pad = j == 0 ? -1.0e-3 : j == n ? 1.0e-3 : 0.0;
            a = lowest + (highest - lowest) * j / n + pad;
        }
        if (dx * std::cos(a) + dy * std::sin(a) < 0.0) {
            dx = -dx;
            dy = -dy;
        }
        dir[static_cast<std::size_t>(j)] = {dx, dy};
    }
    if (fullTurn) {
        for (int j = n / 2; j <= n; ++j) {
            const Point& o = dir[static_cast<std::size_t>(j - n / 2)];
            dir[static_cast<std::size_t>(j)] = {-o.x, -o.y};
        }
    }

    const float reach = std::max(in.reach, 0.0f);
    const float core = reach + kPixelSlack + 0.5f;
    const std::vector<Point> grid = box(xmin - 0.5, ymin - 0.5, xmax + 0.5, ymax + 0.5);
    std::vector<std::array<HalfPlane, 2>> cores;
    for (int j = 0; j < n; ++j) {
        const Point& from = dir[static_cast<std::size_t>(j)];
        const Point& to = dir[static_cast<std::size_t>(j + 1)];
        Wedge w;
        w.fromX = from.x;
        w.fromY = from.y;
        w.toX = to.x;
        w.toY = to.y;
        w.testFrom = fullTurn || j > 0;
        w.testTo = fullTurn || j < n - 1;
        // Rows: the grid cut by the wedge's half-planes (widened a little).
        std::vector<Point> part = grid;
        if (w.testFrom) {
            part = clip(part, {-from.y, from.x, from.y * ex - from.x * ey + 1.0});
        }
        if (w.testTo) {
            part = clip(part, {to.y, -to.x, -to.y * ex + to.x * ey + 1.0});
        }
        if (part.empty()) {
            continue;  // no pixel of the grid
        }
        double lowY = part[0].y;
        double highY = part[0].y;
        for (const Point& p : part) {
            lowY = std::min(lowY, p.y);
            highY = std::max(highY, p.y);
        }
        w.rowFirst = std::max(r.y0, static_cast<std::int32_t>(std::floor(lowY - pc)) - 1);
        w.rowLast = std::min(r.y1 - 1, static_cast<std::int32_t>(std::ceil(highY - pc)) + 1);
        // The output side of each border that holds the wedge's samples: the sign of l . H(p)
        // at a point p of the wedge, the same for every sample of every pixel of the wedge in
        // front of the eye (the line holds the epipole, so depth does not change it).
        double mx = from.x + to.x;
        double my = from.y + to.y;
        const double ml = std::hypot(mx, my);
        if (!(ml > 1.0e-9)) {
            return WedgeCut{cut.apexX, cut.apexY, pc, {}};
        }
        mx = ex + mx / ml * 0.5 * length;
        my = ey + my / ml * 0.5 * length;
        HalfPlane side[2];
        for (int k = 0; k < 2; ++k) {
            const BorderLine& l = lines[static_cast<std::size_t>(j + k)];
            const double v = l.side(mx, my);
            if (!(std::fabs(v) > 0.0) || !(std::hypot(l.a, l.b) > 0.5)) {
                return WedgeCut{cut.apexX, cut.apexY, pc, {}};
            }
            const double s = v > 0.0 ? 1.0 : -1.0;
            side[k] = {s * l.a, s * l.b, s * l.c};
        }
        w.test = {static_cast<float>(side[0].a),
                  static_cast<float>(side[0].b),
                  static_cast<float>(side[0].c),
                  static_cast<float>(side[1].a),
                  static_cast<float>(side[1].b),
                  static_cast<float>(side[1].c),
                  core,
                  core + reach};
        cut.wedges.push_back(w);
        // The wedge's own pixels, widened a quarter pixel.
        const double c = core - 0.25;
        cores.push_back({HalfPlane{side[0].a, side[0].b, side[0].c - c},
                         HalfPlane{side[1].a, side[1].b, side[1].c - c}});
    }
    // Checks the promise behind the cut: no two wedges own a pixel.
    const std::vector<Point> frame = box(-1.0, -1.0, in.outWidth + 1.0, in.outHeight + 1.0);
    for (std::size_t i = 0; i < cores.size(); ++i) {
        const std::vector<Point> own = clip(clip(frame, cores[i][0]), cores[i][1]);
        if (own.empty()) {
            continue;
        }
        for (std::size_t k = i + 1; k < cores.size(); ++k) {
            if (!clip(clip(own, cores[k][0]), cores[k][1]).empty()) {
                cut.wedges.clear();
                return cut;
            }
        }
    }
    if (cut.wedges.size() < 2) {
        cut.wedges.clear();
    }
    return cut;
}

}  // namespace strata::render
