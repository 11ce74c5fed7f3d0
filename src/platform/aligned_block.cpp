#include "platform/aligned_block.h"

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

}  // namespace strata::platform
