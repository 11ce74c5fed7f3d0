#include "maker/ldi_encoding.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "geometry/depth.h"
#include "geometry/quantise.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_quad.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

namespace strata::maker {

namespace {

std::int32_t clampInt32(std::int64_t v) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(v, 0, std::numeric_limits<std::int32_t>::max()));
}

float zNdcOf(float depth, float near, float far) {
    return geometry::perspectiveDepth(-depth, near, far);
}

// The rows of an image that one LDI holds, and where their samples start and end.
struct Region {
    const LayeredImage& image;
    std::int32_t row0;
    std::int32_t rows;

    std::int32_t width() const { return image.width; }
    std::size_t pixelIndex(std::int32_t row, std::int32_t column) const {
        return static_cast<std::size_t>(row0 + row) * static_cast<std::size_t>(image.width) +
               static_cast<std::size_t>(column);
    }
    std::uint32_t first(std::int32_t row, std::int32_t column) const {
        return image.pixelStart[pixelIndex(row, column)];
    }
    std::uint32_t end(std::int32_t row, std::int32_t column) const {
        return image.pixelStart[pixelIndex(row, column) + 1];
    }
    std::uint32_t sampleBegin() const { return first(0, 0); }
    std::uint32_t sampleEnd() const { return end(rows - 1, image.width - 1); }
    std::int64_t sampleCount() const {
        return static_cast<std::int64_t>(sampleEnd()) - static_cast<std::int64_t>(sampleBegin());
    }
};

// The reference camera records of a region: the full view, or an off-centre window holding
// exactly the region's rows.
void fillCameras(const Region& region, ldi::LdiHeader& header) {
    const PinholeCamera& camera = region.image.camera;
    const std::int32_t width = region.image.width;
    const std::int32_t fullHeight = region.image.height;
    header.view = referenceView(camera, width, region.rows);
    header.camera = referenceCamera(camera, width, region.rows);
    if (region.rows == fullHeight) {
        return;
    }
    const float t = std::tan(camera.fov * 0.5f);
    const float n = camera.near;
    const float lowY = 2.0f * static_cast<float>(region.row0) / fullHeight - 1.0f;
    const float highY = 2.0f * static_cast<float>(region.row0 + region.rows) / fullHeight - 1.0f;
    header.view.projection =
        geometry::frustum(-n * t, n * t, n * t * lowY, n * t * highY, n, camera.far);
    geometry::Camera& record = header.camera;
    record.bottom = record.fl * t * lowY;
    record.top = record.fl * t * highY;
    record.fovY = std::atan(record.top / record.fl) - std::atan(record.bottom / record.fl);
    record.fov = std::max(record.fovX, record.fovY);
    record.projection = geometry::frustum(record.left, record.right, record.bottom, record.top,
                                          record.fl, record.clip_far);
}

void fillHeader(const Region& region, ldi::LdiHeader& header, PixelKind pixel,
                const std::vector<std::uint32_t>& depthKeys, double encodeSeconds) {
    const LayeredImage& image = region.image;
    fillCameras(region, header);
    if (pixel == PixelKind::cp) {
        const auto bins = cpDepthBins();
        header.binCount = kCpBinCount;
        header.binBits = 8;
        std::copy(bins.begin(), bins.end(), header.bins.begin());
    } else {
        const auto bins = sizeClassBins(image.camera.near, image.camera.far);
        header.binCount = kSizeClassCount;
        header.binBits = 5;
        std::copy(bins.begin(), bins.end(), header.bins.begin());
    }

    // Statistics of the region's samples.
    ldi::LdiStats& stats = header.stats;
    const std::int64_t pixels = static_cast<std::int64_t>(region.rows) * image.width;
    const double share = static_cast<double>(pixels) /
                         (static_cast<double>(image.width) * static_cast<double>(image.height));
    stats.rays = clampInt32(std::llround(static_cast<double>(image.stats.rays) * share));
    stats.hits = clampInt32(std::llround(static_cast<double>(image.stats.hits) * share));
    stats.hitsOutsideFrustum =
        clampInt32(std::llround(static_cast<double>(image.stats.hitsOutside) * share));
    stats.samples = clampInt32(region.sampleCount());
    stats.depthPixels = stats.samples;
    int minLayers = std::numeric_limits<int>::max();
    int maxLayers = 0;
    double sum = 0.0;
    double sumSquares = 0.0;
    std::int64_t uniqueDepth = 0;
    std::int64_t uniqueNormal = 0;
    Bounds bounds;
    float minDistance = std::numeric_limits<float>::infinity();
    float maxDistance = 0.0f;
    float minDepth = std::numeric_limits<float>::infinity();
    float maxDepth = 0.0f;
    for (std::int32_t row = 0; row < region.rows; ++row) {
        for (std::int32_t column = 0; column < image.width; ++column) {
            const std::uint32_t begin = region.first(row, column);
            const std::uint32_t end = region.end(row, column);
            const int count = static_cast<int>(end - begin);
            minLayers = std::min(minLayers, count);
            maxLayers = std::max(maxLayers, count);
            sum += count;
            sumSquares += static_cast<double>(count) * count;
            for (std::uint32_t s = begin; s < end; ++s) {
                const LayerSample& sample = image.samples[s];
                const std::uint32_t key = depthKeys[s - region.sampleBegin()];
                if (s == begin || key != depthKeys[s - 1 - region.sampleBegin()]) {
                    ++uniqueDepth;
                }
                if (s == begin || geometry::nearestNormal(sample.normal) !=
                                      geometry::nearestNormal(image.samples[s - 1].normal)) {
                    ++uniqueNormal;
                }
                bounds.add(sample.position);
                minDistance = std::min(minDistance, sample.distance);
                maxDistance = std::max(maxDistance, sample.distance);
                minDepth = std::min(minDepth, sample.depth);
                maxDepth = std::max(maxDepth, sample.depth);
            }
        }
    }
    const double mean = sum / static_cast<double>(pixels);
    stats.samplesUniqueDepth = clampInt32(uniqueDepth);
    stats.samplesUniqueNormal = clampInt32(uniqueNormal);
    stats.complexityMin = static_cast<float>(minLayers);
    stats.complexityMax = static_cast<float>(maxLayers);
    stats.complexityMean = static_cast<float>(mean);
    stats.complexityStdDev = static_cast<float>(
        std::sqrt(std::max(0.0, sumSquares / static_cast<double>(pixels) - mean * mean)));
    if (!bounds.empty()) {
        stats.distanceMin = minDistance;
        stats.distanceMax = maxDistance;
        stats.zMin = minDepth;
        stats.zMax = maxDepth;
        header.boundsMin = bounds.min;
        header.boundsMax = bounds.max;
    }
    const auto minutesSeconds = [](double seconds, std::int32_t& minutes, std::int32_t& secs) {
        const auto whole = static_cast<std::int64_t>(seconds + 0.5);
        minutes = clampInt32(whole / 60);
        secs = static_cast<std::int32_t>(whole % 60);
    };
    minutesSeconds(image.stats.loadSeconds, stats.loadMinutes, stats.loadSeconds);
    minutesSeconds(image.stats.seconds * share, stats.sampleMinutes, stats.sampleSeconds);
    minutesSeconds(encodeSeconds, stats.writeMinutes, stats.writeSeconds);
}

// Per-row running layer sums of one array level into rowStart / layerOffset; counts[i] is the
// number of entries pixel i of the region holds. False (error set) when a row exceeds the 16-bit
// offsets.
bool fillOffsets(const Region& region, const std::vector<std::uint32_t>& counts,
                 std::int32_t* rowStart, std::uint16_t* layerOffset, const char* what,
                 std::string& error) {
    const auto width = static_cast<std::size_t>(region.width());
    std::int64_t total = 0;
    for (std::int32_t row = 0; row < region.rows; ++row) {
        rowStart[row] = static_cast<std::int32_t>(total);
        std::int64_t offset = 0;
        std::uint16_t* offsets = layerOffset + static_cast<std::size_t>(row) * (width + 1);
        for (std::size_t column = 0; column < width; ++column) {
            offsets[column] = static_cast<std::uint16_t>(offset);
            offset += counts[static_cast<std::size_t>(row) * width + column];
        }
        if (offset > kMaxRowEntries) {
            error = platform::formatString(
                "row %d holds %lld %s, more than %lld; use fewer layers or a smaller grid",
                region.row0 + row, static_cast<long long>(offset), what,
                static_cast<long long>(kMaxRowEntries));
            return false;
        }
        offsets[width] = static_cast<std::uint16_t>(offset);
        total += offset;
    }
    rowStart[region.rows] = static_cast<std::int32_t>(total);
    return true;
}

std::vector<std::uint32_t> layerCounts(const Region& region) {
    std::vector<std::uint32_t> counts;
    counts.reserve(static_cast<std::size_t>(region.rows) *
                   static_cast<std::size_t>(region.width()));
    for (std::int32_t row = 0; row < region.rows; ++row) {
        for (std::int32_t column = 0; column < region.width(); ++column) {
            counts.push_back(region.end(row, column) - region.first(row, column));
        }
    }
    return counts;
}

bool encodeCp(const Region& region, ldi::LdiRtCp& ldi, std::vector<std::uint32_t>& keys,
              std::string& error) {
    const LayeredImage& image = region.image;
    const std::int64_t count = region.sampleCount();
    const std::int32_t counts[1] = {clampInt32(count)};
    if (ldi.Create(image.width, region.rows, 1, counts) == 0) {
        error = "the CP LDI could not be created";
        return false;
    }
    const auto bins = cpDepthBins();
    const auto width = static_cast<std::size_t>(image.width);
    std::int64_t total = 0;
    for (std::int32_t row = 0; row < region.rows; ++row) {
        ldi.rowStart[row] = static_cast<std::int32_t>(total);
        std::uint8_t* layerCount = ldi.layerCount + static_cast<std::size_t>(row) * (width + 1);
        for (std::int32_t column = 0; column < image.width; ++column) {
            const std::uint32_t n = region.end(row, column) - region.first(row, column);
            layerCount[column] = static_cast<std::uint8_t>(n);
            total += n;
        }
        layerCount[width] = 0;
    }
    ldi.rowStart[region.rows] = static_cast<std::int32_t>(total);
    keys.resize(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const LayerSample& sample =
            image.samples[region.sampleBegin() + static_cast<std::size_t>(i)];
        const std::uint32_t word = cpPixelWord(
            sample.colour, zNdcOf(sample.depth, image.camera.near, image.camera.far), bins);
        ldi.pixels[i] = word;
        keys[static_cast<std::size_t>(i)] = word >> 24;
    }
    return true;
}

bool encodeQp(const Region& region, ldi::LdiRtQp& ldi, std::vector<std::uint32_t>& keys,
              std::string& error) {
    const LayeredImage& image = region.image;
    const std::int64_t count = region.sampleCount();
    const std::int32_t counts[1] = {clampInt32(count)};
    if (ldi.Create(image.width, region.rows, 1, counts) == 0) {
        error = "the QP LDI could not be created";
        return false;
    }
    if (!fillOffsets(region, layerCounts(region), ldi.rowStart, ldi.layerOffset, "depth pixels",
                     error)) {
        return false;
    }
    const auto bins = sizeClassBins(image.camera.near, image.camera.far);
    keys.resize(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const LayerSample& sample =
            image.samples[region.sampleBegin() + static_cast<std::size_t>(i)];
        const std::uint32_t word = depthWordOf(sample, image.camera.near, image.camera.far, bins);
        ldi.pixels[2 * i] = sample.colour;
        ldi.pixels[2 * i + 1] = word;
        keys[static_cast<std::size_t>(i)] = word & 0xFFFFFu;
    }
    return true;
}

bool encodeMrqp(const Region& region, ldi::LdiRtMrqp& ldi, std::vector<std::uint32_t>& keys,
                std::string& error) {
    const LayeredImage& image = region.image;
    const std::int64_t count = region.sampleCount();
    // Colours per pixel at the two finer levels.
    std::vector<std::uint32_t> counts4;
    std::vector<std::uint32_t> counts2;
    std::int64_t total4 = 0;
    std::int64_t total2 = 0;
    for (std::int32_t row = 0; row < region.rows; ++row) {
        for (std::int32_t column = 0; column < image.width; ++column) {
            std::uint32_t n4 = 0;
            std::uint32_t n2 = 0;
            for (std::uint32_t s = region.first(row, column); s < region.end(row, column); ++s) {
                n4 += static_cast<std::uint32_t>(std::popcount(image.samples[s].mask4));
                n2 += static_cast<std::uint32_t>(std::popcount(image.samples[s].mask2));
            }
            counts4.push_back(n4);
            counts2.push_back(n2);
            total4 += n4;
            total2 += n2;
        }
    }
    const std::int32_t mrqpCounts[4] = {clampInt32(count), clampInt32(total4), clampInt32(total2),
                                        clampInt32(count)};
    if (ldi.Create(image.width, region.rows, 4, mrqpCounts) == 0) {
        error = "the MRQP LDI could not be created";
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        ldi.header.setMrqpCount(i, mrqpCounts[i]);
    }
    if (!fillOffsets(region, layerCounts(region), ldi.rowStart[0], ldi.layerOffset[0],
                     "depth pixels", error) ||
        !fillOffsets(region, counts4, ldi.rowStart[1], ldi.layerOffset[1], "4x4 colours", error) ||
        !fillOffsets(region, counts2, ldi.rowStart[2], ldi.layerOffset[2], "2x2 colours", error)) {
        return false;
    }
    const auto bins = sizeClassBins(image.camera.near, image.camera.far);
    keys.resize(static_cast<std::size_t>(count));
    std::size_t at4 = 0;
    std::size_t at2 = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const LayerSample& sample =
            image.samples[region.sampleBegin() + static_cast<std::size_t>(i)];
        const std::uint32_t word = depthWordOf(sample, image.camera.near, image.camera.far, bins);
        ldi.pixels[2 * i] = word;
        ldi.pixels[2 * i + 1] =
            static_cast<std::uint32_t>(sample.mask4) | static_cast<std::uint32_t>(sample.mask2)
                                                           << ldi::LdiRtMrqp::kMask2x2Shift;
        ldi.fullColours[i] = sample.colour;
        const int n4 = std::popcount(sample.mask4);
        const int n2 = std::popcount(sample.mask2);
        for (int k = 0; k < n4; ++k) {
            ldi.colours4x4[at4++] =
                image.sub4Colours[sample.sub4Start + static_cast<std::size_t>(k)];
        }
        for (int k = 0; k < n2; ++k) {
            ldi.colours2x2[at2++] =
                image.sub2Colours[sample.sub2Start + static_cast<std::size_t>(k)];
        }
        keys[static_cast<std::size_t>(i)] = word & 0xFFFFFu;
    }
    return true;
}

}  // namespace

std::array<float, kCpBinCount + 1> cpDepthBins() {
    std::array<float, kCpBinCount + 1> bins{};
    for (int i = 0; i <= kCpBinCount; ++i) {
        bins[static_cast<std::size_t>(i)] = 2.0f * static_cast<float>(i) / kCpBinCount;
    }
    return bins;
}

std::array<float, kSizeClassCount + 1> sizeClassBins(float near, float far) {
    std::array<float, kSizeClassCount + 1> bins{};
    const double ratio = static_cast<double>(far) / static_cast<double>(near);
    for (int i = 0; i <= kSizeClassCount; ++i) {
        bins[static_cast<std::size_t>(i)] =
            static_cast<float>(near * std::pow(ratio, (i - 1.0) / (kSizeClassCount - 1)));
    }
    return bins;
}

int sizeClassOf(float depth, const std::array<float, kSizeClassCount + 1>& bins) {
    // Thresholds t[k] = middle of class k (k = 1..31) and +inf, for sizeClass.
    std::array<float, kSizeClassCount + 1> middles{};
    for (int k = 1; k < kSizeClassCount; ++k) {
        const auto i = static_cast<std::size_t>(k);
        middles[i] = (bins[i] + bins[i + 1]) * 0.5f;
    }
    middles[kSizeClassCount] = std::numeric_limits<float>::infinity();
    return geometry::sizeClass(depth, middles, kSizeClassCount);
}

std::uint32_t cpPixelWord(std::uint32_t colour, float zNdc,
                          const std::array<float, kCpBinCount + 1>& bins) {
    const int code = geometry::sizeClass(zNdc + 1.0f, bins, kCpBinCount);
    return (colour & 0xFFFFFFu) | static_cast<std::uint32_t>(code) << 24;
}

std::uint32_t depthWordOf(const LayerSample& sample, float near, float far,
                          const std::array<float, kSizeClassCount + 1>& bins) {
    const float zNdc = zNdcOf(sample.depth, near, far);
    return geometry::packDepthWord(geometry::depthCode(zNdc), sizeClassOf(sample.depth, bins),
                                   geometry::nearestNormal(sample.normal));
}

std::unique_ptr<ldi::LdiBase> encodeLdi(const LayeredImage& image, ldi::LdiType ldiType,
                                        PixelKind pixel, std::string& error,
                                        EncodeRegion encodeRegion) {
    const std::int64_t start = platform::steadyNanoseconds();
    const std::int32_t rows =
        encodeRegion.rows < 0 ? image.height - encodeRegion.row0 : encodeRegion.rows;
    if (encodeRegion.row0 < 0 || rows < 1 || encodeRegion.row0 + rows > image.height ||
        image.width < 1) {
        error = "the rows to encode lie outside the image";
        return nullptr;
    }
    const Region region{image, encodeRegion.row0, rows};
    // Every element count of a file is a 32-bit word (MRQP: up to 16 colours per depth pixel).
    const std::int64_t perSample = pixel == PixelKind::mrqp ? 16 : 1;
    if (region.sampleCount() > std::numeric_limits<std::int32_t>::max() / perSample) {
        error = platform::formatString("%lld depth pixels are more than one file can index",
                                       static_cast<long long>(region.sampleCount()));
        return nullptr;
    }
    const ldi::DptType dpt = pixel == PixelKind::cp   ? ldi::DptType::CP
                             : pixel == PixelKind::qp ? ldi::DptType::QP
                                                      : ldi::DptType::MRQP;
    std::unique_ptr<ldi::LdiBase> ldi = ldi::CreateLdi(ldi::toInt(ldiType), ldi::toInt(dpt));
    if (!ldi) {
        error = "no LDI class for this kind";
        return nullptr;
    }
    ldi->reportErrors = false;
    std::vector<std::uint32_t> keys;
    bool ok = false;
    switch (pixel) {
        case PixelKind::cp:
            ok = encodeCp(region, static_cast<ldi::LdiRtCp&>(*ldi), keys, error);
            break;
        case PixelKind::qp:
            ok = encodeQp(region, static_cast<ldi::LdiRtQp&>(*ldi), keys, error);
            break;
        case PixelKind::mrqp:
            ok = encodeMrqp(region, static_cast<ldi::LdiRtMrqp&>(*ldi), keys, error);
            break;
    }
    if (!ok) {
        return nullptr;
    }
    ldi->header.ldiType = ldi->KindLdiType();
    ldi->header.dptType = ldi->KindDptType();
    const double seconds =
        static_cast<double>(platform::steadyNanoseconds() - start) / platform::kCounterFrequency;
    fillHeader(region, ldi->header, pixel, keys, seconds);
    ldi->reportErrors = true;
    return ldi;
}

std::unique_ptr<ldi::LdiBase> encodeQuad(const LayeredImage& image, std::string& error) {
    if (image.height < 2) {
        error = "a quad needs a grid of at least 2 rows";
        return nullptr;
    }
    const std::int32_t lower = image.height / 2;
    std::unique_ptr<ldi::LdiBase> bottom =
        encodeLdi(image, ldi::LdiType::RT, PixelKind::qp, error, {0, lower});
    if (!bottom) {
        return nullptr;
    }
    std::unique_ptr<ldi::LdiBase> top =
        encodeLdi(image, ldi::LdiType::RT, PixelKind::qp, error, {lower, image.height - lower});
    if (!top) {
        return nullptr;
    }
    auto quad = std::make_unique<ldi::LdiRtQuad>();
    // Both halves were made as RT/QP objects by the factory.
    quad->setHalves(std::unique_ptr<ldi::LdiRtQp>(static_cast<ldi::LdiRtQp*>(top.release())),
                    std::unique_ptr<ldi::LdiRtQp>(static_cast<ldi::LdiRtQp*>(bottom.release())));
    // The two carried vectors: the bounding box of every sample of the whole grid.
    quad->firstVector = image.stats.sampleBounds.min;
    quad->secondVector = image.stats.sampleBounds.max;
    return quad;
}

}  // namespace strata::maker
