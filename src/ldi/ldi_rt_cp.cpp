#include "ldi/ldi_rt_cp.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "geometry/depth.h"
#include "ldi/ldi_index_check.h"
#include "platform/debug_output.h"

namespace strata::ldi {

LdiRtCp::LdiRtCp() {
    header.ldiType = KindLdiType();
    header.dptType = KindDptType();
}

LdiRtCp::~LdiRtCp() = default;

void LdiRtCp::ClearViews() {
    pixels = nullptr;
    rowStart = nullptr;
    layerCount = nullptr;
    allocatedPixels_ = 0;
    allocatedWidth_ = 0;
    allocatedHeight_ = 0;
}

void LdiRtCp::MarkAllocated(std::int32_t width, std::int32_t height,
                            std::span<const std::int32_t> counts) {
    allocatedPixels_ = counts[0];
    allocatedWidth_ = width;
    allocatedHeight_ = height;
    arraysAllocated = 1;
}

void LdiRtCp::Release() {
    ClearViews();
    pixelStore_ = {};
    rowStartStore_ = {};
    layerCountStore_ = {};
    arraysAllocated = 0;
}

int LdiRtCp::Allocate(std::int32_t width, std::int32_t height, std::int32_t /*perPixel*/,
                      std::span<const std::int32_t> counts) {
    const std::string problem = CheckAllocation(width, height, counts, 1);
    if (!problem.empty()) {
        Release();
        return FailPlain("cannot allocate the CP arrays: " + problem);
    }
    try {
        // A load reads the pixels over the whole array at once: no zeros first.
        const bool loading = adoptIndex_;
        platform::sizeIndexArray(rowStartStore_, static_cast<std::size_t>(height) + 1, loading);
        platform::sizeIndexArray(layerCountStore_, static_cast<std::size_t>(width + 1) * height,
                                 loading);
        platform::sizeArray(pixelStore_, static_cast<std::size_t>(counts[0]), loading);
        adoptIndex_ = false;
    } catch (const std::bad_alloc&) {
        Release();
        return FailPlain("cannot allocate the CP arrays: out of memory");
    }
    rowStart = rowStartStore_.data();
    layerCount = layerCountStore_.data();
    pixels = pixelStore_.data();
    MarkAllocated(width, height, counts);
    return 1;
}

int LdiRtCp::AllocateFromHeader() {
    const std::int32_t counts[1] = {header.pixelCount};
    return Allocate(header.width, header.height, 1, counts);
}

int LdiRtCp::ReadPixels(LdiFileReader& file) {
    // The index arrays are read and checked before the pixel array is allocated or read.
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    platform::UninitVector<std::int32_t> starts;
    platform::UninitVector<std::uint8_t> counts;
    starts.resize(h + 1);
    counts.resize((w + 1) * h);
    if (!file.read(starts.data(), 4 * (h + 1), "rowStart") ||
        !file.read(counts.data(), (w + 1) * h, "layerCount")) {
        return 0;
    }
    adoptIndex_ = true;
    const int allocated =
        AllocateAfterIndexCheck(file, CheckIndex(starts.data(), counts.data(), header.pixelCount));
    const bool adopted = !adoptIndex_;
    adoptIndex_ = false;
    if (allocated == 0) {
        return 0;
    }
    platform::keepOrCopy(starts, rowStartStore_, rowStart, adopted);
    platform::keepOrCopy(counts, layerCountStore_, layerCount, adopted);
    return file.read(pixels, 4 * static_cast<std::uint64_t>(allocatedPixels_), "the pixels") ? 1
                                                                                             : 0;
}

int LdiRtCp::WritePixels(LdiFileWriter& file) {
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    if (!file.write(rowStart, 4 * (h + 1), "rowStart") ||
        !file.write(layerCount, (w + 1) * h, "layerCount") ||
        !file.write(pixels, 4 * static_cast<std::uint64_t>(allocatedPixels_), "the pixels")) {
        return 0;
    }
    return 1;
}

std::string LdiRtCp::CheckHeader() const {
    std::string problem = LdiBase::CheckHeader();
    if (problem.empty() && header.pixelCount < 0) {
        problem = platform::formatString("negative pixelCount %d", header.pixelCount);
    }
    return problem;
}

std::uint64_t LdiRtCp::StreamBodyBytes() const {
    if (!CheckHeader().empty()) {
        return 0;
    }
    const std::uint64_t w = static_cast<std::uint64_t>(header.width);
    const std::uint64_t h = static_cast<std::uint64_t>(header.height);
    return 4 * (h + 1) + (w + 1) * h + 4 * static_cast<std::uint64_t>(header.pixelCount);
}

std::string LdiRtCp::CheckArrays() const {
    if (arraysAllocated == 0 || rowStart == nullptr) {
        return "no arrays";
    }
    if (allocatedWidth_ != header.width || allocatedHeight_ != header.height ||
        allocatedPixels_ != header.pixelCount) {
        return "the header size does not match the allocated arrays";
    }
    return CheckIndex(rowStart, layerCount, allocatedPixels_);
}

std::string LdiRtCp::CheckIndex(const std::int32_t* starts, const std::uint8_t* counts,
                                std::int64_t total) const {
    std::string problem = checkRowStart(starts, header.height, total, "rowStart");
    if (problem.empty()) {
        problem = checkLayerCounts(counts, starts, header.width, header.height);
    }
    return problem;
}

std::int64_t LdiRtCp::FirstLayer(std::int32_t row, std::int32_t col) const {
    const std::uint8_t* counts = layerCount + static_cast<std::int64_t>(row) * (header.width + 1);
    std::int64_t index = rowStart[row];
    for (std::int32_t c = 0; c < col; ++c) {
        index += counts[c];
    }
    return index;
}

int LdiRtCp::LayerCount(std::int32_t row, std::int32_t col) const {
    if (layerCount == nullptr || row < 0 || row >= allocatedHeight_ || col < 0 ||
        col >= allocatedWidth_) {
        return 0;
    }
    return layerCount[static_cast<std::int64_t>(row) * (allocatedWidth_ + 1) + col];
}

int LdiRtCp::DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const {
    const int layers = LayerCount(row, col);
    if (layers == 0) {
        return 0;
    }
    const std::int64_t first = FirstLayer(row, col);
    for (int i = 0; i < layers; ++i) {
        const std::size_t code = pixels[first + i] >> 24;
        const float ndc = (header.bins[code] + header.bins[code + 1]) / 2.0f - 1.0f;
        const float distance = -geometry::perspectiveEye(ndc, header.view.near, header.view.far);
        min = i == 0 ? distance : std::min(min, distance);
        max = i == 0 ? distance : std::max(max, distance);
    }
    return 1;
}

int LdiRtCp::NormalisedDepthRange(std::int32_t row, std::int32_t col, float& min,
                                  float& max) const {
    const int layers = LayerCount(row, col);
    if (layers == 0) {
        return 0;
    }
    const std::int64_t first = FirstLayer(row, col);
    for (int i = 0; i < layers; ++i) {
        const float ndc = binValue[pixels[first + i] >> 24];
        min = i == 0 ? ndc : std::min(min, ndc);
        max = i == 0 ? ndc : std::max(max, ndc);
    }
    return 1;
}

void LdiRtCp::BuildBinValues() {
    LdiBase::BuildBinValues();
    const std::int32_t count = std::clamp<std::int32_t>(header.binCount, 0, kTableSize);
    for (std::int32_t i = 0; i < count; ++i) {
        binValue[static_cast<std::size_t>(i)] -= 1.0f;
    }
}

void LdiRtCp::BuildBinFactors() {
    binFactor.fill(0.0f);
    const std::int32_t count = std::clamp<std::int32_t>(header.binCount, 0, kTableSize);
    for (std::int32_t i = 0; i < count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        binFactor[k] = geometry::perspectiveEye(binValue[k], header.view.near, header.view.far);
    }
}

}  // namespace strata::ldi
