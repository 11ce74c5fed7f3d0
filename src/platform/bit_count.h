// Counting set bits with the processor's popcnt instruction where it has one, chosen at run time
// so one build serves every x86-64 processor; elsewhere (or without it) the library's count.
#pragma once

#include <bit>
#include <cstdint>

namespace strata::platform {

// Whether countBits uses the popcnt instruction: true when the processor has it.
extern const bool kHardwareBitCount;

inline int countBits(std::uint32_t x) {
#if defined(__x86_64__) && !defined(__POPCNT__)
    if (kHardwareBitCount) {
        std::uint32_t n = 0;
        asm("popcntl %1, %0" : "=r"(n) : "rm"(x) : "cc");
        return static_cast<int>(n);
    }
#endif
    return std::popcount(x);
}

}  // namespace strata::platform
