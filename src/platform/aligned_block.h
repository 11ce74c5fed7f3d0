// Page-granular memory blocks for the block-layout LDI files: every block starts on a 65536-byte
// boundary, its size is rounded up to whole 65536-byte blocks, and it arrives zero-filled (as the
// page allocator of the block-layout readers always delivered it). Direct I/O needs exactly this
// alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace strata::platform {

class AlignedBlock {
  public:
    static constexpr std::size_t kBlockSize = 65536;

    AlignedBlock() = default;
    ~AlignedBlock();
    AlignedBlock(AlignedBlock&& other) noexcept;
    AlignedBlock& operator=(AlignedBlock&& other) noexcept;
    AlignedBlock(const AlignedBlock&) = delete;
    AlignedBlock& operator=(const AlignedBlock&) = delete;

    // Replaces the block by a zero-filled one of bytes rounded up to whole 65536-byte blocks
    // (0 bytes gives an empty block). Returns false, leaving the block empty, when the size
    // does not fit in memory or the allocation fails.
    bool allocate(std::uint64_t bytes);
    // Frees the block.
    void reset();

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // bytes rounded up to a whole number of 65536-byte blocks (no overflow for bytes < 2^63).
    static std::uint64_t roundUp(std::uint64_t bytes) {
        return (bytes + kBlockSize - 1) / kBlockSize * kBlockSize;
    }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Asks the kernel to back the whole 2 MB pages of a large array (8 MB or more) with huge pages
// where it offers them on request: an array of hundreds of megabytes read from a file then
// takes a page fault every 2 MB instead of every 4 kB, and its reads miss the TLB far less.
// Only a hint: nothing changes where the kernel declines.
void adviseHugePages(void* data, std::size_t bytes);

}  // namespace strata::platform
