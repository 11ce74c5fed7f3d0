#include "maker/view_fusion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <tuple>

#include "maker/row_runner.h"
#include "maker/texture.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

namespace strata::maker {

using geometry::Vector3;

namespace {

// Pixel centres this close outside a triangle's edge (in pixels) still belong to it, so that a
// centre on a shared edge or corner is never lost between two triangles.
constexpr double kEdgeMargin = 1e-3;

// The edge function of the line through p and q at (x, y), with p and q taken in a fixed order
// (the lesser by x, then y, first), so that the two triangles on an edge get the same value.
double canonicalEdge(const SplatCorner& p, const SplatCorner& q, double x, double y) {
    const bool swap = q.x < p.x || (q.x == p.x && q.y < p.y);
    const SplatCorner& first = swap ? q : p;
    const SplatCorner& second = swap ? p : q;
    return (second.x - first.x) * (y - first.y) - (second.y - first.y) * (x - first.x);
}

// Fragments in a fixed order whatever order they were made in: nearest first, ties broken by
// every other field.
bool fragmentBefore(const Fragment& a, const Fragment& b) {
    return std::tie(a.depth, a.colour, a.weight, a.reach, a.normal.x, a.normal.y, a.normal.z) <
           std::tie(b.depth, b.colour, b.weight, b.reach, b.normal.x, b.normal.y, b.normal.z);
}

std::uint32_t packRounded(double red, double green, double blue) {
    const auto channel = [](double v) {
        return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L));
    };
    return channel(red) << 16 | channel(green) << 8 | channel(blue);
}

// One surface of a pixel while its fragments are summed.
struct Surface {
    double weight = 0.0;
    double depth = 0.0;  // weighted sums
    double linear[3] = {0.0, 0.0, 0.0};
    Vector3 normal;
    std::uint32_t firstColour = 0;
    bool oneColour = true;
    float reach = 0.0f;  // the largest reach of its fragments

    double meanDepth() const { return depth / weight; }

    // Whether a fragment no nearer than every one summed so far belongs to the surface.
    bool holds(const Fragment& f, float tolerance) const {
        const double mean = meanDepth();
        return f.depth - mean <= std::max<double>(tolerance * mean, std::max(reach, f.reach));
    }

    void add(const Fragment& f) {
        if (weight == 0.0) {
            firstColour = f.colour;
        } else if (f.colour != firstColour) {
            oneColour = false;
        }
        reach = std::max(reach, f.reach);
        const std::array<float, 256>& linearOf = linearOfByte();
        weight += f.weight;
        depth += static_cast<double>(f.weight) * f.depth;
        linear[0] += static_cast<double>(f.weight) * linearOf[(f.colour >> 16) & 0xFFu];
        linear[1] += static_cast<double>(f.weight) * linearOf[(f.colour >> 8) & 0xFFu];
        linear[2] += static_cast<double>(f.weight) * linearOf[f.colour & 0xFFu];
        normal.add(f.normal * f.weight);
    }

    std::uint32_t colour() const {
        if (oneColour) {
            return firstColour;
        }
        const auto encode = [this](int k) {
            return 255.0 * linearToSrgb(static_cast<float>(linear[k] / weight));
        };
        return packRounded(encode(0), encode(1), encode(2));
    }
};

// Whether an offset in a point's tangent plane lies no farther than half-way (and a tenth) to
// the neighbour lying farthest in its direction.
bool withinShape(const FootprintShape& shape, const Vector3& offset) {
    const float a = geometry::dot(offset, shape.across);
    const float b = geometry::dot(offset, shape.along);
    const float length2 = a * a + b * b;
    float reach = 0.0f;
    for (std::size_t i = 0; i + 1 < shape.offsets.size(); i += 2) {
        reach = std::max(reach, a * shape.offsets[i] + b * shape.offsets[i + 1]);
    }
    return 2.0f * length2 <= 1.1f * reach * (shape.scale / 127.0f);
}

struct FuseContext {
    const GridView& grid;
    const SampleOptions& options;
    const FusionOptions& fusion;
    const std::vector<Fragment>& sorted;      // by pixel
    const std::vector<std::uint32_t>& start;  // first fragment of each pixel, and the end
};

LayerSample layerOf(const FuseContext& context, std::int32_t row, std::int32_t column,
                    const Surface& surface) {
    const PinholeCamera& camera = context.grid.camera();
    const Vector3 ray = context.grid.ray(column + 0.5, row + 0.5);
    LayerSample sample;
    sample.depth = static_cast<float>(surface.meanDepth());
    sample.position = camera.pos + ray * sample.depth;
    sample.distance = ray.length() * sample.depth;
    const float length = surface.normal.length();
    sample.normal =
        length > 1e-6f ? surface.normal * (1.0f / length) : geometry::normalized(ray) * -1.0f;
    sample.colour = surface.colour();
    if (context.fusion.shading.mode != ShadingMode::unlit) {
        const Colour captured{static_cast<float>((sample.colour >> 16) & 0xFFu) / 255.0f,
                              static_cast<float>((sample.colour >> 8) & 0xFFu) / 255.0f,
                              static_cast<float>(sample.colour & 0xFFu) / 255.0f};
        sample.colour = packPixel(shade(captured, sample.normal, context.fusion.shading));
    }
    return sample;
}

void fuseRow(const FuseContext& context, std::int32_t row, std::vector<Fragment>& scratch,
             std::vector<Surface>& surfaces, LayerRow& result) {
    const std::int32_t width = context.grid.width();
    const float tolerance = context.fusion.depthTolerance;
    const auto maxLayers = static_cast<std::size_t>(context.options.maxLayers);
    result.counts.assign(static_cast<std::size_t>(width), 0);
    for (std::int32_t column = 0; column < width; ++column) {
        const std::size_t pixel = static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                                  static_cast<std::size_t>(column);
        const std::uint32_t begin = context.start[pixel];
        const std::uint32_t end = context.start[pixel + 1];
        if (begin == end) {
            continue;
        }
        scratch.assign(context.sorted.begin() + begin, context.sorted.begin() + end);
        std::sort(scratch.begin(), scratch.end(), fragmentBefore);
        // Nearest first: a fragment joins the surface being summed while it lies within the
        // tolerance of the surface's mean depth (or within the reach of its own footprint or of
        // one already summed); the nearest maxLayers surfaces are kept.
        surfaces.clear();
        for (const Fragment& f : scratch) {
            if (!surfaces.empty() && surfaces.back().holds(f, tolerance)) {
                surfaces.back().add(f);
                continue;
            }
            if (surfaces.size() == maxLayers) {
                break;
            }
            surfaces.emplace_back();
            surfaces.back().add(f);
        }
        // Farthest first in storage.
        for (std::size_t k = surfaces.size(); k-- > 0;) {
            LayerSample sample = layerOf(context, row, column, surfaces[k]);
            if (context.options.coverage) {
                sample.mask4 = 0xFFFF;
                sample.mask2 = 0xF;
                sample.sub4Start = static_cast<std::uint32_t>(result.sub4.size());
                sample.sub2Start = static_cast<std::uint32_t>(result.sub2.size());
                result.sub4.insert(result.sub4.end(), 16, sample.colour);
                result.sub2.insert(result.sub2.end(), 4, sample.colour);
            }
            result.samples.push_back(sample);
        }
        result.counts[static_cast<std::size_t>(column)] =
            static_cast<std::uint32_t>(surfaces.size());
    }
}

}  // namespace

GridView::GridView(const PinholeCamera& camera, std::int32_t width, std::int32_t height)
    : camera_(camera), side_(camera.side()), width_(width), height_(height) {
    const double t = std::tan(static_cast<double>(camera.fov) * 0.5);
    scaleX_ = width / (2.0 * t);
    scaleY_ = height / (2.0 * t);
}

bool GridView::project(const Vector3& p, double& x, double& y, double& depth) const {
    const Vector3 d = p - camera_.pos;
    depth = geometry::dot(d, camera_.dir);
    if (!(depth > 0.0)) {
        return false;
    }
    x = width_ * 0.5 + scaleX_ * geometry::dot(d, side_) / depth;
    y = height_ * 0.5 + scaleY_ * geometry::dot(d, camera_.up) / depth;
    return std::isfinite(x) && std::isfinite(y);
}

Vector3 GridView::ray(double x, double y) const {
    return camera_.dir + side_ * static_cast<float>((x - width_ * 0.5) / scaleX_) +
           camera_.up * static_cast<float>((y - height_ * 0.5) / scaleY_);
}

FragmentSink::FragmentSink(const GridView& grid)
    : grid_(grid), near_(grid.camera().near), far_(grid.camera().far) {}

void FragmentSink::add(std::int32_t column, std::int32_t row, double depth, std::uint32_t colour,
                       const Vector3& normal, float weight) {
    if ((near_ > 0.0f && depth < near_) || (far_ > 0.0f && depth > far_) || !(depth > 0.0)) {
        ++outside;
        return;
    }
    fragments.push_back(
        {static_cast<std::uint32_t>(row) * static_cast<std::uint32_t>(grid_.width()) +
             static_cast<std::uint32_t>(column),
         static_cast<float>(depth), weight, colour, normal, reach_});
}

void FragmentSink::triangle(const SplatCorner& a, const SplatCorner& b, const SplatCorner& c,
                            const Vector3& normal, float weight, unsigned sharedEdges) {
    if (!(a.depth > 0.0 && b.depth > 0.0 && c.depth > 0.0)) {
        return;
    }
    const double area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    if (!(std::fabs(area) > 1e-12) || !std::isfinite(area)) {
        return;  // seen edge-on
    }
    const double sign = area > 0.0 ? 1.0 : -1.0;
    const double yMin = std::min({a.y, b.y, c.y});
    const double yMax = std::max({a.y, b.y, c.y});
    const double rowFirst = std::max(0.0, std::ceil(yMin - 0.5 - kEdgeMargin));
    const double rowLast = std::min(grid_.height() - 1.0, std::floor(yMax - 0.5 + kEdgeMargin));
    const SplatCorner* corners[3] = {&a, &b, &c};
    // Shared edges: the side of each that is this triangle's, in the edge's own orientation
    // (from its lesser corner), which both triangles sharing it work out bit for bit alike.
    double sharedSide[3] = {0.0, 0.0, 0.0};
    for (int e = 0; e < 3; ++e) {
        if ((sharedEdges >> e & 1u) != 0) {
            const SplatCorner& opposite = *corners[e];
            sharedSide[e] = canonicalEdge(*corners[(e + 1) % 3], *corners[(e + 2) % 3], opposite.x,
                                          opposite.y) > 0.0
                                ? 1.0
                                : -1.0;
        }
    }
    for (double rowValue = rowFirst; rowValue <= rowLast; rowValue += 1.0) {
        const double yc = rowValue + 0.5;
        // The columns whose centres lie on the inner side of all three edges.
        double left = -std::numeric_limits<double>::infinity();
        double right = std::numeric_limits<double>::infinity();
        bool empty = false;
        for (int e = 0; e < 3; ++e) {
            const SplatCorner& p = *corners[(e + 1) % 3];
            const SplatCorner& q = *corners[(e + 2) % 3];
            // Edge function, positive inside: sign ((q - p) x (centre - p)) = slope x + offset.
            const double slope = -sign * (q.y - p.y);
            const double offset = sign * ((q.x - p.x) * (yc - p.y) + (q.y - p.y) * p.x);
            const double margin = kEdgeMargin * std::hypot(q.x - p.x, q.y - p.y);
            if (slope > 0.0) {
                left = std::max(left, (-margin - offset) / slope);
            } else if (slope < 0.0) {
                right = std::min(right, (-margin - offset) / slope);
            } else if (offset < -margin) {
                empty = true;
            }
        }
        if (empty || !(left <= right)) {
            continue;
        }
        const double columnFirst = std::max(0.0, std::ceil(left - 0.5));
        const double columnLast = std::min(grid_.width() - 1.0, std::floor(right - 0.5));
        for (double columnValue = columnFirst; columnValue <= columnLast; columnValue += 1.0) {
            const double xc = columnValue + 0.5;
            // A centre on a corner belongs to the corner's own fragment, made by the caller.
            if ((std::fabs(xc - a.x) <= kEdgeMargin && std::fabs(yc - a.y) <= kEdgeMargin) ||
                (std::fabs(xc - b.x) <= kEdgeMargin && std::fabs(yc - b.y) <= kEdgeMargin) ||
                (std::fabs(xc - c.x) <= kEdgeMargin && std::fabs(yc - c.y) <= kEdgeMargin)) {
                continue;
            }
            // On a shared edge (or across it) the centre is the other triangle's when it lies
            // on the negative side of the edge's own orientation.
            bool mine = true;
            for (int e = 0; e < 3 && mine; ++e) {
                if (sharedSide[e] != 0.0) {
                    const double side =
                        sharedSide[e] *
                        canonicalEdge(*corners[(e + 1) % 3], *corners[(e + 2) % 3], xc, yc);
                    mine = side > 0.0 || (side == 0.0 && sharedSide[e] > 0.0);
                }
            }
            if (!mine) {
                continue;
            }
            // Screen-space barycentric weights, then perspective-correct ones through 1 / depth.
            double lambda[3];
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) {
                const SplatCorner& p = *corners[(k + 1) % 3];
                const SplatCorner& q = *corners[(k + 2) % 3];
                lambda[k] =
                    std::max(0.0, ((p.x - xc) * (q.y - yc) - (q.x - xc) * (p.y - yc)) / area);
                sum += lambda[k];
            }
            if (!(sum > 0.0)) {
                continue;
            }
            double inverseDepth = 0.0;
            for (int k = 0; k < 3; ++k) {
                lambda[k] = lambda[k] / sum / corners[k]->depth;
                inverseDepth += lambda[k];
            }
            double rgb[3] = {0.0, 0.0, 0.0};
            for (int k = 0; k < 3; ++k) {
                const double share = lambda[k] / inverseDepth;
                rgb[0] += share * corners[k]->red;
                rgb[1] += share * corners[k]->green;
                rgb[2] += share * corners[k]->blue;
            }
            add(static_cast<std::int32_t>(columnValue), static_cast<std::int32_t>(rowValue),
                1.0 / inverseDepth, packRounded(rgb[0], rgb[1], rgb[2]), normal, weight);
        }
    }
}

void FragmentSink::square(double x, double y, double depth, double halfX, double halfY,
                          std::uint32_t colour, const Vector3& normal, float weight) {
    if (!(depth > 0.0) || !std::isfinite(x) || !std::isfinite(y)) {
        return;
    }
    const double width = grid_.width();
    const double height = grid_.height();
    const double holdX = std::floor(x);
    const double holdY = std::floor(y);
    const double columnFirst = std::max(0.0, std::min(holdX, std::ceil(x - halfX - 0.5)));
    const double columnLast = std::min(width - 1.0, std::max(holdX, std::floor(x + halfX - 0.5)));
    const double rowFirst = std::max(0.0, std::min(holdY, std::ceil(y - halfY - 0.5)));
    const double rowLast = std::min(height - 1.0, std::max(holdY, std::floor(y + halfY - 0.5)));
    for (double row = rowFirst; row <= rowLast; row += 1.0) {
        for (double column = columnFirst; column <= columnLast; column += 1.0) {
            add(static_cast<std::int32_t>(column), static_cast<std::int32_t>(row), depth, colour,
                normal, weight);
        }
    }
}

void FragmentSink::disc(const Vector3& centre, const Vector3& normal, float radius,
                        std::uint32_t colour, float weight, const FootprintShape* shape) {
    double x = 0.0;
    double y = 0.0;
    double depth = 0.0;
    if (!grid_.project(centre, x, y, depth)) {
        return;
    }
    const PinholeCamera& camera = grid_.camera();
    // A bound of the disc's image: its radius seen at its nearest possible depth.
    const double nearest = std::max(depth - radius, depth * 0.5);
    const double reachX = grid_.scaleX() * radius / nearest;
    const double reachY = grid_.scaleY() * radius / nearest;
    const bool oriented = normal.squaredLength() > 0.5f;
    const Vector3 outward = oriented ? normal : geometry::normalized(camera.pos - centre);
    const double holdX = std::floor(x);
    const double holdY = std::floor(y);
    const double columnFirst = std::max(0.0, std::min(holdX, std::ceil(x - reachX - 0.5)));
    const double columnLast =
        std::min(grid_.width() - 1.0, std::max(holdX, std::floor(x + reachX - 0.5)));
    const double rowFirst = std::max(0.0, std::min(holdY, std::ceil(y - reachY - 0.5)));
    const double rowLast =
        std::min(grid_.height() - 1.0, std::max(holdY, std::floor(y + reachY - 0.5)));
    const double radius2 = static_cast<double>(radius) * radius;
    const double planeDistance = geometry::dot(centre - camera.pos, outward);
    reach_ = 2.0f * radius;
    for (double row = rowFirst; row <= rowLast; row += 1.0) {
        for (double column = columnFirst; column <= columnLast; column += 1.0) {
            const bool holding = column == holdX && row == holdY;
            // The offset from the centre, as a share of the radius, squared.
            const double dx = (column + 0.5 - x) / reachX;
            const double dy = (row + 0.5 - y) / reachY;
            double share2 = dx * dx + dy * dy;
            double at = depth;
            if (oriented) {
                // Where the pixel's ray meets the disc's plane (seen edge-on, nowhere near it).
                const Vector3 ray = grid_.ray(column + 0.5, row + 0.5);
                const double meet = planeDistance / geometry::dot(ray, outward);
                const Vector3 offset = camera.pos + ray * static_cast<float>(meet) - centre;
                if (std::isfinite(meet) && offset.squaredLength() <= radius2 &&
                    (shape == nullptr || withinShape(*shape, offset))) {
                    at = meet;
                    share2 = offset.squaredLength() / radius2;
                } else if (!holding) {
                    continue;
                }
            } else if (!holding && share2 > 1.0) {
                continue;
            }
            // Points nearer the pixel centre count for much more, so that where footprints
            // overlap the colour stays that of the nearest point rather than a blur.
            const auto falloff = static_cast<float>(std::exp(-8.0 * std::min(share2, 1.0)));
            add(static_cast<std::int32_t>(column), static_cast<std::int32_t>(row), at, colour,
                outward, weight * falloff);
        }
    }
    reach_ = 0.0f;
}

bool carryAndFuse(const PinholeCamera& camera, const SampleOptions& options,
                  const FusionOptions& fusion, int pieces, std::int64_t sourceItems,
                  const std::function<void(int piece, FragmentSink& sink)>& carry,
                  LayeredImage& out, std::string& error) {
    if (!checkSampleOptions(options, error)) {
        return false;
    }
    const std::int64_t start = platform::steadyNanoseconds();
    const GridView grid(camera, options.width, options.height);
    std::vector<FragmentSink> sinks(static_cast<std::size_t>(pieces), FragmentSink(grid));
    runRows(
        pieces, options.threads,
        [&](int piece) { carry(piece, sinks[static_cast<std::size_t>(piece)]); }, options.progress);
    if (!fuseFragments(sinks, grid, options, fusion, sourceItems, out, error)) {
        return false;
    }
    out.stats.seconds =
        static_cast<double>(platform::steadyNanoseconds() - start) / platform::kCounterFrequency;
    return true;
}

bool fuseFragments(std::vector<FragmentSink>& sinks, const GridView& grid,
                   const SampleOptions& options, const FusionOptions& fusion,
                   std::int64_t sourceItems, LayeredImage& out, std::string& error) {
    const std::size_t pixels =
        static_cast<std::size_t>(grid.width()) * static_cast<std::size_t>(grid.height());
    std::int64_t total = 0;
    std::int64_t outside = 0;
    for (const FragmentSink& sink : sinks) {
        total += static_cast<std::int64_t>(sink.fragments.size());
        outside += sink.outside;
    }
    if (total > std::numeric_limits<std::int32_t>::max()) {
        error = platform::formatString("%lld fragments are more than one grid can fuse",
                                       static_cast<long long>(total));
        return false;
    }
    // Fragments ordered by pixel (a counting sort), each sink's memory released once copied.
    std::vector<std::uint32_t> start(pixels + 1, 0);
    for (const FragmentSink& sink : sinks) {
        for (const Fragment& f : sink.fragments) {
            ++start[f.pixel + 1];
        }
    }
    for (std::size_t p = 0; p < pixels; ++p) {
        start[p + 1] += start[p];
    }
    std::vector<Fragment> sorted(static_cast<std::size_t>(total));
    {
        std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
        for (FragmentSink& sink : sinks) {
            for (const Fragment& f : sink.fragments) {
                sorted[next[f.pixel]++] = f;
            }
            std::vector<Fragment>().swap(sink.fragments);
        }
    }
    out = LayeredImage{};
    const FuseContext context{grid, options, fusion, sorted, start};
    std::vector<LayerRow> rows(static_cast<std::size_t>(grid.height()));
    runRows(
        grid.height(), options.threads,
        [&](int row) {
            std::vector<Fragment> scratch;
            std::vector<Surface> surfaces;
            fuseRow(context, row, scratch, surfaces, rows[static_cast<std::size_t>(row)]);
        },
        nullptr);
    out.width = grid.width();
    out.height = grid.height();
    out.camera = grid.camera();
    out.mergeTolerance = 0.0f;
    out.stats.rays = sourceItems;
    out.stats.hits = total;
    out.stats.hitsOutside = outside;
    return gatherRows(rows, out, error);
}

}  // namespace strata::maker
