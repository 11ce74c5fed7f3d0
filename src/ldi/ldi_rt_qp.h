// Quantised-pixel LDIs (QP): two 32-bit words per depth pixel (colour, then the packed depth
// word with depth code, splat class and normal index); per row a running sum of layers
// (layerOffset, 16 bits read as unsigned). LdiRtQp owns its arrays (stream layout).
#pragma once

#include <cstdint>
#include <vector>

#include "ldi/ldi_base.h"
#include "platform/default_init_allocator.h"

namespace strata::ldi {

class LdiRtQp : public LdiBase {
  public:
    LdiRtQp();
    ~LdiRtQp() override;

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
    // Normalised depths decoded from word 1 of each layer.
    int DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const override;
    // A row's samples lie side by side: one pass over their depth codes (decoding keeps their
    // order, so the smallest and largest code decode to the range).
    int RowDepthRange(std::int32_t row, float& min, float& max) const override;

    std::int32_t KindLdiType() const override { return toInt(LdiType::RT); }
    std::int32_t KindDptType() const override { return toInt(DptType::QP); }
    std::string CheckHeader() const override;
    std::uint64_t StreamBodyBytes() const override;
    std::string CheckArrays() const override;
    std::int64_t DepthPixelCount() const override { return allocatedPixels_; }

    // Arrays (valid after Load or Create; owned here or views into a block body):
    std::uint32_t* pixels = nullptr;       // 2 words per depth pixel: colour, depth word
    std::int32_t* rowStart = nullptr;      // height + 1
    std::uint16_t* layerOffset = nullptr;  // (width + 1) * height running sums per row

  protected:
    // rowStart and layerOffset against the header grid and total depth pixels. Empty when
    // sound, else the problem.
    std::string CheckIndex(const std::int32_t* starts, const std::uint16_t* offsets,
                           std::int64_t total) const;
    void ClearViews();
    // Records the sizes the arrays were made for and marks them allocated.
    void MarkAllocated(std::int32_t width, std::int32_t height,
                       std::span<const std::int32_t> counts);

    platform::UninitVector<std::uint32_t> pixelStore_;
    platform::UninitVector<std::int32_t> rowStartStore_;
    platform::UninitVector<std::uint16_t> layerOffsetStore_;
    // Set by a load before it allocates: the index arrays it read and checked are to become the
    // LDI's own, so Allocate makes none (a second copy would double their memory at the load's
    // peak) and clears the flag to say so. An Allocate that keeps its own layout leaves it set.
    bool adoptIndex_ = false;
    std::int64_t allocatedPixels_ = 0;
    std::int32_t allocatedWidth_ = 0;
    std::int32_t allocatedHeight_ = 0;
};

}  // namespace strata::ldi
