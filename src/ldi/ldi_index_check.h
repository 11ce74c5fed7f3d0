// Consistency checks of the layer index arrays read from a file. Every drawing loop indexes the
// pixel arrays through rowStart and the per-pixel counts or offsets, so these checks are what
// make an untrusted file safe to draw. Each returns "" when sound, else the problem.
#pragma once

#include <cstdint>
#include <string>

namespace strata::ldi {

// rowStart has height + 1 entries: starts at 0, never decreases, and ends exactly at total.
std::string checkRowStart(const std::int32_t* rowStart, std::int32_t height, std::int64_t total,
                          const char* name);

// layerCount has width + 1 entries per row: the first width of row r sum to the row's span
// rowStart[r+1] - rowStart[r] (the spare last entry is not read).
std::string checkLayerCounts(const std::uint8_t* layerCount, const std::int32_t* rowStart,
                             std::int32_t width, std::int32_t height);

// layerOffset has width + 1 entries per row: entry 0 is 0, never decreasing, the last entry
// equals the row's span. rowStart must already have passed checkRowStart.
std::string checkLayerOffsets(const std::uint16_t* layerOffset, const std::int32_t* rowStart,
                              std::int32_t width, std::int32_t height, const char* name);

}  // namespace strata::ldi
