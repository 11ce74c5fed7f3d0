#include "ldi/ldi_rt_mrqp.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <new>

#include "geometry/depth.h"
#include "ldi/ldi_index_check.h"
#include "platform/bit_count.h"
#include "platform/debug_output.h"

namespace strata::ldi {

namespace {
const char* const kRowStartNames[3] = {"rowStart0", "rowStart1", "rowStart2"};
const char* const kLayerOffsetNames[3] = {"layerOffset0", "layerOffset1", "layerOffset2"};
}  // namespace

LdiRtMrqp::LdiRtMrqp() {
    header.ldiType = toInt(LdiType::RT);
    header.dptType = toInt(DptType::MRQP);
}

LdiRtMrqp::~LdiRtMrqp() = default;

void LdiRtMrqp::ClearViews() {
    pixels = nullptr;
    colours4x4 = nullptr;
    colours2x2 = nullptr;
    fullColours = nullptr;
    rowStart = {};
    layerOffset = {};
    allocatedCounts_ = {};
    allocatedWidth_ = 0;
    allocatedHeight_ = 0;
}

void LdiRtMrqp::MarkAllocated(std::int32_t width, std::int32_t height,
                              std::span<const std::int32_t> counts) {
    surfaceSlopes.clear();  // built again from the new samples
    for (int k = 0; k < 4; ++k) {
        allocatedCounts_[k] = counts[k];
    }
    allocatedWidth_ = width;
    allocatedHeight_ = height;
    arraysAllocated = 1;
}

void LdiRtMrqp::Release() {
    surfaceSlopes.clear();
    ClearViews();
    pixelStore_ = {};
    colours4x4Store_ = {};
    colours2x2Store_ = {};
    fullColoursStore_ = {};
    rowStartStore_ = {};
    layerOffsetStore_ = {};
    arraysAllocated = 0;
}

int LdiRtMrqp::Allocate(std::int32_t width, std::int32_t height, std::int32_t /*perPixel*/,
                        std::span<const std::int32_t> counts) {
    const std::string problem = CheckAllocation(width, height, counts, 4);
    if (!problem.empty()) {
        Release();
        return FailPlain("cannot allocate the MRQP arrays: " + problem);
    }
    try {
        // A load reads the pixel and colour arrays whole at once: no zeros first.
        const bool loading = adoptIndex_;
        for (int k = 0; k < 3; ++k) {
            platform::sizeIndexArray(rowStartStore_[k], static_cast<std::size_t>(height) + 1,
                                     loading);
            platform::sizeIndexArray(layerOffsetStore_[k],
                                     static_cast<std::size_t>(width + 1) * height, loading);
        }
        platform::sizeArray(pixelStore_, 2 * static_cast<std::size_t>(counts[0]), loading);
        platform::sizeArray(colours4x4Store_, static_cast<std::size_t>(counts[1]), loading);
        platform::sizeArray(colours2x2Store_, static_cast<std::size_t>(counts[2]), loading);
        platform::sizeArray(fullColoursStore_, static_cast<std::size_t>(counts[3]), loading);
        adoptIndex_ = false;
    } catch (const std::bad_alloc&) {
        Release();
        return FailPlain("cannot allocate the MRQP arrays: out of memory");
    }
    for (int k = 0; k < 3; ++k) {
        rowStart[k] = rowStartStore_[k].data();
        layerOffset[k] = layerOffsetStore_[k].data();
    }
    pixels = pixelStore_.data();
    colours4x4 = colours4x4Store_.data();
    colours2x2 = colours2x2Store_.data();
    fullColours = fullColoursStore_.data();
    MarkAllocated(width, height, counts);
    return 1;
}

int LdiRtMrqp::AllocateFromHeader() {
    const auto counts = header.mrqpCounts();
    return Allocate(header.width, header.height, 4,
                    std::span<const std::int32_t>(counts.data(), counts.size()));
}

int LdiRtMrqp::ReadPixels(LdiFileReader& file) {
    // The three index levels are read and checked before the pixel and colour arrays are
    // allocated or read.
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    std::array<platform::UninitVector<std::int32_t>, 3> starts;
    std::array<platform::UninitVector<std::uint16_t>, 3> offsets;
    for (std::size_t k = 0; k < 3; ++k) {
        starts[k].resize(h + 1);
        offsets[k].resize((w + 1) * h);
        if (!file.read(starts[k].data(), 4 * (h + 1), kRowStartNames[k]) ||
            !file.read(offsets[k].data(), 2 * (w + 1) * h, kLayerOffsetNames[k])) {
            return 0;
        }
    }
    const std::string problem =
        CheckIndexLevels({starts[0].data(), starts[1].data(), starts[2].data()},
                         {offsets[0].data(), offsets[1].data(), offsets[2].data()},
                         {header.mrqpCount(0), header.mrqpCount(1), header.mrqpCount(2)});
    adoptIndex_ = true;
    const int allocated = AllocateAfterIndexCheck(file, problem);
    const bool adopted = !adoptIndex_;
    adoptIndex_ = false;
    if (allocated == 0) {
        return 0;
    }
    for (std::size_t k = 0; k < 3; ++k) {
        platform::keepOrCopy(starts[k], rowStartStore_[k], rowStart[k], adopted);
        platform::keepOrCopy(offsets[k], layerOffsetStore_[k], layerOffset[k], adopted);
    }
    const auto n = [this](int k) { return static_cast<std::uint64_t>(allocatedCounts_[k]); };
    if (!file.read(pixels, 8 * n(0), "the pixels") ||
        !file.read(colours4x4, 4 * n(1), "the 4x4 colours") ||
        !file.read(colours2x2, 4 * n(2), "the 2x2 colours") ||
        !file.read(fullColours, 4 * n(3), "the full colours")) {
        return 0;
    }
    return 1;
}

int LdiRtMrqp::WritePixels(LdiFileWriter& file) {
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    for (int k = 0; k < 3; ++k) {
        if (!file.write(rowStart[k], 4 * (h + 1), kRowStartNames[k]) ||
            !file.write(layerOffset[k], 2 * (w + 1) * h, kLayerOffsetNames[k])) {
            return 0;
        }
    }
    const auto n = [this](int k) { return static_cast<std::uint64_t>(allocatedCounts_[k]); };
    if (!file.write(pixels, 8 * n(0), "the pixels") ||
        !file.write(colours4x4, 4 * n(1), "the 4x4 colours") ||
        !file.write(colours2x2, 4 * n(2), "the 2x2 colours") ||
        !file.write(fullColours, 4 * n(3), "the full colours")) {
        return 0;
    }
    return 1;
}

std::string LdiRtMrqp::CheckHeader() const {
    std::string problem = LdiBase::CheckHeader();
    if (!problem.empty()) {
        return problem;
    }
    const auto counts = header.mrqpCounts();
    for (int k = 0; k < 4; ++k) {
        if (counts[k] < 0) {
            return platform::formatString("negative mrqpCounts[%d] %d", k, counts[k]);
        }
    }
    if (counts[3] != counts[0]) {
        return platform::formatString("mrqpCounts give %d full colours for %d depth pixels",
                                      counts[3], counts[0]);
    }
    return {};
}

std::uint64_t LdiRtMrqp::StreamBodyBytes() const {
    if (!CheckHeader().empty()) {
        return 0;
    }
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    const auto c = [this](int k) { return static_cast<std::uint64_t>(header.mrqpCount(k)); };
    return 3 * (4 * (h + 1) + 2 * (w + 1) * h) + 8 * c(0) + 4 * (c(1) + c(2) + c(3));
}

std::string LdiRtMrqp::CheckIndexLevels(const std::array<const std::int32_t*, 3>& starts,
                                        const std::array<const std::uint16_t*, 3>& offsets,
                                        const std::array<std::int64_t, 3>& counts) const {
    for (std::size_t k = 0; k < 3; ++k) {
        std::string problem = checkRowStart(starts[k], header.height, counts[k], kRowStartNames[k]);
        if (problem.empty()) {
            problem = checkLayerOffsets(offsets[k], starts[k], header.width, header.height,
                                        kLayerOffsetNames[k]);
        }
        if (!problem.empty()) {
            return problem;
        }
    }
    return {};
}

std::string LdiRtMrqp::CheckArrays() const {
    if (arraysAllocated == 0 || rowStart[0] == nullptr) {
        return "no arrays";
    }
    if (allocatedWidth_ != header.width || allocatedHeight_ != header.height) {
        return "the header size does not match the allocated arrays";
    }
    for (int k = 0; k < 4; ++k) {
        if (allocatedCounts_[k] != header.mrqpCount(k)) {
            return "the header counts do not match the allocated arrays";
        }
    }
    const std::int32_t w = header.width;
    const std::int32_t h = header.height;
    const std::string problem = CheckIndexLevels(
        {rowStart[0], rowStart[1], rowStart[2]}, {layerOffset[0], layerOffset[1], layerOffset[2]},
        {allocatedCounts_[0], allocatedCounts_[1], allocatedCounts_[2]});
    if (!problem.empty()) {
        return problem;
    }
    // Every depth pixel's masks must account for exactly the colours its pixel indexes.
    const std::int64_t stride = std::int64_t{w} + 1;
    for (std::int32_t r = 0; r < h; ++r) {
        const std::uint16_t* lo0 = layerOffset[0] + r * stride;
        const std::uint16_t* lo1 = layerOffset[1] + r * stride;
        const std::uint16_t* lo2 = layerOffset[2] + r * stride;
        for (std::int32_t c = 0; c < w; ++c) {
            std::int64_t bits4 = 0;
            std::int64_t bits2 = 0;
            for (std::int64_t i = std::int64_t{rowStart[0][r]} + lo0[c];
                 i < std::int64_t{rowStart[0][r]} + lo0[c + 1]; ++i) {
                const std::uint32_t coverage = pixels[2 * i + 1];
                bits4 += platform::countBits(coverage & kMask4x4);
                bits2 += platform::countBits((coverage >> kMask2x2Shift) & 0xFu);
            }
            if (bits4 != lo1[c + 1] - lo1[c] || bits2 != lo2[c + 1] - lo2[c]) {
                return platform::formatString(
                    "coverage masks of pixel (row %d, column %d) set %" PRId64 " 4x4 and %" PRId64
                    " 2x2 bits but the offsets give %d and %d colours",
                    r, c, bits4, bits2, lo1[c + 1] - lo1[c], lo2[c + 1] - lo2[c]);
            }
        }
    }
    return {};
}

int LdiRtMrqp::LayerCount(std::int32_t row, std::int32_t col) const {
    if (layerOffset[0] == nullptr || row < 0 || row >= allocatedHeight_ || col < 0 ||
        col >= allocatedWidth_) {
        return 0;
    }
    const std::uint16_t* entry =
        layerOffset[0] + static_cast<std::int64_t>(row) * (allocatedWidth_ + 1) + col;
    return entry[1] - entry[0];
}

int LdiRtMrqp::DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const {
    const int layers = LayerCount(row, col);
    if (layers <= 0) {
        return 0;
    }
    const std::int64_t first =
        std::int64_t{rowStart[0][row]} +
        layerOffset[0][static_cast<std::int64_t>(row) * (allocatedWidth_ + 1) + col];
    min = 1.0f;
    max = -1.0f;
    for (int i = 0; i < layers; ++i) {
        const float z = geometry::decodeDepth(pixels[2 * (first + i)] & 0xFFFFFu);
        min = std::min(min, z);
        max = std::max(max, z);
    }
    return 1;
}

}  // namespace strata::ldi
