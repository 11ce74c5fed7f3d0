// The high-resolution counter: a steady clock in nanoseconds (frequency 1e9 counts per second).
#pragma once

#include <cstdint>

namespace strata::platform {

inline constexpr std::int64_t kCounterFrequency = 1'000'000'000;

// Nanoseconds of a monotonic clock; only differences are meaningful.
std::int64_t steadyNanoseconds();

}  // namespace strata::platform
