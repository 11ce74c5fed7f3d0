#include "platform/aligned_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace strata::platform {

AlignedBlock::~AlignedBlock() {
    reset();
}

AlignedBlock::AlignedBlock(AlignedBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

AlignedBlock& AlignedBlock::operator=(AlignedBlock&& other) noexcept {
    if (this != &other) {
        reset();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool AlignedBlock::allocate(std::uint64_t bytes) {
    reset();
    if (bytes == 0) {
        return true;
    }
    // Keep far from the top of the address range so the rounding cannot wrap.
    if (bytes > (std::uint64_t{1} << 48)) {
        return false;
    }
    const std::uint64_t rounded = roundUp(bytes);
    void* memory = nullptr;
    if (::posix_memalign(&memory, kBlockSize, static_cast<std::size_t>(rounded)) != 0) {
        return false;
    }
    adviseHugePages(memory, static_cast<std::size_t>(rounded));
    std::memset(memory, 0, static_cast<std::size_t>(rounded));
    data_ = static_cast<std::uint8_t*>(memory);
    size_ = static_cast<std::size_t>(rounded);
    return true;
}

void AlignedBlock::reset() {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
}

void adviseHugePages(void* data, std::size_t bytes) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    if (data == nullptr || bytes < 4 * kHugePage) {
        return;
    }
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (begin + bytes) & ~(kHugePage - 1);
#ifdef MADV_HUGEPAGE
    if (end > first) {
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
#endif
}

}  // namespace strata::platform
