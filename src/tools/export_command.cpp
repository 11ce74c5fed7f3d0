// `strata export FILE -o points.ply`: every depth sample of an LDI, unprojected from its
// reference camera into world space, written as a binary little-endian PLY point cloud (float
// x y z, uchar red green blue, and float nx ny nz for the kinds that store a normal).
#include <CLI/CLI.hpp>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "geometry/depth.h"
#include "geometry/normal_table.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_pyramid.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "platform/byte_io.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/number_parse.h"
#include "tools/checked_options.h"
#include "tools/commands.h"
#include "tools/ldi_samples.h"

namespace strata::tools {

namespace {

// Layers a pixel can hold (the CP layer counts are bytes).
constexpr int kMaxLayer = 254;

struct ExportArguments {
    std::string file;
    std::string output;
    std::string layer;
    bool layerGiven = false;  // else every layer
    std::string level;
    bool levelGiven = false;  // else level 0 of a pyramid
};

using Point = LdiSample;

using Matrix = std::array<double, 16>;

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix c{};
    for (int r = 0; r < 4; ++r) {
        for (int k = 0; k < 4; ++k) {
            for (int col = 0; col < 4; ++col) {
                c[4 * r + col] += a[4 * r + k] * b[4 * k + col];
            }
        }
    }
    return c;
}

// Gauss-Jordan with partial pivoting; false for a singular matrix.
bool invert(Matrix m, Matrix& out) {
    out = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r) {
            if (std::fabs(m[4 * r + c]) > std::fabs(m[4 * pivot + c])) {
                pivot = r;
            }
        }
        if (!(std::fabs(m[4 * pivot + c]) > 1e-300)) {
            return false;
        }
        for (int k = 0; k < 4; ++k) {
            std::swap(m[4 * c + k], m[4 * pivot + k]);
            std::swap(out[4 * c + k], out[4 * pivot + k]);
        }
        const double scale = 1.0 / m[4 * c + c];
        for (int k = 0; k < 4; ++k) {
            m[4 * c + k] *= scale;
            out[4 * c + k] *= scale;
        }
        for (int r = 0; r < 4; ++r) {
            const double f = m[4 * r + c];
            if (r == c || f == 0.0) {
                continue;
            }
            for (int k = 0; k < 4; ++k) {
                m[4 * r + k] -= f * m[4 * c + k];
                out[4 * r + k] -= f * out[4 * c + k];
            }
        }
    }
    return true;
}

}  // namespace

bool Unprojector::prepare(const geometry::ViewCamera& view, std::int32_t width, std::int32_t height,
                          std::string& error) {
    const double dx = view.dir.x, dy = view.dir.y, dz = view.dir.z;
    const double ux = view.up.x, uy = view.up.y, uz = view.up.z;
    const double cosine = dx * ux + dy * uy + dz * uz;
    const double sine = std::sqrt(std::max(0.0, 1.0 - cosine * cosine));
    if (!(sine > 1e-9)) {
        error = "the reference camera's direction and up are parallel";
        return false;
    }
    const double sx = (dy * uz - dz * uy) / sine;
    const double sy = (dz * ux - dx * uz) / sine;
    const double sz = (dx * uy - dy * ux) / sine;
    const double vx = sy * dz - sz * dy;
    const double vy = sz * dx - sx * dz;
    const double vz = sx * dy - sy * dx;
    const Matrix rotation{sx, sy, sz, 0, vx, vy, vz, 0, -dx, -dy, -dz, 0, 0, 0, 0, 1};
    const Matrix move{1, 0, 0, -double{view.pos.x}, 0, 1, 0, -double{view.pos.y},
                      0, 0, 1, -double{view.pos.z}, 0, 0, 0, 1};
    Matrix projection{};
    for (std::size_t i = 0; i < 16; ++i) {
        projection[i] = view.projection.m[i];
    }
    if (!invert(multiply(projection, multiply(rotation, move)), inverse_)) {
        error = "the reference camera cannot be inverted";
        return false;
    }
    width_ = width;
    height_ = height;
    return true;
}

geometry::Vector3 Unprojector::at(std::int32_t row, std::int32_t column, float zNdc) const {
    const double p[4] = {2.0 * (column + 0.5) / width_ - 1.0, 2.0 * (row + 0.5) / height_ - 1.0,
                         zNdc, 1.0};
    double q[4] = {0, 0, 0, 0};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            q[r] += inverse_[static_cast<std::size_t>(4 * r + c)] * p[c];
        }
    }
    return {static_cast<float>(q[0] / q[3]), static_cast<float>(q[1] / q[3]),
            static_cast<float>(q[2] / q[3])};
}

namespace {

geometry::Vector3 normalOf(std::uint32_t depthWord) {
    if ((depthWord >> 31) != 0) {
        return {};  // no usable normal
    }
    return geometry::normalTable()[(depthWord >> 25) & 63u];
}

using PointSink = SampleSink;

// The stored index of the wanted layer of a pixel with `count` layers (stored farthest first),
// or -1 when it has no such layer. layer -1: every layer, visited in storage order.
template <typename Visit>
void forLayers(int count, int layer, Visit&& visit) {
    if (layer < 0) {
        for (int k = 0; k < count; ++k) {
            visit(k);
        }
    } else if (layer < count) {
        visit(count - 1 - layer);
    }
}

bool visitSingle(const ldi::LdiBase& ldi, int layer, std::int32_t rowOffset, const PointSink& sink,
                 bool& normals, std::string& error) {
    Unprojector unproject;
    if (!unproject.prepare(ldi.header.view, ldi.header.width, ldi.header.height, error)) {
        return false;
    }
    const std::int32_t width = ldi.header.width;
    const std::int32_t height = ldi.header.height;
    const auto pixelOffset = [width](std::int32_t row, std::int32_t column) {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(width + 1) +
               static_cast<std::size_t>(column);
    };
    Point point;
    for (std::int32_t row = 0; row < height; ++row) {
        for (std::int32_t column = 0; column < width; ++column) {
            const int count = ldi.LayerCount(row, column);
            point.row = rowOffset + row;
            point.column = column;
            // Fills the stored depth, the position and the layer of stored layer k.
            const auto place = [&](int k, std::uint32_t code, float depth) {
                point.code = code;
                point.depth = depth;
                point.position = unproject.at(row, column, depth);
                point.layer = count - 1 - k;
            };
            if (const auto* cp = dynamic_cast<const ldi::LdiRtCp*>(&ldi)) {
                normals = false;
                const std::int64_t first = cp->FirstLayer(row, column);
                forLayers(count, layer, [&](int k) {
                    const std::uint32_t word = cp->pixels[first + k];
                    place(k, word >> 24, cp->binValue[word >> 24]);
                    point.colour = word & 0xFFFFFFu;
                    sink(point);
                });
            } else if (const auto* mrqp = dynamic_cast<const ldi::LdiRtMrqp*>(&ldi)) {
                normals = true;
                const std::int64_t first = std::int64_t{mrqp->rowStart[0][row]} +
                                           mrqp->layerOffset[0][pixelOffset(row, column)];
                forLayers(count, layer, [&](int k) {
                    const std::uint32_t word = mrqp->pixels[2 * (first + k)];
                    place(k, word & 0xFFFFFu, geometry::decodeDepth(word & 0xFFFFFu));
                    point.colour = mrqp->fullColours[first + k] & 0xFFFFFFu;
                    point.normal = normalOf(word);
                    point.masks = mrqp->pixels[2 * (first + k) + 1];
                    sink(point);
                });
            } else if (const auto* qp = dynamic_cast<const ldi::LdiRtQp*>(&ldi)) {
                normals = true;
                const std::int64_t first =
                    std::int64_t{qp->rowStart[row]} + qp->layerOffset[pixelOffset(row, column)];
                forLayers(count, layer, [&](int k) {
                    const std::uint32_t word = qp->pixels[2 * (first + k) + 1];
                    place(k, word & 0xFFFFFu, geometry::decodeDepth(word & 0xFFFFFu));
                    point.colour = qp->pixels[2 * (first + k)] & 0xFFFFFFu;
                    point.normal = normalOf(word);
                    sink(point);
                });
            } else {
                error = "this kind of LDI cannot be exported";
                return false;
            }
        }
    }
    return true;
}

}  // namespace

// Every sample of the LDI (a quad: both halves, each with its own reference camera).
bool visitSamples(const ldi::LdiBase& ldi, int layer, const PointSink& sink, bool& normals,
                  std::string& error) {
    if (const auto* quad = dynamic_cast<const ldi::LdiRtQuad*>(&ldi)) {
        std::int32_t rowOffset = 0;
        for (const ldi::LdiRtQp* half : {quad->bottom(), quad->top()}) {
            if (half == nullptr || !visitSingle(*half, layer, rowOffset, sink, normals, error)) {
                return false;
            }
            rowOffset += half->header.height;
        }
        return true;
    }
    return visitSingle(ldi, layer, 0, sink, normals, error);
}

namespace {

int mostLayers(const ldi::LdiBase& ldi) {
    if (const auto* quad = dynamic_cast<const ldi::LdiRtQuad*>(&ldi)) {
        return std::max(quad->bottom() ? mostLayers(*quad->bottom()) : 0,
                        quad->top() ? mostLayers(*quad->top()) : 0);
    }
    int most = 0;
    for (std::int32_t row = 0; row < ldi.header.height; ++row) {
        for (std::int32_t column = 0; column < ldi.header.width; ++column) {
            most = std::max(most, ldi.LayerCount(row, column));
        }
    }
    return most;
}

// A whole number 0..most and nothing else (no sign, space or fraction).
bool parseIndex(const std::string& text, int most, int& index) {
    return !text.empty() && text.front() >= '0' && text.front() <= '9' &&
           platform::parseWholeNumber(text, 0, most, index);
}

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The LDI to export: the file itself, or for a pyramid list (".ldipyr") the level asked for
// (level 0, the finest, when none is). The pyramid, when there is one, owns the LDI.
std::unique_ptr<ldi::LdiBase> openExported(const ExportArguments& args,
                                           std::unique_ptr<ldi::LdiPyramid>& pyramid,
                                           const ldi::LdiBase*& chosen, std::string& error) {
    if (!endsWith(args.file, ".ldipyr")) {
        if (args.levelGiven) {
            error = "--level applies to pyramid lists (.ldipyr) only";
            return nullptr;
        }
        std::unique_ptr<ldi::LdiBase> ldi = ldi::LoadLdi(args.file, &error);
        chosen = ldi.get();
        return ldi;
    }
    pyramid = std::make_unique<ldi::LdiPyramid>();
    pyramid->reportErrors = false;
    if (pyramid->OpenPyramid(args.file) == 0 || pyramid->levelCount < 1) {
        error = pyramid->openError().empty() ? args.file + ": the pyramid holds no levels"
                                             : pyramid->openError();
        return nullptr;
    }
    int level = 0;
    if (args.levelGiven && !parseIndex(args.level, pyramid->levelCount - 1, level)) {
        error = platform::formatString("--level wants a level 0..%d (0 = the finest)",
                                       pyramid->levelCount - 1);
        return nullptr;
    }
    chosen = pyramid->levels[static_cast<std::size_t>(level)].get();
    if (chosen == nullptr) {
        error = platform::formatString("%s: level %d did not load (%s)", args.file.c_str(), level,
                                       pyramid->levelError(level).c_str());
    }
    return nullptr;
}

// The PLY header of `points` points.
std::string pointCloudHeader(std::int64_t points, bool normals) {
    std::string text = platform::formatString(
        "ply\nformat binary_little_endian 1.0\ncomment strata export\nelement vertex %lld\n"
        "property float x\nproperty float y\nproperty float z\n"
        "property uchar red\nproperty uchar green\nproperty uchar blue\n",
        static_cast<long long>(points));
    if (normals) {
        text += "property float nx\nproperty float ny\nproperty float nz\n";
    }
    return text + "end_header\n";
}

int runExport(const ExportArguments& args) {
    const auto fail = [](const std::string& message) {
        std::fprintf(stderr, "strata export: %s\n", message.c_str());
        return 1;
    };
    int layer = -1;
    if (args.layerGiven && !parseIndex(args.layer, kMaxLayer, layer)) {
        return fail(platform::formatString("--layer wants a layer 0..%d (0 = front)", kMaxLayer));
    }
    std::string error;
    std::unique_ptr<ldi::LdiPyramid> pyramid;
    const ldi::LdiBase* ldi = nullptr;
    const std::unique_ptr<ldi::LdiBase> single = openExported(args, pyramid, ldi, error);
    if (ldi == nullptr) {
        return fail(error);
    }
    if (layer >= 0) {
        const int most = mostLayers(*ldi);
        if (most == 0) {
            return fail(args.file + ": the LDI holds no samples");
        }
        if (layer >= most) {
            return fail(platform::formatString(
                "--layer %d: the LDI holds at most %d layers a pixel (0..%d, 0 = front)", layer,
                most, most - 1));
        }
    }
    // First pass: the count the header needs; second pass: the points.
    std::int64_t count = 0;
    bool normals = false;
    if (!visitSamples(
            *ldi, layer, [&count](const Point&) { ++count; }, normals, error)) {
        return fail(args.file + ": " + error);
    }
    platform::AtomicFileWriter writer(args.output);
    const std::string header = pointCloudHeader(count, normals);
    if (!writer.isOpen() || !writer.write(header.data(), header.size())) {
        return fail(args.output + ": " +
                    (writer.error().empty() ? "cannot write the file" : writer.error()));
    }
    platform::ByteWriter chunk;
    const auto flush = [&] {
        if (chunk.size() > 0) {
            writer.write(chunk.bytes().data(), chunk.size());
            chunk.bytes().clear();
        }
    };
    const PointSink write = [&](const Point& point) {
        chunk.putF32(point.position.x);
        chunk.putF32(point.position.y);
        chunk.putF32(point.position.z);
        chunk.putU8(static_cast<std::uint8_t>(point.colour >> 16));
        chunk.putU8(static_cast<std::uint8_t>(point.colour >> 8));
        chunk.putU8(static_cast<std::uint8_t>(point.colour));
        if (normals) {
            chunk.putF32(point.normal.x);
            chunk.putF32(point.normal.y);
            chunk.putF32(point.normal.z);
        }
        if (chunk.size() >= (std::size_t{1} << 20)) {
            flush();
        }
    };
    if (!visitSamples(*ldi, layer, write, normals, error)) {
        return fail(args.file + ": " + error);
    }
    flush();
    if (!writer.commit()) {
        return fail(args.output + ": " +
                    (writer.error().empty() ? "cannot write the file" : writer.error()));
    }
    std::printf("%s: %lld points\n", args.output.c_str(), static_cast<long long>(count));
    return 0;
}

}  // namespace

void addExportCommand(CLI::App& app, int& status) {
    auto args = std::make_shared<ExportArguments>();
    auto* command = app.add_subcommand(
        "export", "write every depth sample of an LDI, in world space, as a PLY point cloud");
    command
        ->add_option("file", args->file, "an LDI file of any kind, a quad list or a pyramid list")
        ->required();
    command->add_option("-o,--output", args->output, "the point cloud (binary PLY)")->required();
    CLI::Option* layer = command->add_option(
        "--layer", args->layer, "keep only layer K of every pixel (0 = the front layer)");
    CLI::Option* level = command->add_option("--level", args->level,
                                             "the level N of a pyramid (default 0, the finest)");
    addAllowOutsidePathsFlag(*command);
    command->callback([args, layer, level, &status] {
        args->layerGiven = layer->count() > 0;
        args->levelGiven = level->count() > 0;
        status = runExport(*args);
    });
}

}  // namespace strata::tools
