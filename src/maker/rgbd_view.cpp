#include "maker/rgbd_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "geometry/frame_tangents.h"
#include "imageutil/depth_image.h"
#include "maker/row_runner.h"
#include "maker/texture.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

namespace strata::maker {

using geometry::Vector3;

namespace {

// Rows of a picture carried by one piece of work.
constexpr std::int32_t kBandRows = 16;
// The weight of a pixel joined to no neighbour: its orientation is not known.
constexpr float kLoneWeight = 0.25f;
// A corner this close to a grid pixel centre (in pixels) lies on it.
constexpr double kCornerMargin = 1e-3;

// The unit ray of pixel (column, row from the bottom) of a view's picture, before normalising.
struct ViewRays {
    Vector3 pos;
    Vector3 dir;
    Vector3 side;
    Vector3 up;
    double fx;
    double fy;
    double cx;
    double cy;
    std::int32_t height;

    explicit ViewRays(const RgbdView& view)
        : pos(view.camera.pos),
          dir(view.camera.dir),
          side(geometry::normalized(geometry::cross(view.camera.dir, view.camera.up))),
          up(view.camera.up),
          fx(view.camera.fx),
          fy(view.camera.fy),
          cx(view.camera.cx),
          cy(view.camera.cy),
          height(view.height) {}

    Vector3 point(std::int32_t column, std::int32_t row, float depth) const {
        const auto tx = static_cast<float>((column - cx) / fx);
        const auto ty = static_cast<float>((cy - (height - 1 - row)) / fy);
        return pos + (dir + side * tx + up * ty) * depth;
    }
};

bool joined(float a, float b, float ratio) {
    return std::isfinite(a) && std::isfinite(b) &&
           std::max(a, b) <= std::min(a, b) * (1.0f + ratio);
}

float gap(float a, float b) {
    return std::isfinite(a) && std::isfinite(b) ? (std::max(a, b) - std::min(a, b)) / std::min(a, b)
                                                : std::numeric_limits<float>::infinity();
}

// The two triangles of a square of pixels: corners 0 (row, column), 1 (row, column + 1),
// 2 (row + 1, column), 3 (row + 1, column + 1).
struct SquareSplit {
    std::array<std::array<int, 3>, 2> triangles;
    std::array<bool, 2> kept;
    unsigned corners = 0;  // bit k: corner k lies in a kept triangle
};

SquareSplit splitSquare(const std::array<float, 4>& d, float ratio) {
    const bool alongA = joined(d[0], d[3], ratio);
    const bool alongB = joined(d[1], d[2], ratio);
    const bool useA = alongA != alongB ? alongA : gap(d[0], d[3]) <= gap(d[1], d[2]);
    SquareSplit split;
    split.triangles = useA ? std::array<std::array<int, 3>, 2>{{{0, 1, 3}, {0, 3, 2}}}
                           : std::array<std::array<int, 3>, 2>{{{0, 1, 2}, {1, 3, 2}}};
    for (int t = 0; t < 2; ++t) {
        const auto& c = split.triangles[static_cast<std::size_t>(t)];
        const bool kept =
            joined(d[static_cast<std::size_t>(c[0])], d[static_cast<std::size_t>(c[1])], ratio) &&
            joined(d[static_cast<std::size_t>(c[1])], d[static_cast<std::size_t>(c[2])], ratio) &&
            joined(d[static_cast<std::size_t>(c[0])], d[static_cast<std::size_t>(c[2])], ratio);
        split.kept[static_cast<std::size_t>(t)] = kept;
        if (kept) {
            split.corners |= 1u << c[0] | 1u << c[1] | 1u << c[2];
        }
    }
    return split;
}

// One pixel of a view as carried into the grid.
struct Carried {
    SplatCorner corner;
    Vector3 world;
    float depth = std::numeric_limits<float>::infinity();  // in the view; infinite: none
    bool inGrid = false;                                   // in front of the grid's eye
};

bool onPixelCentre(const SplatCorner& corner) {
    const double x = corner.x - 0.5;
    const double y = corner.y - 0.5;
    return std::fabs(x - std::round(x)) <= kCornerMargin &&
           std::fabs(y - std::round(y)) <= kCornerMargin;
}

// The normal of the depth map's plane at a pixel (differences to the neighbours joined to it,
// across the columns and up the rows, both sides where it can), facing the view's camera, and
// how squarely the camera sees it. Without a joined neighbour on either axis, the pixel faces
// the camera.
template <typename At>
float localPlane(const ViewRays& rays, const At& at, std::int32_t row, std::int32_t column,
                 const RgbdView& view, float ratio, Vector3& normal) {
    const auto& c = at(row, column);
    const auto step = [&](std::int32_t dRow, std::int32_t dColumn) {
        const std::int32_t r = row + dRow;
        const std::int32_t k = column + dColumn;
        if (r < 0 || k < 0 || r >= view.height || k >= view.width) {
            return Vector3{};
        }
        const auto& n = at(r, k);
        return joined(c.depth, n.depth, ratio) ? n.world - c.world : Vector3{};
    };
    const Vector3 across = step(0, 1) - step(0, -1);
    const Vector3 up = step(1, 0) - step(-1, 0);
    const Vector3 sight = geometry::normalized(c.world - rays.pos);
    normal = geometry::cross(across, up);
    const float length = normal.length();
    if (!(length > 0.0f) || !std::isfinite(length)) {
        normal = -sight;
        return kLoneWeight;
    }
    normal = normal * (1.0f / length);
    float facing = geometry::dot(normal, sight);
    if (facing > 0.0f) {
        normal = -normal;
        facing = -facing;
    }
    return std::max(kMinFragmentWeight, -facing);
}

// Carries rows [row0, row1) of a view into the grid: the triangles of the squares whose lower
// row lies there, and the pixels of those rows that are in no kept triangle.
void carryBand(const RgbdView& view, std::int32_t row0, std::int32_t row1, float ratio,
               const GridView& grid, FragmentSink& sink) {
    const ViewRays rays(view);
    const std::int32_t width = view.width;
    const std::int32_t first = std::max(row0 - 1, 0);
    const std::int32_t last = std::min(row1 + 1, view.height - 1);
    const auto columns = static_cast<std::size_t>(width);
    std::vector<Carried> pixels(static_cast<std::size_t>(last - first + 1) * columns);
    const auto at = [&](std::int32_t row, std::int32_t column) -> Carried& {
        return pixels[static_cast<std::size_t>(row - first) * columns +
                      static_cast<std::size_t>(column)];
    };
    for (std::int32_t row = first; row <= last; ++row) {
        for (std::int32_t column = 0; column < width; ++column) {
            const std::size_t index =
                static_cast<std::size_t>(row) * columns + static_cast<std::size_t>(column);
            Carried& c = at(row, column);
            c.depth = view.depth[index];
            if (!std::isfinite(c.depth)) {
                continue;
            }
            c.world = rays.point(column, row, c.depth);
            c.inGrid = grid.project(c.world, c.corner.x, c.corner.y, c.corner.depth);
            if (!c.inGrid) {
                c.corner.depth = 0.0;
            }
            c.corner.red = view.rgb[3 * index];
            c.corner.green = view.rgb[3 * index + 1];
            c.corner.blue = view.rgb[3 * index + 2];
        }
    }
    // The squares whose lower row is in rows first .. last - 1, split once: which triangles are
    // kept, and which are drawn (kept, with every corner before the grid's eye).
    struct Square {
        SquareSplit split;
        bool drawn[2] = {false, false};
    };
    const std::size_t squareColumns = columns > 1 ? columns - 1 : 0;
    std::vector<Square> squares(static_cast<std::size_t>(last - first) * squareColumns);
    for (std::int32_t row = first; row < last; ++row) {
        for (std::int32_t column = 0; column + 1 < width; ++column) {
            Square& square = squares[static_cast<std::size_t>(row - first) * squareColumns +
                                     static_cast<std::size_t>(column)];
            square.split = splitSquare({at(row, column).depth, at(row, column + 1).depth,
                                        at(row + 1, column).depth, at(row + 1, column + 1).depth},
                                       ratio);
            const Carried* corner[4] = {&at(row, column), &at(row, column + 1),
                                        &at(row + 1, column), &at(row + 1, column + 1)};
            for (std::size_t t = 0; t < 2; ++t) {
                square.drawn[t] =
                    square.split.kept[t] &&
                    std::all_of(square.split.triangles[t].begin(), square.split.triangles[t].end(),
                                [&](int k) { return corner[k]->inGrid; });
            }
        }
    }
    // The square at (row, column), or none outside the picture or the rows split.
    const auto squareAt = [&](std::int32_t row, std::int32_t column) -> const Square* {
        if (row < first || row >= last || column < 0 || column + 1 >= width) {
            return nullptr;
        }
        return &squares[static_cast<std::size_t>(row - first) * squareColumns +
                        static_cast<std::size_t>(column)];
    };
    const auto drawn = [&](std::int32_t row, std::int32_t column, std::size_t t) {
        const Square* square = squareAt(row, column);
        return square != nullptr && square->drawn[t];
    };
    // Triangles of the squares whose lower row is in the band.
    for (std::int32_t row = row0; row < row1 && row + 1 < view.height; ++row) {
        for (std::int32_t column = 0; column + 1 < width; ++column) {
            const SquareSplit& split = squareAt(row, column)->split;
            const Carried* corner[4] = {&at(row, column), &at(row, column + 1),
                                        &at(row + 1, column), &at(row + 1, column + 1)};
            for (std::size_t t = 0; t < 2; ++t) {
                if (!drawn(row, column, t)) {
                    continue;
                }
                // Which edges another drawn triangle shares: the edge opposite each corner.
                const auto shared = [&](int u, int v) {
                    const int low = std::min(u, v);
                    const int high = std::max(u, v);
                    if ((low == 0 && high == 3) || (low == 1 && high == 2)) {
                        return drawn(row, column, 1 - t);  // the diagonal
                    }
                    if (low == 0 && high == 1) {
                        return drawn(row - 1, column, 1);  // below: its upper edge
                    }
                    if (low == 2 && high == 3) {
                        return drawn(row + 1, column, 0);  // above: its lower edge
                    }
                    // Left (0-2): the square to the left, its right edge; right (1-3) likewise.
                    const bool left = low == 0;
                    const Square* next = squareAt(row, left ? column - 1 : column + 1);
                    if (next == nullptr) {
                        return false;
                    }
                    const bool nextAlongA = next->split.triangles[0][2] == 3;
                    return next->drawn[left == nextAlongA ? 0 : 1];
                };
                const auto& k = split.triangles[t];
                const unsigned sharedEdges = (shared(k[1], k[2]) ? 1u : 0u) |
                                             (shared(k[2], k[0]) ? 2u : 0u) |
                                             (shared(k[0], k[1]) ? 4u : 0u);
                const Carried& a = *corner[split.triangles[t][0]];
                const Carried& b = *corner[split.triangles[t][1]];
                const Carried& c = *corner[split.triangles[t][2]];
                if (!(a.inGrid && b.inGrid && c.inGrid)) {
                    continue;
                }
                // The plane of the triangle, facing the view's camera.
                Vector3 normal = geometry::cross(b.world - a.world, c.world - a.world);
                const float length = normal.length();
                if (!(length > 0.0f) || !std::isfinite(length)) {
                    continue;
                }
                normal = normal * (1.0f / length);
                const Vector3 sight =
                    geometry::normalized((a.world + b.world + c.world) * (1.0f / 3.0f) - rays.pos);
                float facing = geometry::dot(normal, sight);
                if (facing > 0.0f) {
                    normal = -normal;
                    facing = -facing;
                }
                sink.triangle(a.corner, b.corner, c.corner, normal,
                              std::max(kMinFragmentWeight, -facing), sharedEdges);
            }
        }
    }
    // Pixels joined to no neighbour: squares of their own size. Pixels in a triangle that land
    // on a pixel centre of the grid: that centre, once (the triangles leave their corners out,
    // so a view carried into its own grid gives one fragment a pixel).
    for (std::int32_t row = row0; row < row1; ++row) {
        for (std::int32_t column = 0; column < width; ++column) {
            const Carried& c = at(row, column);
            if (!c.inGrid) {
                continue;
            }
            // The corner this pixel is of each square around it: 0 of the one above right,
            // 1 above left, 2 below right, 3 below left.
            unsigned inTriangle = 0;
            const std::pair<int, int> around[4] = {{0, 0}, {0, -1}, {-1, 0}, {-1, -1}};
            for (unsigned k = 0; k < 4; ++k) {
                const Square* square = squareAt(row + around[k].first, column + around[k].second);
                if (square != nullptr) {
                    inTriangle |= square->split.corners & 1u << k;
                }
            }
            if (inTriangle != 0 && !onPixelCentre(c.corner)) {
                continue;
            }
            const std::size_t index =
                static_cast<std::size_t>(row) * columns + static_cast<std::size_t>(column);
            const std::uint32_t colour = std::uint32_t{view.rgb[3 * index]} << 16 |
                                         std::uint32_t{view.rgb[3 * index + 1]} << 8 |
                                         std::uint32_t{view.rgb[3 * index + 2]};
            if (inTriangle != 0) {
                Vector3 normal;
                const float weight = localPlane(rays, at, row, column, view, ratio, normal);
                sink.square(c.corner.x, c.corner.y, c.corner.depth, 0.0, 0.0, colour, normal,
                            weight);
                continue;
            }
            // The pixel's own size at its depth, as the grid sees it there.
            const double halfX = 0.5 * c.depth / rays.fx * grid.scaleX() / c.corner.depth;
            const double halfY = 0.5 * c.depth / rays.fy * grid.scaleY() / c.corner.depth;
            sink.square(c.corner.x, c.corner.y, c.corner.depth, halfX, halfY, colour,
                        geometry::normalized(rays.pos - c.world), kLoneWeight);
        }
    }
}

}  // namespace

PhotoCamera photoCameraFromFov(const PinholeCamera& camera, std::int32_t width,
                               std::int32_t height) {
    const geometry::FrameTangents t = geometry::frameTangents(camera.fov, width, height);
    PhotoCamera photo;
    photo.pos = camera.pos;
    photo.dir = camera.dir;
    photo.up = camera.up;
    photo.fx = width / (2.0 * static_cast<double>(t.x));
    photo.fy = height / (2.0 * static_cast<double>(t.y));
    photo.cx = width * 0.5 - 0.5;
    photo.cy = height * 0.5 - 0.5;
    photo.fov = camera.fov;
    return photo;
}

bool normalizePhotoCamera(PhotoCamera& camera, std::string& error) {
    if (!(camera.fx > 0.0 && std::isfinite(camera.fx) && camera.fy > 0.0 &&
          std::isfinite(camera.fy))) {
        error = "the focal lengths fx and fy must be positive numbers of pixels";
        return false;
    }
    if (!std::isfinite(camera.cx) || !std::isfinite(camera.cy)) {
        error = "the principal point cx, cy must be finite numbers of pixels";
        return false;
    }
    PinholeCamera frame;
    frame.dir = camera.dir;
    frame.up = camera.up;
    if (!normalizeCamera(frame, error)) {
        return false;
    }
    if (!std::isfinite(camera.pos.x) || !std::isfinite(camera.pos.y) ||
        !std::isfinite(camera.pos.z)) {
        error = "the camera position must be finite";
        return false;
    }
    camera.dir = frame.dir;
    camera.up = frame.up;
    return true;
}

PinholeCamera coveringCamera(const PhotoCamera& camera, std::int32_t width, std::int32_t height) {
    PinholeCamera covering;
    covering.pos = camera.pos;
    covering.dir = camera.dir;
    covering.up = camera.up;
    if (camera.fov > 0.0f && width == height) {
        covering.fov = camera.fov;
        return covering;
    }
    // The widest tangent from the principal point to an outer pixel edge.
    const double reach =
        std::max({(camera.cx + 0.5) / camera.fx, (width - 0.5 - camera.cx) / camera.fx,
                  (camera.cy + 0.5) / camera.fy, (height - 0.5 - camera.cy) / camera.fy, 1e-6});
    constexpr double kMaxFov = 179.0 * 3.14159265358979 / 180.0;
    covering.fov = static_cast<float>(std::min(2.0 * std::atan(reach), kMaxFov));
    return covering;
}

bool loadRgbdView(const std::string& colourPath, const std::string& depthPath, double depthScale,
                  const PhotoCamera& camera, RgbdView& view, std::string& error) {
    Texture colour;
    if (!readTextureFile(colourPath, colour, error)) {
        return false;
    }
    imageutil::DepthImage depth;
    if (!imageutil::readDepthImage(depthPath, depthScale, depth, error)) {
        return false;
    }
    if (colour.width != depth.width || colour.height != depth.height) {
        error = platform::formatString(
            "%s is %dx%d but its depth map %s is %dx%d: they must have the same size",
            colourPath.c_str(), colour.width, colour.height, depthPath.c_str(), depth.width,
            depth.height);
        return false;
    }
    // Picture rows run from the top; a view's from the bottom, as its depth map's do.
    const auto rowBytes = static_cast<std::size_t>(colour.width) * 3;
    for (std::int32_t top = 0, bottom = colour.height - 1; top < bottom; ++top, --bottom) {
        std::swap_ranges(colour.rgb.begin() + static_cast<std::ptrdiff_t>(top * rowBytes),
                         colour.rgb.begin() + static_cast<std::ptrdiff_t>((top + 1) * rowBytes),
                         colour.rgb.begin() + static_cast<std::ptrdiff_t>(bottom * rowBytes));
    }
    view.name = colourPath;
    view.camera = camera;
    view.width = colour.width;
    view.height = colour.height;
    view.rgb = std::move(colour.rgb);
    view.depth = std::move(depth.depth);
    return true;
}

RgbdViewSource::RgbdViewSource(std::vector<RgbdView> views, float edgeRatio,
                               const FusionOptions& fusion)
    : views_(std::move(views)), edgeRatio_(edgeRatio), fusion_(fusion) {
    for (const RgbdView& view : views_) {
        const ViewRays rays(view);
        for (std::int32_t row = 0; row < view.height; ++row) {
            for (std::int32_t column = 0; column < view.width; ++column) {
                const float d = view.depth[static_cast<std::size_t>(row) *
                                               static_cast<std::size_t>(view.width) +
                                           static_cast<std::size_t>(column)];
                if (std::isfinite(d)) {
                    bounds_.add(rays.point(column, row, d));
                }
            }
        }
    }
}

bool RgbdViewSource::sample(const PinholeCamera& camera, const SampleOptions& options,
                            LayeredImage& out, std::string& error) const {
    struct Band {
        std::size_t view;
        std::int32_t row0;
    };
    std::vector<Band> bands;
    std::int64_t pixels = 0;
    for (std::size_t v = 0; v < views_.size(); ++v) {
        for (std::int32_t row = 0; row < views_[v].height; row += kBandRows) {
            bands.push_back({v, row});
        }
        pixels += static_cast<std::int64_t>(views_[v].width) * views_[v].height;
    }
    return carryAndFuse(
        camera, options, fusion_, static_cast<int>(bands.size()), pixels,
        [&](int b, FragmentSink& sink) {
            const Band& band = bands[static_cast<std::size_t>(b)];
            const RgbdView& view = views_[band.view];
            carryBand(view, band.row0, std::min(band.row0 + kBandRows, view.height), edgeRatio_,
                      sink.grid(), sink);
        },
        out, error);
}

}  // namespace strata::maker
