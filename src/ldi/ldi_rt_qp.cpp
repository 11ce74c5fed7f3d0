#include "ldi/ldi_rt_qp.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "geometry/depth.h"
#include "ldi/ldi_index_check.h"
#include "platform/debug_output.h"

namespace strata::ldi {

LdiRtQp::LdiRtQp() {
    header.ldiType = toInt(LdiType::RT);
    header.dptType = toInt(DptType::QP);
}

LdiRtQp::~LdiRtQp() = default;

void LdiRtQp::ClearViews() {
    pixels = nullptr;
    rowStart = nullptr;
    layerOffset = nullptr;
    allocatedPixels_ = 0;
    allocatedWidth_ = 0;
    allocatedHeight_ = 0;
}

void LdiRtQp::MarkAllocated(std::int32_t width, std::int32_t height,
                            std::span<const std::int32_t> counts) {
    surfaceSlopes.clear();  // built again from the new samples
    allocatedPixels_ = counts[0];
    allocatedWidth_ = width;
    allocatedHeight_ = height;
    arraysAllocated = 1;
}

void LdiRtQp::Release() {
    surfaceSlopes.clear();
    ClearViews();
    pixelStore_ = {};
    rowStartStore_ = {};
    layerOffsetStore_ = {};
    arraysAllocated = 0;
}

int LdiRtQp::Allocate(std::int32_t width, std::int32_t height, std::int32_t /*perPixel*/,
                      std::span<const std::int32_t> counts) {
    const std::string problem = CheckAllocation(width, height, counts, 1);
    if (!problem.empty()) {
        Release();
        return FailPlain("cannot allocate the QP arrays: " + problem);
    }
    try {
        // A load reads the pixels over the whole array at once: no zeros first.
        const bool loading = adoptIndex_;
        platform::sizeIndexArray(rowStartStore_, static_cast<std::size_t>(height) + 1, loading);
        platform::sizeIndexArray(layerOffsetStore_, static_cast<std::size_t>(width + 1) * height,
                                 loading);
        platform::sizeArray(pixelStore_, 2 * static_cast<std::size_t>(counts[0]), loading);
        adoptIndex_ = false;
    } catch (const std::bad_alloc&) {
        Release();
        return FailPlain("cannot allocate the QP arrays: out of memory");
    }
    rowStart = rowStartStore_.data();
    layerOffset = layerOffsetStore_.data();
    pixels = pixelStore_.data();
    MarkAllocated(width, height, counts);
    return 1;
}

int LdiRtQp::AllocateFromHeader() {
    const std::int32_t counts[1] = {header.pixelCount};
    return Allocate(header.width, header.height, 1, counts);
}

int LdiRtQp::ReadPixels(LdiFileReader& file) {
    // The index arrays are read and checked before the pixel arrays are allocated or read.
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    platform::UninitVector<std::int32_t> starts;
    platform::UninitVector<std::uint16_t> offsets;
    starts.resize(h + 1);
    offsets.resize((w + 1) * h);
    if (!file.read(starts.data(), 4 * (h + 1), "rowStart") ||
        !file.read(offsets.data(), 2 * (w + 1) * h, "layerOffset")) {
        return 0;
    }
    adoptIndex_ = true;
    const int allocated =
        AllocateAfterIndexCheck(file, CheckIndex(starts.data(), offsets.data(), header.pixelCount));
    const bool adopted = !adoptIndex_;
    adoptIndex_ = false;
    if (allocated == 0) {
        return 0;
    }
    platform::keepOrCopy(starts, rowStartStore_, rowStart, adopted);
    platform::keepOrCopy(offsets, layerOffsetStore_, layerOffset, adopted);
    return file.read(pixels, 8 * static_cast<std::uint64_t>(allocatedPixels_), "the pixels") ? 1
                                                                                             : 0;
}

int LdiRtQp::WritePixels(LdiFileWriter& file) {
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    if (!file.write(rowStart, 4 * (h + 1), "rowStart") ||
        !file.write(layerOffset, 2 * (w + 1) * h, "layerOffset") ||
        !file.write(pixels, 8 * static_cast<std::uint64_t>(allocatedPixels_), "the pixels")) {
        return 0;
    }
    return 1;
}

std::string LdiRtQp::CheckHeader() const {
    std::string problem = LdiBase::CheckHeader();
    if (problem.empty() && header.pixelCount < 0) {
        problem = platform::formatString("negative pixelCount %d", header.pixelCount);
    }
    return problem;
}

std::uint64_t LdiRtQp::StreamBodyBytes() const {
    if (!CheckHeader().empty()) {
        return 0;
    }
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    return 4 * (h + 1) + 2 * (w + 1) * h + 8 * static_cast<std::uint64_t>(header.pixelCount);
}

std::string LdiRtQp::CheckArrays() const {
    if (arraysAllocated == 0 || rowStart == nullptr) {
        return "no arrays";
    }
    if (allocatedWidth_ != header.width || allocatedHeight_ != header.height ||
        allocatedPixels_ != header.pixelCount) {
        return "the header size does not match the allocated arrays";
    }
    return CheckIndex(rowStart, layerOffset, allocatedPixels_);
}

std::string LdiRtQp::CheckIndex(const std::int32_t* starts, const std::uint16_t* offsets,
                                std::int64_t total) const {
    std::string problem = checkRowStart(starts, header.height, total, "rowStart");
    if (problem.empty()) {
        problem = checkLayerOffsets(offsets, starts, header.width, header.height, "layerOffset");
    }
    return problem;
}

int LdiRtQp::LayerCount(std::int32_t row, std::int32_t col) const {
    if (layerOffset == nullptr || row < 0 || row >= allocatedHeight_ || col < 0 ||
        col >= allocatedWidth_) {
        return 0;
    }
    const std::uint16_t* entry =
        layerOffset + static_cast<std::int64_t>(row) * (allocatedWidth_ + 1) + col;
    return entry[1] - entry[0];
}

int LdiRtQp::RowDepthRange(std::int32_t row, float& min, float& max) const {
    if (layerOffset == nullptr || rowStart == nullptr || row < 0 || row >= allocatedHeight_) {
        return 0;
    }
    const std::uint16_t* entry =
        layerOffset + static_cast<std::int64_t>(row) * (allocatedWidth_ + 1);
    const std::int64_t first = std::int64_t{rowStart[row]} + entry[0];
    const std::int64_t end = std::int64_t{rowStart[row]} + entry[allocatedWidth_];
    if (end <= first) {
        return 0;
    }
    std::uint32_t lo = 0xFFFFFu;
    std::uint32_t hi = 0;
    for (std::int64_t i = first; i < end; ++i) {
        const std::uint32_t code = pixels[2 * i + 1] & 0xFFFFFu;
        lo = std::min(lo, code);
        hi = std::max(hi, code);
    }
    min = geometry::decodeDepth(lo);
    max = geometry::decodeDepth(hi);
    return 1;
}

int LdiRtQp::DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const {
    const int layers = LayerCount(row, col);
    if (layers <= 0) {
        return 0;
    }
    const std::int64_t first =
        std::int64_t{rowStart[row]} +
        layerOffset[static_cast<std::int64_t>(row) * (allocatedWidth_ + 1) + col];
    min = 1.0f;
    max = -1.0f;
    for (int i = 0; i < layers; ++i) {
        const float z = geometry::decodeDepth(pixels[2 * (first + i) + 1] & 0xFFFFFu);
        min = std::min(min, z);
        max = std::max(max, z);
    }
    return 1;
}

}  // namespace strata::ldi
