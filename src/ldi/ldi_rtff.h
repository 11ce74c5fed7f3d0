// The RTFF kinds: the same encodings as the stream classes, stored in the block layout of
// ldi_rtff_layout.h. The object owns one 65536-byte header block and one body block (both
// 65536-byte aligned, page-granular, zero-filled); every array is a view into the body block and
// is never freed on its own. Loading streams the file with unbuffered reads.
#pragma once

#include <functional>
#include <string>

#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rtff_layout.h"
#include "platform/aligned_block.h"

namespace strata::ldi {

// The two blocks of an RTFF object and the layout they were sized for.
struct RtffBlocks {
    platform::AlignedBlock headerBlock;
    platform::AlignedBlock body;
    RtffLayout layout;

    void reset() {
        headerBlock.reset();
        body.reset();
        layout = RtffLayout{};
    }
};

// Unbuffered block load and block save shared by the three RTFF classes. load returns 1 or 0
// (the object left empty, one line printed); save returns 1 or 0 (target untouched on failure).
struct RtffIo {
    // Checks the index arrays of part A (given its first byte) against the loaded header; empty
    // when sound, else the problem.
    using IndexCheck = std::function<std::string(const std::uint8_t* partA)>;
    // Part A (the index arrays) is read and checked before the body is allocated and part B
    // (the pixel arrays) is read.
    static int load(LdiBase& ldi, RtffBlocks& blocks, const std::string& path,
                    const IndexCheck& checkIndex);
    static int save(LdiBase& ldi, const RtffBlocks& blocks, const std::string& path);
    // Sizes both blocks for the grid and counts of dptType; false (problem set) on failure.
    static bool allocate(RtffBlocks& blocks, std::int32_t dptType, std::int32_t width,
                         std::int32_t height, std::span<const std::int32_t> counts,
                         std::string& problem);
};

class LdiRtffCp : public LdiRtCp {
  public:
    LdiRtffCp();
    ~LdiRtffCp() override;
    void Release() override;
    int Load(const std::string& path) override;
    int Save(const std::string& path) override;
    // Sizes the header block and the body block and points the views into the body.
    int Allocate(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                 std::span<const std::int32_t> counts) override;
    std::int32_t KindLdiType() const override { return toInt(LdiType::RTFF); }
    const RtffBlocks& blocks() const { return blocks_; }

  private:
    RtffBlocks blocks_;
};

class LdiRtffQp : public LdiRtQp {
  public:
    LdiRtffQp();
    ~LdiRtffQp() override;
    void Release() override;
    int Load(const std::string& path) override;
    int Save(const std::string& path) override;
    int Allocate(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                 std::span<const std::int32_t> counts) override;
    std::int32_t KindLdiType() const override { return toInt(LdiType::RTFF); }
    const RtffBlocks& blocks() const { return blocks_; }

  private:
    RtffBlocks blocks_;
};

class LdiRtffMrqp : public LdiRtMrqp {
  public:
    LdiRtffMrqp();
    ~LdiRtffMrqp() override;
    void Release() override;
    int Load(const std::string& path) override;
    int Save(const std::string& path) override;
    int Allocate(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                 std::span<const std::int32_t> counts) override;
    std::int32_t KindLdiType() const override { return toInt(LdiType::RTFF); }
    // Also refuses grids with odd height * (width + 1).
    std::string CheckHeader() const override;
    const RtffBlocks& blocks() const { return blocks_; }

  private:
    RtffBlocks blocks_;
};

}  // namespace strata::ldi
