#include "ldi/surface_slopes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "geometry/depth.h"
#include "geometry/normal_table.h"
#include "platform/fp_mode.h"
#include "platform/worker_pool.h"

namespace strata::ldi {
namespace {

using Vec4d = std::array<double, 4>;

// The reference camera's transform (world to pixel column, row, normalised depth) and its
// inverse, in double precision: the builder works once per LDI and wants exact planes.
struct Transform {
    double m[4][4] = {};
    double inv[4][4] = {};
    bool valid = false;

    explicit Transform(const geometry::Matrix4& full) {
        double a[4][8] = {};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                m[r][c] = full(r, c);
                a[r][c] = full(r, c);
            }
            a[r][4 + r] = 1.0;
        }
        // Gauss-Jordan with partial pivoting.
        for (int c = 0; c < 4; ++c) {
            int pivot = c;
            for (int r = c + 1; r < 4; ++r) {
                if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) {
                    pivot = r;
                }
            }
            if (!(std::fabs(a[pivot][c]) > 1e-300)) {
                return;
            }
            for (int k = 0; k < 8; ++k) {
                std::swap(a[c][k], a[pivot][k]);
            }
            const double scale = 1.0 / a[c][c];
            for (int k = 0; k < 8; ++k) {
                a[c][k] *= scale;
            }
            for (int r = 0; r < 4; ++r) {
                if (r != c && a[r][c] != 0.0) {
                    const double f = a[r][c];
                    for (int k = 0; k < 8; ++k) {
                        a[r][k] -= f * a[c][k];
                    }
                }
            }
        }
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                inv[r][c] = a[r][4 + c];
            }
        }
        valid = true;
    }

    // The world point of pixel position (u, v) at normalised depth z.
    Vec4d unproject(double u, double v, double z) const {
        Vec4d p{};
        for (int r = 0; r < 4; ++r) {
            p[static_cast<std::size_t>(r)] =
                inv[r][0] * u + inv[r][1] * v + inv[r][2] * z + inv[r][3];
        }
        return p;
    }
    // A world plane carried into pixel space: the plane p' with p' . (u, v, z, 1) = 0 exactly
    // where p . (world point, 1) = 0.
    Vec4d planeToPixels(const Vec4d& p) const {
        Vec4d q{};
        for (int c = 0; c < 4; ++c) {
            for (int r = 0; r < 4; ++r) {
                q[static_cast<std::size_t>(c)] += inv[r][c] * p[static_cast<std::size_t>(r)];
            }
        }
        return q;
    }
    // The reverse: a pixel-space plane as a world plane.
    Vec4d planeToWorld(const Vec4d& p) const {
        Vec4d q{};
        for (int c = 0; c < 4; ++c) {
            for (int r = 0; r < 4; ++r) {
                q[static_cast<std::size_t>(c)] += m[r][c] * p[static_cast<std::size_t>(r)];
            }
        }
        return q;
    }
};

double dot3(const Vec4d& a, const geometry::Vector3& b) {
    return a[0] * b.x + a[1] * b.y + a[2] * b.z;
}

// The normalised depth of a depth word.
float depthOf(std::uint32_t word) {
    return geometry::decodeDepth(word & 0xFFFFFu);
}

// The samples of one pixel: [first, end) in storage order.
struct PixelSpan {
    std::int64_t first = 0;
    std::int64_t end = 0;
};

// A stored normal that agrees (or disagrees) with the measured plane's normal turned toward the
// reference camera by more than this (cosine) says which side of the surface faces that camera;
// nearer perpendicular it says nothing. A front sample disagreeing by more than kWrongFront
// marks its pixel's stored normals as untrustworthy.
constexpr float kSureFacing = 0.25f;
constexpr float kWrongFront = 0.3f;

}  // namespace

bool SurfaceSlopes::matches(const SampleGrid& grid, const geometry::ViewCamera& reference) const {
    return words == grid.words && count == grid.count && width == grid.width &&
           height == grid.height && view.pos == reference.pos && view.dir == reference.dir &&
           view.up == reference.up && view.fov == reference.fov && view.near == reference.near &&
           view.far == reference.far && view.projection == reference.projection &&
           view.viewport == reference.viewport;
}

void BuildSurfaceSlopes(const SampleGrid& grid, const geometry::ViewCamera& view,
                        SurfaceSlopes& out) {
    // The slopes are kept: the same whatever rounding the frame that makes them draws with.
    const platform::NearestRoundingGuard rounding;
    out.clear();
    out.words = grid.words;
    out.count = grid.count;
    out.width = grid.width;
    out.height = grid.height;
    out.view = view;
    if (grid.count <= 0 || grid.words == nullptr || grid.width <= 0 || grid.height <= 0) {
        return;
    }
    const auto count = static_cast<std::size_t>(grid.count);
    out.perColumn.assign(count, 0.0f);
    out.perRow.assign(count, 0.0f);
    out.side.assign(count, CullSide::never);
    out.openEdges.assign(count, 0);
    const Transform t(view.fullTransform());
    if (!t.valid) {
        return;
    }
    // Normalised depth z = A + B / distance: relative changes of distance are changes of z
    // over z - A. A perspective projection's depth row gives A; others count as one unit.
    const geometry::Matrix4& p = view.projection;
    const double depthOrigin =
        p(3, 2) == -1.0f && p(3, 0) == 0.0f && p(3, 1) == 0.0f && p(3, 3) == 0.0f ? -p(2, 2) : -2.0;
    // One pixel's width over its distance.
    const double pixelAngle =
        2.0 * std::tan(0.5 * static_cast<double>(view.fov)) / static_cast<double>(grid.width);
    const double steepest = pixelAngle * static_cast<double>(kSteepestSlope);
    const auto normals = geometry::normalTable();
    const geometry::Vector3 eye = view.pos;
    const std::int32_t w = grid.width;
    const std::int32_t h = grid.height;

    const auto span = [&](std::int32_t row, std::int32_t column) {
        const std::size_t at = static_cast<std::size_t>(row) * static_cast<std::size_t>(w + 1) +
                               static_cast<std::size_t>(column);
        const std::int64_t base = grid.rowStart[row];
        return PixelSpan{base + grid.layerOffset[at], base + grid.layerOffset[at + 1]};
    };
    const auto word = [&](std::int64_t i) { return grid.words[i * grid.stride + grid.depthWord]; };

    // How far each sample's stored normal agrees with its measured plane's, turned toward the
    // reference camera (cosine; 0 where no plane was found).
    std::vector<float> agreement(count, 0.0f);
    const int parts = std::max(1, std::min(platform::drawThreads(), static_cast<int>(h)));
    platform::drawPool().run(parts, [&](int part) {
        const auto r0 = static_cast<std::int32_t>(std::int64_t{h} * part / parts);
        const auto r1 = static_cast<std::int32_t>(std::int64_t{h} * (part + 1) / parts);
        for (std::int32_t row = r0; row < r1; ++row) {
            for (std::int32_t column = 0; column < w; ++column) {
                const PixelSpan own = span(row, column);
                for (std::int64_t i = own.first; i < own.end; ++i) {
                    const std::uint32_t q = word(i);
                    const double z = depthOf(q);
                    const double relative = std::max(std::fabs(z - depthOrigin), 1e-12);
                    // The plane the stored normal gives, through the sample.
                    const geometry::Vector3& n = normals[(q >> 25) & 63u];
                    const double u = column + 0.5;
                    const double v = row + 0.5;
                    const Vec4d x = t.unproject(u, v, z);
                    const double xw = std::fabs(x[3]) > 1e-300 ? x[3] : 1e-300;
                    const Vec4d world{x[0] / xw, x[1] / xw, x[2] / xw, 1.0};
                    const Vec4d plane = t.planeToPixels(
                        {n.x, n.y, n.z, -(n.x * world[0] + n.y * world[1] + n.z * world[2])});
                    const auto predicted = [&](double along) {
                        const double cap = steepest * relative;
                        if (!(std::fabs(plane[2]) > 1e-300)) {
                            return along >= 0.0 ? cap : -cap;
                        }
                        return std::clamp(-along / plane[2], -cap, cap);
                    };
                    // Depth steps to the same surface in the neighbouring pixels, if any: of the
                    // neighbour's samples within the steepest slope, the one nearest the step the
                    // normal's plane expects (not merely the nearest in depth: at an edge a
                    // neighbour holds both faces).
                    const double limit = steepest * relative + 4e-6;
                    const auto step = [&](std::int32_t r, std::int32_t c, double expect,
                                          double& found) {
                        if (r < 0 || r >= h || c < 0 || c >= w) {
                            return false;
                        }
                        const PixelSpan s = span(r, c);
                        double best = std::numeric_limits<double>::infinity();
                        for (std::int64_t j = s.first; j < s.end; ++j) {
                            const double d = static_cast<double>(depthOf(word(j))) - z;
                            if (std::fabs(d) <= limit && std::fabs(d - expect) < best) {
                                best = std::fabs(d - expect);
                                found = d;
                            }
                        }
                        return best < std::numeric_limits<double>::infinity();
                    };
                    // Forward and backward steps of the same surface: their mean where they
                    // agree, else the one nearer the normal's plane (an edge between two faces),
                    // else the normal's plane alone.
                    const auto slope = [&](double forward, bool hasForward, double backward,
                                           bool hasBackward, double guess) {
                        if (hasForward && hasBackward) {
                            if (forward * backward > 0.0 &&
                                std::fabs(forward - backward) <=
                                    0.5 * std::max(std::fabs(forward), std::fabs(backward))) {
                                return 0.5 * (forward + backward);
                            }
                            return std::fabs(forward - guess) <= std::fabs(backward - guess)
                                       ? forward
                                       : backward;
                        }
                        if (hasForward) {
                            return forward;
                        }
                        return hasBackward ? backward : guess;
                    };
                    double right = 0.0;
                    double left = 0.0;
                    double above = 0.0;
                    double below = 0.0;
                    const double guessU = predicted(plane[0]);
                    const double guessV = predicted(plane[1]);
                    const bool hasRight = step(row, column + 1, guessU, right);
                    const bool hasLeft = step(row, column - 1, -guessU, left);
                    const bool hasAbove = step(row + 1, column, guessV, above);
                    const bool hasBelow = step(row - 1, column, -guessV, below);
                    const double du = slope(right, hasRight, -left, hasLeft, guessU);
                    const double dv = slope(above, hasAbove, -below, hasBelow, guessV);
                    const auto index = static_cast<std::size_t>(i);
                    out.perColumn[index] = static_cast<float>(du);
                    out.perRow[index] = static_cast<float>(dv);
                    out.openEdges[index] = static_cast<std::uint8_t>(
                        (hasRight ? 0 : kOpenRight) | (hasLeft ? 0 : kOpenLeft) |
                        (hasAbove ? 0 : kOpenUp) | (hasBelow ? 0 : kOpenDown));
                    // The measured plane's normal, turned toward the reference camera, against
                    // the stored one; where the two planes disagree (a slope taken across an
                    // edge), the stored normal against the ray alone.
                    const Vec4d measured = t.planeToWorld({du, dv, -1.0, z - du * u - dv * v});
                    const double length =
                        std::sqrt(measured[0] * measured[0] + measured[1] * measured[1] +
                                  measured[2] * measured[2]);
                    const Vec4d ray{eye.x - world[0], eye.y - world[1], eye.z - world[2], 0.0};
                    const double rayLength =
                        std::sqrt(ray[0] * ray[0] + ray[1] * ray[1] + ray[2] * ray[2]);
                    double agree = 0.0;
                    if (length > 0.0) {
                        const double toEye =
                            measured[0] * ray[0] + measured[1] * ray[1] + measured[2] * ray[2];
                        agree = dot3(measured, n) / length * (toEye < 0.0 ? -1.0 : 1.0);
                    }
                    if (std::fabs(agree) < kSureFacing && rayLength > 0.0) {
                        agree = dot3(ray, n) / rayLength;
                    }
                    agreement[index] = static_cast<float>(agree);
                }
            }
        }
    });

    // Sides, pixel by pixel: layers are stored farthest first, so the front sample is last.
    for (std::int32_t row = 0; row < h; ++row) {
        for (std::int32_t column = 0; column < w; ++column) {
            const PixelSpan s = span(row, column);
            if (s.end <= s.first) {
                continue;
            }
            // A front sample faces the camera that saw it. When its stored normal says otherwise,
            // nobody oriented this pixel's normals: its hidden samples are two-sided.
            const bool trusted = agreement[static_cast<std::size_t>(s.end - 1)] >= -kWrongFront;
            const auto stored = [&](std::int64_t i) {
                if (i == s.end - 1) {
                    return 1;
                }
                const float a = agreement[static_cast<std::size_t>(i)];
                return !trusted ? 0 : a > kSureFacing ? 1 : a < -kSureFacing ? -1 : 0;
            };
            // Along the ray, surfaces of closed objects alternate: one seen edge-on just behind
            // a surface facing the camera is where the ray leaves that object.
            const auto facing = [&](std::int64_t i) {
                const int f = stored(i);
                return f == 0 && trusted && i + 1 < s.end && stored(i + 1) > 0 ? -1 : f;
            };
            for (std::int64_t i = s.first; i < s.end; ++i) {
                const int f = facing(i);
                CullSide& side = out.side[static_cast<std::size_t>(i)];
                if (f < 0) {
                    side = CullSide::whenUpright;
                } else if (f > 0 && i > s.first && facing(i - 1) < 0) {
                    // The front of a closed surface: the next sample behind leaves it.
                    side = CullSide::whenMirrored;
                }
            }
        }
    }
}

}  // namespace strata::ldi
