// Multi-resolution quantised-pixel LDIs (MRQP): per depth pixel a depth word and a coverage word
// (a 4x4 and a 2x2 sub-cell mask), with colours in separate arrays: one full colour per depth
// pixel, and one colour per set mask bit at 4x4 and 2x2 resolution. Three (rowStart,
// layerOffset) index pairs: level 0 for depth pixels, 1 for 4x4 colours, 2 for 2x2 colours.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ldi/ldi_base.h"
#include "platform/default_init_allocator.h"

namespace strata::ldi {

class LdiRtMrqp : public LdiBase {
  public:
    LdiRtMrqp();
    ~LdiRtMrqp() override;

    void Release() override;
    int ReadPixels(LdiFileReader& file) override;
    int WritePixels(LdiFileWriter& file) override;
    LdiDrawStats Draw(const geometry::Matrix4& warpMatrix, const geometry::Matrix4& viewMatrix,
                      const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                      float* depthBuffer, IntRange xRange, IntRange yRange) override;
    int LayerCount(std::int32_t row, std::int32_t col) const override;
    // counts = the four mrqpCounts (depth pixels, 4x4 colours, 2x2 colours, full colours);
    // perPixel is 4.
    int Allocate(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                 std::span<const std::int32_t> counts) override;
    int AllocateFromHeader() override;
    // Normalised depths decoded from word 0 of each layer.
    int DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const override;

    std::int32_t KindLdiType() const override { return toInt(LdiType::RT); }
    std::int32_t KindDptType() const override { return toInt(DptType::MRQP); }
    std::string CheckHeader() const override;
    std::uint64_t StreamBodyBytes() const override;
    std::string CheckArrays() const override;
    std::int64_t DepthPixelCount() const override { return allocatedCounts_[0]; }

    // Arrays (valid after Load or Create; owned here or views into a block body):
    std::uint32_t* pixels = nullptr;              // 2 words per depth pixel: depth word, coverage
    std::uint32_t* colours4x4 = nullptr;          // mrqpCounts[1]
    std::uint32_t* colours2x2 = nullptr;          // mrqpCounts[2]
    std::uint32_t* fullColours = nullptr;         // mrqpCounts[3] (= mrqpCounts[0])
    std::array<std::int32_t*, 3> rowStart{};      // height + 1 each
    std::array<std::uint16_t*, 3> layerOffset{};  // (width + 1) * height each

    static constexpr std::uint32_t kMask4x4 = 0xFFFFu;
    static constexpr std::uint32_t kMask2x2Shift = 16;

  protected:
    // The three rowStart / layerOffset pairs against the grid and the element counts of the
    // first three levels. Empty when sound, else the problem.
    std::string CheckIndexLevels(const std::array<const std::int32_t*, 3>& starts,
                                 const std::array<const std::uint16_t*, 3>& offsets,
                                 const std::array<std::int64_t, 3>& counts) const;

    void ClearViews();
    // Records the sizes the arrays were made for and marks them allocated.
    void MarkAllocated(std::int32_t width, std::int32_t height,
                       std::span<const std::int32_t> counts);

    platform::UninitVector<std::uint32_t> pixelStore_;
    platform::UninitVector<std::uint32_t> colours4x4Store_;
    platform::UninitVector<std::uint32_t> colours2x2Store_;
    platform::UninitVector<std::uint32_t> fullColoursStore_;
    std::array<platform::UninitVector<std::int32_t>, 3> rowStartStore_;
    std::array<platform::UninitVector<std::uint16_t>, 3> layerOffsetStore_;
    // Set by a load before it allocates: the index arrays it read and checked are to become the
    // LDI's own, so Allocate makes none (a second copy would double their memory at the load's
    // peak) and clears the flag to say so. An Allocate that keeps its own layout leaves it set.
    bool adoptIndex_ = false;
    std::array<std::int64_t, 4> allocatedCounts_{};
    std::int32_t allocatedWidth_ = 0;
    std::int32_t allocatedHeight_ = 0;
};

}  // namespace strata::ldi
