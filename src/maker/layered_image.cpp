#include "maker/layered_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "platform/clock.h"
#include "platform/debug_output.h"

namespace strata::maker {

using geometry::Vector3;

namespace {

struct Context {
    const RayCaster& caster;
    const Scene& scene;
    const PinholeCamera& camera;
    const SampleOptions& options;
    geometry::ImagePlaneFrame frame;
    float tNear = 0.0f;
    float tFar = 0.0f;
    float tolerance = 0.0f;
    float tStart = 0.0f;             // just in front of the eye
    float footprintPerDepth = 0.0f;  // width of one pixel at depth 1
};

LayerSample makeSample(const Context& context, const SurfaceHit& hit) {
    LayerSample sample;
    sample.depth = hit.t;  // the ray's component along dir is 1, so t is the eye depth
    sample.position = hit.position;
    sample.distance = (hit.position - context.camera.pos).length();
    sample.normal = surfaceNormal(context.scene, hit.mesh, hit.triangle, hit.u, hit.v);
    sample.mesh = hit.mesh;
    sample.triangle = hit.triangle;
    const Colour colour =
        surfaceColour(context.scene, hit.mesh, hit.triangle, hit.u, hit.v, hit.position);
    sample.colour = packPixel(shade(colour, sample.normal, context.options.shading));
    // An open part is two-sided: the camera sees the side it faces, so the stored normal faces
    // the camera (the shading above keeps the oriented normal, the same from every view).
    if (onOpenPart(context.scene, hit.mesh, hit.triangle) &&
        geometry::dot(sample.normal, hit.position - context.camera.pos) > 0.0f) {
        sample.normal = -sample.normal;
    }
    return sample;
}

std::uint32_t shadeHit(const Context& context, const SurfaceHit& hit) {
    const Vector3 normal = surfaceNormal(context.scene, hit.mesh, hit.triangle, hit.u, hit.v);
    const Colour colour =
        surfaceColour(context.scene, hit.mesh, hit.triangle, hit.u, hit.v, hit.position);
    return packPixel(shade(colour, normal, context.options.shading));
}

// Index of the sub-ray hit that shows the same surface as `sample`, or -1. Preference: the same
// triangle; else a hit within the merge tolerance of the sample's depth; else a hit on the same
// mesh lying within half a pixel footprint of the sample's tangent plane (a curved or tessellated
// surface continues into neighbouring triangles).
int matchSubHit(const Context& context, const LayerSample& sample,
                const std::vector<SurfaceHit>& hits, const std::vector<bool>& used) {
    for (std::size_t j = 0; j < hits.size(); ++j) {
        if (!used[j] && hits[j].mesh == sample.mesh && hits[j].triangle == sample.triangle) {
            return static_cast<int>(j);
        }
    }
    for (std::size_t j = 0; j < hits.size(); ++j) {
        if (!used[j] && std::fabs(hits[j].t - sample.depth) <= context.tolerance) {
            return static_cast<int>(j);
        }
    }
    const float planeTolerance =
        context.tolerance + 0.5f * context.footprintPerDepth * sample.depth;
    for (std::size_t j = 0; j < hits.size(); ++j) {
        if (!used[j] && hits[j].mesh == sample.mesh &&
            std::fabs(geometry::dot(hits[j].position - sample.position, sample.normal)) <=
                planeTolerance) {
            return static_cast<int>(j);
        }
    }
    return -1;
}

struct Coverage {
    std::uint16_t mask4 = 0;
    std::uint8_t mask2 = 0;
    std::array<std::uint32_t, 16> colours4{};
    std::array<std::uint32_t, 4> colours2{};
};

// Sub-cell masks and colours of every layer of pixel (row, column); layers nearest first.
void coverPixel(const Context& context, int row, int column, const std::vector<LayerSample>& layers,
                std::vector<Coverage>& coverage, LayerRow& result) {
    coverage.assign(layers.size(), Coverage{});
    std::vector<SurfaceHit> hits;
    std::vector<bool> used;
    const auto cover = [&](int divisions, int r, int c, bool fine) {
        const float x = static_cast<float>(column) + (static_cast<float>(c) + 0.5f) / divisions;
        const float y = static_cast<float>(row) + (static_cast<float>(r) + 0.5f) / divisions;
        hits.clear();
        context.caster.allHits(context.camera.pos, rayThrough(context.frame, x, y), context.tNear,
                               context.tFar, context.tolerance, context.options.maxLayers + 4,
                               hits);
        ++result.rays;
        used.assign(hits.size(), false);
        const int bit = divisions * r + c;
        for (std::size_t i = 0; i < layers.size(); ++i) {
            const int j = matchSubHit(context, layers[i], hits, used);
            if (j < 0) {
                continue;
            }
            used[static_cast<std::size_t>(j)] = true;
            const std::uint32_t colour = shadeHit(context, hits[static_cast<std::size_t>(j)]);
            if (fine) {
                coverage[i].mask4 = static_cast<std::uint16_t>(coverage[i].mask4 | 1u << bit);
                coverage[i].colours4[static_cast<std::size_t>(bit)] = colour;
            } else {
                coverage[i].mask2 = static_cast<std::uint8_t>(coverage[i].mask2 | 1u << bit);
                coverage[i].colours2[static_cast<std::size_t>(bit)] = colour;
            }
        }
    };
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            cover(4, r, c, true);
        }
    }
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            cover(2, r, c, false);
        }
    }
}

// Counts the surfaces a pixel's ray meets before a given near or beyond a given far.
void countOutside(const Context& context, int row, int column, std::vector<SurfaceHit>& scratch,
                  LayerRow& result) {
    const geometry::Vector3 ray =
        context.frame.pixelRay(static_cast<float>(row), static_cast<float>(column));
    const std::size_t keep = scratch.size();
    if (context.camera.near > 0.0f) {
        result.hitsOutside += context.caster.allHits(context.camera.pos, ray, context.tStart,
                                                     std::nextafter(context.tNear, 0.0f),
                                                     context.tolerance, kMaxLayers, scratch);
    }
    if (context.camera.far > 0.0f) {
        result.hitsOutside += context.caster.allHits(
            context.camera.pos, ray, std::nextafter(context.tFar, INFINITY),
            std::numeric_limits<float>::infinity(), context.tolerance, kMaxLayers, scratch);
    }
    scratch.resize(keep);
}

void sampleRow(const Context& context, int row, LayerRow& result) {
    const int width = context.options.width;
    result.counts.assign(static_cast<std::size_t>(width), 0);
    std::vector<SurfaceHit> hits;
    std::vector<LayerSample> layers;
    std::vector<Coverage> coverage;
    for (int column = 0; column < width; ++column) {
        hits.clear();
        result.hits += context.caster.allHits(
            context.camera.pos,
            context.frame.pixelRay(static_cast<float>(row), static_cast<float>(column)),
            context.tNear, context.tFar, context.tolerance, context.options.maxLayers, hits);
        ++result.rays;
        if (context.camera.near > 0.0f || context.camera.far > 0.0f) {
            countOutside(context, row, column, hits, result);
        }
        layers.clear();
        for (const SurfaceHit& hit : hits) {
            layers.push_back(makeSample(context, hit));
        }
        if (context.options.coverage && !layers.empty()) {
            coverPixel(context, row, column, layers, coverage, result);
        }
        // Farthest first: drawing in storage order paints nearer samples last.
        for (std::size_t k = layers.size(); k-- > 0;) {
            LayerSample sample = layers[k];
            if (context.options.coverage) {
                const Coverage& cov = coverage[k];
                sample.mask4 = cov.mask4;
                sample.mask2 = cov.mask2;
                sample.sub4Start = static_cast<std::uint32_t>(result.sub4.size());
                sample.sub2Start = static_cast<std::uint32_t>(result.sub2.size());
                for (int bit = 0; bit < 16; ++bit) {
                    if ((cov.mask4 >> bit & 1u) != 0) {
                        result.sub4.push_back(cov.colours4[static_cast<std::size_t>(bit)]);
                    }
                }
                for (int bit = 0; bit < 4; ++bit) {
                    if ((cov.mask2 >> bit & 1u) != 0) {
                        result.sub2.push_back(cov.colours2[static_cast<std::size_t>(bit)]);
                    }
                }
            }
            result.samples.push_back(sample);
        }
        result.counts[static_cast<std::size_t>(column)] = static_cast<std::uint32_t>(layers.size());
    }
}

}  // namespace

bool checkSampleOptions(const SampleOptions& options, std::string& error) {
    if (options.width < 1 || options.height < 1 || options.width > 16384 ||
        options.height > 16384) {
        error = platform::formatString("grid %dx%d out of range (1..16384 a side)", options.width,
                                       options.height);
        return false;
    }
    if (options.maxLayers < 1 || options.maxLayers > kMaxLayers) {
        error =
            platform::formatString("%d layers out of range (1..%d)", options.maxLayers, kMaxLayers);
        return false;
    }
    return true;
}

bool gatherRows(std::vector<LayerRow>& rows, LayeredImage& out, std::string& error) {
    const std::size_t pixels =
        static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
    std::int64_t total = 0;
    for (const LayerRow& row : rows) {
        total += static_cast<std::int64_t>(row.samples.size());
    }
    // Sample indices are 32-bit here and in every file.
    if (total > std::numeric_limits<std::int32_t>::max()) {
        error = platform::formatString("%lld samples are more than one LDI can hold",
                                       static_cast<long long>(total));
        return false;
    }
    out.pixelStart.clear();
    out.pixelStart.reserve(pixels + 1);
    out.pixelStart.push_back(0);
    out.samples.reserve(static_cast<std::size_t>(total));
    for (LayerRow& row : rows) {
        out.stats.rays += row.rays;
        out.stats.hits += row.hits;
        out.stats.hitsOutside += row.hitsOutside;
        const auto sub4Base = static_cast<std::uint32_t>(out.sub4Colours.size());
        const auto sub2Base = static_cast<std::uint32_t>(out.sub2Colours.size());
        for (std::uint32_t count : row.counts) {
            out.pixelStart.push_back(out.pixelStart.back() + count);
        }
        for (LayerSample& sample : row.samples) {
            sample.sub4Start += sub4Base;
            sample.sub2Start += sub2Base;
            out.samples.push_back(sample);
        }
        out.sub4Colours.insert(out.sub4Colours.end(), row.sub4.begin(), row.sub4.end());
        out.sub2Colours.insert(out.sub2Colours.end(), row.sub2.begin(), row.sub2.end());
        row = LayerRow{};
    }
    summarizeLayers(out);
    return true;
}

void summarizeLayers(LayeredImage& out) {
    SampleStats& stats = out.stats;
    const std::size_t pixels =
        static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height);
    stats.minLayers = pixels > 0 ? std::numeric_limits<int>::max() : 0;
    stats.maxLayers = 0;
    stats.pixelsCovered = 0;
    stats.minDistance = stats.minDepth = std::numeric_limits<float>::infinity();
    stats.maxDistance = stats.maxDepth = 0.0f;
    stats.sampleBounds = Bounds{};
    double sumSquares = 0.0;
    for (std::size_t p = 0; p < pixels; ++p) {
        const std::uint32_t count = out.pixelStart[p + 1] - out.pixelStart[p];
        stats.minLayers = std::min(stats.minLayers, static_cast<int>(count));
        stats.maxLayers = std::max(stats.maxLayers, static_cast<int>(count));
        stats.pixelsCovered += count > 0 ? 1 : 0;
        sumSquares += static_cast<double>(count) * count;
    }
    for (const LayerSample& sample : out.samples) {
        stats.minDistance = std::min(stats.minDistance, sample.distance);
        stats.maxDistance = std::max(stats.maxDistance, sample.distance);
        stats.minDepth = std::min(stats.minDepth, sample.depth);
        stats.maxDepth = std::max(stats.maxDepth, sample.depth);
        stats.sampleBounds.add(sample.position);
    }
    stats.samples = static_cast<std::int64_t>(out.samples.size());
    stats.meanLayers =
        pixels > 0 ? static_cast<double>(stats.samples) / static_cast<double>(pixels) : 0.0;
    stats.stddevLayers = pixels > 0
                             ? std::sqrt(std::max(0.0, sumSquares / static_cast<double>(pixels) -
                                                           stats.meanLayers * stats.meanLayers))
                             : 0.0;
    if (stats.samples == 0) {
        stats.minDistance = stats.maxDistance = stats.minDepth = stats.maxDepth = 0.0f;
    }

    // Fit near and far just around the depths found, unless they were given.
    PinholeCamera& camera = out.camera;
    if (camera.near <= 0.0f || camera.far <= 0.0f) {
        const float lo = stats.samples > 0 ? stats.minDepth : 1.0f;
        const float hi = stats.samples > 0 ? stats.maxDepth : 2.0f;
        const float margin = std::max(1e-3f * (hi - lo), 1e-4f * hi);
        if (camera.near <= 0.0f) {
            camera.near = std::max(lo - margin, lo * 0.5f);
        }
        if (camera.far <= 0.0f) {
            camera.far = hi + margin;
        }
        if (!(camera.far > camera.near)) {
            camera.far = camera.near * 2.0f;
        }
    }
}

bool sampleLayers(const RayCaster& caster, const PinholeCamera& camera,
                  const SampleOptions& options, LayeredImage& out, std::string& error) {
    if (!checkSampleOptions(options, error)) {
        return false;
    }
    const std::int64_t start = platform::steadyNanoseconds();
    const Scene& scene = caster.scene();
    Context context{caster, scene, camera, options,
                    rayFrame(camera, options.width, options.height)};
    castRange(camera, scene, context.tNear, context.tFar);
    context.tStart = 1e-6f * std::max(scene.bounds().radius(), 1e-6f);
    context.tolerance = options.mergeTolerance > 0.0f
                            ? options.mergeTolerance
                            : 1e-4f * std::max(scene.bounds().radius(), 1e-6f);
    context.footprintPerDepth = 2.0f * std::tan(camera.fov * 0.5f) / options.width;

    std::vector<LayerRow> rows(static_cast<std::size_t>(options.height));
    runRows(
        options.height, options.threads,
        [&](int row) { sampleRow(context, row, rows[static_cast<std::size_t>(row)]); },
        options.progress);

    out = LayeredImage{};
    out.width = options.width;
    out.height = options.height;
    out.camera = camera;
    out.mergeTolerance = context.tolerance;
    if (!gatherRows(rows, out, error)) {
        return false;
    }
    out.stats.seconds =
        static_cast<double>(platform::steadyNanoseconds() - start) / platform::kCounterFrequency;
    return true;
}

}  // namespace strata::maker
