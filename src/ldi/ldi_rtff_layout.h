// The block layout of the RTFF kinds: a 65536-byte header block, then the body in two parts,
// each rounded up to whole 65536-byte blocks so that both start on a block boundary and the whole
// file streams with unbuffered reads. Part A holds the index arrays, part B the pixel arrays.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace strata::ldi {

struct RtffLayout {
    static constexpr std::uint64_t kBlock = 65536;

    std::uint64_t partA = 0;  // bytes of part A before rounding
    std::uint64_t partB = 0;  // bytes of part B before rounding
    std::uint64_t blocksA = 0;
    std::uint64_t blocksB = 0;

    std::uint64_t bodyBytes() const { return (blocksA + blocksB) * kBlock; }
    std::uint64_t fileBytes() const { return kBlock + bodyBytes(); }
    std::uint64_t partBOffset() const { return blocksA * kBlock; }  // from the body start
};

// Computes the layout for a dptType (CP 3, QP 2, MRQP 6), grid width x height and element
// counts (CP/QP: counts[0] depth pixels; MRQP: the four mrqpCounts), all in 64 bits. False
// (problem set) for another dptType, negative sizes, or an MRQP grid with odd
// height * (width + 1), whose 16-bit offset arrays have no whole-word layout.
bool computeRtffLayout(std::int32_t dptType, std::int64_t width, std::int64_t height,
                       const std::array<std::int64_t, 4>& counts, RtffLayout& layout,
                       std::string& problem);

}  // namespace strata::ldi
