// Compact-pixel LDIs (CP): one 32-bit word per depth pixel, colour in bits 0-23 and an 8-bit
// depth code on top; per LDI pixel an 8-bit layer count. LdiRtCp keeps its arrays in memory it
// owns (stream layout); LdiRtffCp (ldi_rtff.h) points the same views into a block body.
#pragma once

#include <cstdint>
#include <vector>

#include "ldi/ldi_base.h"
#include "platform/default_init_allocator.h"

namespace strata::ldi {

class LdiRtCp : public LdiBase {
  public:
    LdiRtCp();
    ~LdiRtCp() override;

    void Release() override;
    int ReadPixels(LdiFileReader& file) override;
    int WritePixels(LdiFileWriter& file) override;
    LdiDrawStats Draw(const geometry::Matrix4& warpMatrix, const geometry::Matrix4& viewMatrix,
                      const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                      float* depthBuffer, IntRange xRange, IntRange yRange) override;
    int LayerCount(std::int32_t row, std::int32_t col) const override;
    // counts[0] = depth pixels; perPixel is not used.
    int Allocate(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                 std::span<const std::int32_t> counts) override;
    int AllocateFromHeader() override;
    // Reports the negated eye depths (distances in front of the reference camera) of the
    // pixel's layers: the code's bin middle (bins[code] + bins[code+1]) / 2 - 1 converted with
    // view.near and view.far. min and max are the smallest and largest distance.
    int DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const override;
    // The base values minus 1 (CP bins hold normalised depth + 1).
    void BuildBinValues() override;
    // binFactor[i] = eye depth of binValue[i] for i < min(binCount, 1024).
    void BuildBinFactors() override;

    std::int32_t KindLdiType() const override { return toInt(LdiType::RT); }
    std::int32_t KindDptType() const override { return toInt(DptType::CP); }
    std::string CheckHeader() const override;
    std::uint64_t StreamBodyBytes() const override;
    std::string CheckArrays() const override;
    // Normalised depth of each layer: binValue[code].
    int NormalisedDepthRange(std::int32_t row, std::int32_t col, float& min,
                             float& max) const override;
    std::int64_t DepthPixelCount() const override { return allocatedPixels_; }

    // Arrays (valid after Load or Create; owned here or views into a block body):
    std::uint32_t* pixels = nullptr;     // pixelCount words: colour | depthCode << 24
    std::int32_t* rowStart = nullptr;    // height + 1
    std::uint8_t* layerCount = nullptr;  // (width + 1) * height, width + 1 per row

    // Index of the first depth pixel of (row, col): rowStart[row] plus the counts before col.
    std::int64_t FirstLayer(std::int32_t row, std::int32_t col) const;

  protected:
    // rowStart and layerCount against the header grid and total depth pixels. Empty when sound,
    // else the problem.
    std::string CheckIndex(const std::int32_t* starts, const std::uint8_t* counts,
                           std::int64_t total) const;
    // Clears the array views and the sizes they were made for.
    void ClearViews();
    // Records the sizes the arrays were made for and marks them allocated.
    void MarkAllocated(std::int32_t width, std::int32_t height,
                       std::span<const std::int32_t> counts);

    platform::UninitVector<std::uint32_t> pixelStore_;
    platform::UninitVector<std::int32_t> rowStartStore_;
    platform::UninitVector<std::uint8_t> layerCountStore_;
    // Set by a load before it allocates: the index arrays it read and checked are to become the
    // LDI's own, so Allocate makes none (a second copy would double their memory at the load's
    // peak) and clears the flag to say so. An Allocate that keeps its own layout leaves it set.
    bool adoptIndex_ = false;
    std::int64_t allocatedPixels_ = 0;
    std::int32_t allocatedWidth_ = 0;
    std::int32_t allocatedHeight_ = 0;
};

}  // namespace strata::ldi
